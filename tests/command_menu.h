// The Windows 11 menu as Explorer drives a packaged IExplorerCommand: the
// root's flags, state (again with fOkToBeSlow after E_PENDING), title, icon
// and name, then each subcommand's, all with the selection's item array; a
// click invokes one subcommand with the array. Shared by the unit tests and
// quillhost.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "com_object.h"
#include "win32.h"

// A menu item's text as the menu shows it: "&&" is "&", a single "&" only
// marks the next letter as the shortcut.
std::wstring ShownText(const std::wstring& text);

// The shell's own item array for existing items, made from their ID lists as
// Explorer makes it; null (with *hr set) when a path cannot be parsed.
IShellItemArray* ShellItems(const std::vector<std::wstring>& paths, HRESULT* hr = nullptr);

// A site of the kind Explorer sets: its IOleWindow gives `window`.
class TestSite final : public ComObject<IOleWindow, IID_IOleWindow> {
public:
    explicit TestSite(HWND window) : m_window(window) {}
    STDMETHODIMP GetWindow(HWND* window) override { *window = m_window; return S_OK; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

private:
    HWND m_window;
};

// What Explorer asked of one command, and what it answered.
struct CommandItem {
    ComPtr<IExplorerCommand> command;
    std::wstring title;  // as the menu shows it
    std::wstring toolTip, icon;
    EXPCMDFLAGS flags = ECF_DEFAULT;
    EXPCMDSTATE state = ECS_HIDDEN;
    HRESULT quickState = S_OK;  // GetState with fOkToBeSlow FALSE; E_PENDING: asked again
    HRESULT slowState = S_OK;   // with TRUE, when asked
    GUID name{};
    HRESULT hr = S_OK;            // the first call that failed, or S_OK
    const wchar_t* failed = L"";  // its name
};
struct CommandMenu {
    HRESULT hr = S_OK;  // the first call that failed, or S_OK
    CommandItem root;
    std::vector<CommandItem> items;  // the subcommands, in order
};

// One right-click: the root (which the menu takes over) asked, then
// EnumSubCommands and every subcommand asked the same with the array.
CommandMenu AskCommandMenu(IExplorerCommand* root, IShellItemArray* items);

// A click: the subcommand (with `ownSite`, when given) invoked with the array
// and a bind context, as Explorer invokes it.
HRESULT InvokeSubCommand(IExplorerCommand* command, IShellItemArray* items, IUnknown* ownSite = nullptr);
