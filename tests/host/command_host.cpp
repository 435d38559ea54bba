// The Windows 11 menu as Explorer builds it from a packaged IExplorerCommand:
// the class is created in process, given a site whose window is the view,
// asked for its flags and its state (first with fOkToBeSlow FALSE, on the
// shell's thread; again with TRUE after E_PENDING), its title and icon, then
// for its subcommands, each asked the same with the item array. A click
// invokes the subcommand of that title with an array made from ID lists.
// On Windows the package's manifest names the class; here it is the class
// that quillshell-modern.dll serves, found through HKCR\CLSID.
#include "host.h"
#include "command_menu.h"

#include <shlwapi.h>

namespace {

// {3C79CCA4-8665-480D-B49E-041DB86690E3}
const CLSID kCommandClass = {0x3C79CCA4, 0x8665, 0x480D, {0xB4, 0x9E, 0x04, 0x1D, 0xB8, 0x66, 0x90, 0xE3}};

std::wstring StateText(EXPCMDSTATE state) {
    std::wstring text = (state & ECS_HIDDEN) ? L"hidden" : (state & ECS_DISABLED) ? L"disabled" : L"enabled";
    if (state & ECS_CHECKED) text += L", checked";
    return text;
}

// Whether the shell can load the icon a command names ("<file>,-<id>").
bool IconLoads(const std::wstring& location) {
    const size_t comma = location.rfind(L',');
    if (comma == std::wstring::npos) return false;
    HICON icon = nullptr;
    const UINT n = ExtractIconExW(location.substr(0, comma).c_str(), _wtoi(location.c_str() + comma + 1), nullptr,
                                  &icon, 1);
    if (icon) DestroyIcon(icon);
    return n > 0 && icon;
}

// The root's answers, as Explorer receives them.
void PrintRoot(const CommandItem& root) {
    Say(L"  GetFlags = " + Hex(root.flags) + ((root.flags & ECF_HASSUBCOMMANDS) ? L" (ECF_HASSUBCOMMANDS)" : L""));
    auto state = [&](HRESULT hr) { return HrText(hr) + (SUCCEEDED(hr) ? L": " + StateText(root.state) : L""); };
    Say(L"  GetState(fOkToBeSlow FALSE) = " + state(root.quickState));
    if (root.quickState == E_PENDING) Say(L"  GetState(fOkToBeSlow TRUE) = " + state(root.slowState));
    Say(L"  GetTitle = " + root.title);
    Say(L"  GetIcon = " + root.icon + (IconLoads(root.icon) ? L" (loads)" : L" (does not load)"));
    if (FAILED(root.hr)) Say(L"  " + std::wstring(root.failed) + L" failed: " + HrText(root.hr));
}

std::wstring ServerPath() {
    wchar_t path[MAX_PATH * 2] = L"";
    DWORD size = sizeof(path);
    const std::wstring key = L"CLSID\\" + GuidText(kCommandClass) + L"\\InProcServer32";
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS)
        return L"(not registered)";
    return path;
}

}  // namespace

int RunCommandMenu(const std::vector<std::wstring>& paths, const std::wstring& click,
                   const CommandIconPicture* picture) {
    HRESULT hr = S_OK;
    ComPtr<IShellItemArray> items;
    *items.put() = ShellItems(paths, &hr);  // as Explorer hands them to commands
    if (!items) {
        Say(L"quillhost: cannot make an item array of the selection: " + HrText(hr));
        return kExitHostError;
    }
    Say(L"selection: " + std::to_wstring(paths.size()) + L" item(s), an IShellItemArray from their ID lists");
    Say(L"command " + GuidText(kCommandClass) + L", InProcServer32 " + ServerPath());

    HostWindows windows;
    if (!CreateHostWindows(&windows, L"Explorer", false, nullptr, nullptr)) {
        Say(L"quillhost: cannot make a window: error " + std::to_wstring(GetLastError()));
        return kExitHostError;
    }
    ComPtr<IExplorerCommand> root;
    hr = CoCreateInstance(kCommandClass, nullptr, CLSCTX_INPROC_SERVER, IID_IExplorerCommand, root.put_void());
    if (FAILED(hr)) {
        Say(L"  CoCreateInstance failed: " + HrText(hr));
        return kExitHandlerFailed;
    }
    ComPtr<IOleWindow> site;
    *site.put() = new TestSite(windows.view);  // its window is the folder view
    hr = IUnknown_SetSite(root.get(), site.get());
    Say(L"  SetSite(the view's site) = " + HrText(hr));
    const CommandMenu menu = AskCommandMenu(root.detach(), items.get());
    PrintRoot(menu.root);
    const int rc = SUCCEEDED(menu.hr) ? kExitOk : kExitHandlerFailed;
    struct Unsite {
        IUnknown* root;
        ~Unsite() { IUnknown_SetSite(root, nullptr); }
    } unsite{menu.root.command.get()};

    if (menu.root.state & ECS_HIDDEN) {
        Say(L"Windows 11 menu: no entry (the command is hidden)");
    } else {
        Say(L"Windows 11 menu: \"" + menu.root.title + L"\" with " + std::to_wstring(menu.items.size()) + L" items:");
        for (const CommandItem& c : menu.items) {
            std::wstring line = L"  " + menu.root.title + L"  " + c.title + L"  | " + StateText(c.state);
            line += L"  | icon " + c.icon + (IconLoads(c.icon) ? L" (loads)" : L" (does not load)");
            line += L"  | tooltip " + c.toolTip + L"  | name " + GuidText(c.name);
            if (FAILED(c.hr)) line += L"  | " + std::wstring(c.failed) + L" failed: " + HrText(c.hr);
            Say(line);
        }
    }
    if (picture) {
        const int drawn = DrawCommandIcon(menu.root.icon, menu.root.title, picture->png, picture->append);
        return rc == kExitOk ? drawn : rc;
    }
    if (click.empty()) return rc;
    for (const CommandItem& c : menu.items) {
        if (c.title != click || (c.state & (ECS_HIDDEN | ECS_DISABLED))) continue;
        hr = InvokeSubCommand(c.command.get(), items.get());
        Say(L"click on " + click + L": Invoke = " + HrText(hr));
        return SUCCEEDED(hr) ? kExitOk : kExitHandlerFailed;
    }
    Say(L"no item \"" + click + L"\" in the Windows 11 menu");
    return rc == kExitOk ? kExitNotFound : rc;
}
