// The module: its instance handle, live-object count and the guard that every
// call doing work on behalf of the shell runs under.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "win32.h"

// {7D3B2E91-4C6A-4F1E-9A27-5B8C0D4E6F13}
extern const CLSID CLSID_QuillShellContextMenu;

// The one class this DLL serves: the context-menu handler in quillshell.dll
// (classic_server.cpp), the Windows 11 command in quillshell-modern.dll
// (modern_server.cpp).
struct ServerClass {
    const CLSID& clsid;
    HRESULT (*create)(REFIID riid, void** ppv);  // a new object, asked for riid
    // IClassFactory::LockServer, or null for E_NOTIMPL: a surrogate that hosts
    // the Windows 11 command may lock its DLL; the classic DLL's lifetime
    // follows its objects alone.
    HRESULT (*lockServer)(BOOL fLock);
    // How TarnwickUnzip.exe is started (program_start.h): the command, which
    // runs in the COM Surrogate with our package's identity, starts it outside
    // the package; the classic handler runs in Explorer and starts it with the
    // shell.
    UINT_PTR (*startProgram)(HWND owner, const std::wstring& program, const std::wstring& parameters, bool noUI);
};
extern const ServerClass g_serverClass;

// Every live class factory and handler. Explorer runs each window in its own
// apartment, so several threads change this count at once: it must be atomic.
extern std::atomic<LONG> g_cDllObjects;

// The DLL's own instance; every resource (bitmaps, strings) is read from here.
HINSTANCE ModuleInstance() noexcept;

// menu_bitmap.cpp: bitmaps made on first use and kept until the DLL unloads,
// shared by every handler; null if they cannot be made.
// Windows XP: the 13x13 picture for the check-mark slots.
HBITMAP CheckMarkBitmap() noexcept;
// Vista and later: the item bitmap's size, the small-icon size at the DPI of
// the monitor the menu opens on (else at the system DPI).
int ItemBitmapSize() noexcept;
// A size x size, 32-bpp top-down DIB section with premultiplied alpha.
HBITMAP ItemBitmap(int size) noexcept;

// What the module made on first use, given back when FreeLibrary unloads the
// DLL (never while the process ends), from DllMain: the bitmaps
// (menu_bitmap.cpp), the settings key kept open (settings.cpp).
void ReleaseMenuBitmaps() noexcept;
void ReleaseSettingsKey() noexcept;

// Opens the module's state for one call: makes sure the module is prepared
// (common controls, the activation context from manifest resource 2) and keeps
// that context active until the guard goes out of scope.
HANDLE PreparedActCtx() noexcept;

class ModuleStateGuard {
public:
    ModuleStateGuard() noexcept : m_activation(PreparedActCtx()) {}

private:
    ActCtxActivation m_activation;
};
