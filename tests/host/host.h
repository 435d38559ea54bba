// quillhost: a console program that stands in for Windows Explorer towards
// context-menu handlers. Wine's own menus never load third-party handlers, so
// this host finds them in the registry, hands them a shell data object, builds
// and shows their menu and invokes their items the way Explorer does.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <utility>
#include <vector>

#include "win32.h"

struct PidlTraits {
    using Handle = PIDLIST_ABSOLUTE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { CoTaskMemFree(h); }
};
struct MenuTraits {
    using Handle = HMENU;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { DestroyMenu(h); }
};
struct WindowTraits {
    using Handle = HWND;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { DestroyWindow(h); }
};
using UniquePidl = Unique<PidlTraits>;
using UniqueMenu = Unique<MenuTraits>;
using UniqueWindow = Unique<WindowTraits>;

// Exit codes of quillhost.
enum ExitCode {
    kExitOk = 0,
    kExitHostError = 1,      // the selection or a window could not be made
    kExitUsage = 2,
    kExitHandlerFailed = 3,  // a handler's Initialize, QueryContextMenu or InvokeCommand failed
    kExitNotFound = 4,       // no item with that caption, or no handler took the verb
};

// output.cpp: lines on stdout, UTF-8 when redirected.
void Say(const std::wstring& line);
std::wstring HrText(HRESULT hr);
std::wstring GuidText(REFGUID guid);
std::wstring Hex(unsigned value);

// handlers.cpp: the registry keys Explorer reads for one right-click.
struct HandlerEntry {
    CLSID clsid{};
    std::wstring name;      // subkey of shellex\ContextMenuHandlers
    std::wstring classKey;  // the class key it hangs under: a ProgID, "*", "Directory"...
    std::wstring typeKey;   // the item's own type key, handed to Initialize
    bool approved = false;  // listed under Shell Extensions\Approved
};
// The class keys of an item, in the order in which Explorer loads their handlers.
std::vector<std::wstring> ClassKeysFor(const std::wstring& path, bool isFolder);
// Every handler named under those keys, each class once.
std::vector<HandlerEntry> FindHandlers(const std::vector<std::wstring>& classKeys, bool isFolder);
// Explorer loads only approved handlers when this policy is set.
bool ApprovalEnforced();

// selection.cpp: a real shell data object for items of one folder.
class ShellSelection {
public:
    // False with *error set when a path cannot be parsed or the items lie in
    // different folders (a view only ever selects items of one folder).
    bool Create(const std::vector<std::wstring>& paths, std::wstring* error);
    IDataObject* DataObject() const { return m_dataObject.get(); }
    PCIDLIST_ABSOLUTE Folder() const { return m_folder.get(); }
    const std::wstring& FolderPath() const { return m_folderPath; }
    const std::vector<std::wstring>& Paths() const { return m_paths; }
    bool FirstIsFolder() const { return m_firstIsFolder; }

private:
    std::vector<std::wstring> m_paths;
    std::wstring m_folderPath;
    UniquePidl m_folder;
    ComPtr<IDataObject> m_dataObject;
    bool m_firstIsFolder = false;
};

// menu_host.cpp: the menu that Explorer builds from its own items and the handlers'.
struct LoadedHandler {
    HandlerEntry entry;
    ComPtr<IContextMenu> menu;
    UINT idFirst = 0;    // idCmdFirst it was given
    UINT idCount = 0;    // identifiers it claimed
    UINT firstPos = 0;   // where its items start in the menu
    UINT itemCount = 0;  // items it inserted
    std::wstring failure;  // the call that failed and its HRESULT; empty when none did
};

struct MenuLine {
    UINT position = 0;
    UINT id = 0;
    bool separator = false;
    bool isDefault = false;
    bool bitmap = false;  // a check-mark or item bitmap beside the text
    std::wstring caption;
    int owner = -1;  // index of the handler that inserted it; -1 for the host's own items
    std::wstring verb, help;  // from GetCommandString; empty when it failed
    HRESULT verbResult = S_OK, helpResult = S_OK;
};

class ContextMenuHost {
public:
    // Flags as Explorer passes them for a right-click in its folder view.
    static UINT FlagsFor(size_t itemCount);

    // Creates, initialises and queries every handler into a fresh menu that
    // already holds the host's own items.
    void Build(const ShellSelection& selection, const std::vector<HandlerEntry>& handlers, UINT flags);
    HMENU Menu() const { return m_menu.get(); }
    const std::vector<LoadedHandler>& Handlers() const { return m_handlers; }
    bool AnyFailure() const;

    std::vector<MenuLine> Lines() const;
    // The help text of a menu identifier, as a host with a status bar shows it.
    std::wstring HelpText(UINT id) const;
    // The handler item with this caption; false when there is none.
    bool FindCaption(const std::wstring& caption, MenuLine* line) const;

    // InvokeCommand as Explorer sends it after a click: the extended structure,
    // Unicode, the item's offset as the verb, the view window.
    HRESULT InvokeItem(const MenuLine& line, HWND hwnd, const std::wstring& directory) const;
    // InvokeCommand with a verb on one handler.
    HRESULT InvokeVerb(size_t handler, const std::wstring& verb, HWND hwnd, const std::wstring& directory) const;

    void Print(const std::wstring& title) const;

private:
    UniqueMenu m_menu;
    std::vector<LoadedHandler> m_handlers;
};

// Explorer builds a right-click menu from at most this many selected items.
constexpr size_t kMenuSelectionLimit = 16;

// popup.cpp: the real popup menu under a display, captured to a PNG file.
int ShowPopup(const ContextMenuHost& host, const ShellSelection& selection, const std::wstring& title,
              const std::wstring& pngPath, const std::wstring& highlight);
// Writes a bitmap as a 24-bit PNG file through WIC.
HRESULT SavePng(HBITMAP bitmap, const std::wstring& path);

// icon_picture.cpp: the first handler item's bitmap alpha-blended, as Vista
// and later draw it, onto a light, a highlighted and a dark menu row at this
// process's DPI; a column of a PNG file, appended to the right of what the
// file holds with `append`.
int DrawItemBitmap(const ContextMenuHost& host, const std::wstring& pngPath, bool append);

// The icon a command names ("<file>,-<id>"), drawn at the small-icon size as
// Windows 11's menu shows it, onto its light and dark rows beside `title`; a
// column of a PNG file, as DrawItemBitmap.
int DrawCommandIcon(const std::wstring& location, const std::wstring& title, const std::wstring& pngPath,
                    bool append);

// command_host.cpp: the Windows 11 menu of quillshell-modern.dll's command
// for these items, printed; with a click, the subcommand of that title
// invoked; with a picture, the command's icon drawn as DrawCommandIcon does.
struct CommandIconPicture {
    std::wstring png;
    bool append = false;
};
int RunCommandMenu(const std::vector<std::wstring>& paths, const std::wstring& click,
                   const CommandIconPicture* picture = nullptr);

// window.cpp: Explorer's frame and view windows; one message-only window without a display.
struct HostWindows {
    UniqueWindow frame;
    HWND view = nullptr;  // child of frame (or frame itself); handlers get this one
};
bool CreateHostWindows(HostWindows* windows, const std::wstring& title, bool visible, WNDPROC frameProc,
                       void* frameData);
