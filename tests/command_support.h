// Helpers of the command tests: a private temp folder, the receiver installed
// as TarnwickUnzip.exe, the HKCU setting, invoke calls and a watcher that
// reads and closes message boxes.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "support.h"

// Points TMP and TEMP of this process at a fresh folder, so that the list
// files of this test can be counted without other tests' files; undone and
// removed at the end.
class PrivateTemp {
public:
    PrivateTemp();
    ~PrivateTemp();
    PrivateTemp(const PrivateTemp&) = delete;
    PrivateTemp& operator=(const PrivateTemp&) = delete;

    const std::wstring& dir() const { return m_dir; }  // ends with "\"
    std::vector<std::wstring> Files() const;           // names of the plain files in it

private:
    std::wstring m_dir, m_oldTmp, m_oldTemp;
};

std::wstring NewFolder(const std::wstring& parent, const std::wstring& name);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// One byte per character (U+0000 to U+00FF), as the list file holds them.
std::string Latin1(const std::wstring& text);

// What the receiver recorded about one start.
struct Record {
    std::wstring commandLine;
    bool listRead = false;
    std::string list;
};

// A folder with the receiver in it as TarnwickUnzip.exe.
class ProgramFolder {
public:
    explicit ProgramFolder(const std::wstring& parent);
    const std::wstring& dir() const { return m_dir; }  // no trailing "\"
    // The record of the next start; false when none came within the timeout.
    bool Wait(Record* record, DWORD timeoutMs = 20000);
    // Whether a start was recorded, asked once a start made now has had the
    // time to record itself, and as long again: a start made before has had
    // at least as long.
    bool WasStarted();

private:
    std::wstring m_dir;
};

// HKCU\Software\Osmund\Brellow, value Directory: saved first, restored at the end.
class DirectorySetting {
public:
    DirectorySetting();
    ~DirectorySetting();
    void Set(const std::wstring& value, DWORD type = REG_SZ);
    void Remove();

private:
    bool m_had = false;
    std::wstring m_old;
};

// Invoke calls as hosts make them.
HRESULT InvokeOffset(IContextMenu* menu, UINT offset, DWORD cbSize = sizeof(CMINVOKECOMMANDINFOEX),
                     bool unicode = true, DWORD mask = 0, HWND hwnd = nullptr);
HRESULT InvokeVerbA(IContextMenu* menu, const char* verb, DWORD cbSize = sizeof(CMINVOKECOMMANDINFO));
// Extended structure with both verbs; CMIC_MASK_UNICODE as given.
HRESULT InvokeVerbs(IContextMenu* menu, const char* verbA, const wchar_t* verbW, DWORD cbSize, bool unicode);

// Finds the message boxes (#32770) of this process while it runs, records
// caption and text, and closes each with OK.
class BoxWatcher {
public:
    struct Box {
        std::wstring caption, text;
        HWND owner = nullptr;       // while it was up
        bool ownerEnabled = false;
    };
    BoxWatcher();
    ~BoxWatcher();
    std::vector<Box> Stop();

private:
    static DWORD WINAPI Run(void* self);
    HANDLE m_thread = nullptr;
    volatile LONG m_stop = 0;
    std::vector<Box> m_boxes;
};
