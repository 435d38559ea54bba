// The Windows 11 menu as Explorer builds it from a packaged IExplorerCommand:
// the class is created in process, given a site whose window is the view,
// asked for its flags and its state (first with fOkToBeSlow FALSE, on the
// shell's thread; again with TRUE after E_PENDING), its title and icon, then
// for its subcommands, each asked the same with the item array. A click
// invokes the subcommand of that title with an array made from ID lists.
// On Windows the package's manifest names the class; here it is the class
// that quillshell-modern.dll serves, found through HKCR\CLSID.
#include "host.h"
#include "com_object.h"

#include <shlwapi.h>

namespace {

// {3C79CCA4-8665-480D-B49E-041DB86690E3}
const CLSID kCommandClass = {0x3C79CCA4, 0x8665, 0x480D, {0xB4, 0x9E, 0x04, 0x1D, 0xB8, 0x66, 0x90, 0xE3}};

// The site Explorer sets: its window is the folder view.
class ViewSite final : public ComObject<IOleWindow, IID_IOleWindow> {
public:
    explicit ViewSite(HWND view) : m_view(view) {}
    STDMETHODIMP GetWindow(HWND* window) override {
        *window = m_view;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

private:
    HWND m_view;
};

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

struct Command {
    ComPtr<IExplorerCommand> command;
    EXPCMDSTATE state = ECS_HIDDEN;
    EXPCMDFLAGS flags = ECF_DEFAULT;
    std::wstring title, icon, toolTip;
    GUID name{};
    std::wstring failure;  // the call that failed and its result
};

// What Explorer asks of every command, in its order.
void Ask(Command* c, IShellItemArray* items, bool verbose) {
    auto failed = [&](const wchar_t* call, HRESULT hr) {
        if (FAILED(hr) && c->failure.empty()) c->failure = std::wstring(call) + L" failed: " + HrText(hr);
    };
    HRESULT hr = c->command->GetFlags(&c->flags);
    failed(L"GetFlags", hr);
    if (verbose) Say(L"  GetFlags = " + Hex(c->flags) + ((c->flags & ECF_HASSUBCOMMANDS) ? L" (ECF_HASSUBCOMMANDS)" : L""));
    hr = c->command->GetState(items, FALSE, &c->state);
    if (verbose) Say(L"  GetState(fOkToBeSlow FALSE) = " + HrText(hr) + (SUCCEEDED(hr) ? L": " + StateText(c->state) : L""));
    if (hr == E_PENDING) {  // Explorer asks again on another thread
        hr = c->command->GetState(items, TRUE, &c->state);
        if (verbose) Say(L"  GetState(fOkToBeSlow TRUE) = " + HrText(hr) + L": " + StateText(c->state));
    }
    failed(L"GetState", hr);
    LPWSTR text = nullptr;
    failed(L"GetTitle", hr = c->command->GetTitle(items, &text));
    c->title = TakeString(text);
    text = nullptr;
    failed(L"GetIcon", c->command->GetIcon(items, &text));
    c->icon = TakeString(text);
    text = nullptr;
    if (SUCCEEDED(c->command->GetToolTip(items, &text))) c->toolTip = TakeString(text);  // optional
    failed(L"GetCanonicalName", c->command->GetCanonicalName(&c->name));
    if (verbose) {
        Say(L"  GetTitle = " + c->title);
        Say(L"  GetIcon = " + c->icon + (IconLoads(c->icon) ? L" (loads)" : L" (does not load)"));
    }
}

std::wstring ServerPath() {
    wchar_t path[MAX_PATH * 2] = L"";
    DWORD size = sizeof(path);
    const std::wstring key = L"CLSID\\" + GuidText(kCommandClass) + L"\\InProcServer32";
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS)
        return L"(not registered)";
    return path;
}

// The items as Explorer hands them to commands: an array made from ID lists.
bool MakeItems(const std::vector<std::wstring>& paths, ComPtr<IShellItemArray>* items) {
    std::vector<UniquePidl> lists;
    std::vector<PCIDLIST_ABSOLUTE> raw;
    for (const std::wstring& path : paths) {
        UniquePidl pidl;
        const HRESULT hr = SHParseDisplayName(path.c_str(), nullptr, pidl.put(), 0, nullptr);
        if (FAILED(hr)) {
            Say(L"quillhost: cannot find " + path + L": " + HrText(hr));
            return false;
        }
        raw.push_back(pidl.get());
        lists.push_back(std::move(pidl));
    }
    const HRESULT hr = SHCreateShellItemArrayFromIDLists(static_cast<UINT>(raw.size()), raw.data(), items->put());
    if (FAILED(hr)) Say(L"quillhost: SHCreateShellItemArrayFromIDLists failed: " + HrText(hr));
    return SUCCEEDED(hr);
}

}  // namespace

int RunCommandMenu(const std::vector<std::wstring>& paths, const std::wstring& click,
                   const CommandIconPicture* picture) {
    ComPtr<IShellItemArray> items;
    if (!MakeItems(paths, &items)) return kExitHostError;
    Say(L"selection: " + std::to_wstring(paths.size()) + L" item(s), an IShellItemArray from their ID lists");
    Say(L"command " + GuidText(kCommandClass) + L", InProcServer32 " + ServerPath());

    HostWindows windows;
    if (!CreateHostWindows(&windows, L"Explorer", false, nullptr, nullptr)) {
        Say(L"quillhost: cannot make a window: error " + std::to_wstring(GetLastError()));
        return kExitHostError;
    }
    Command root;
    HRESULT hr = CoCreateInstance(kCommandClass, nullptr, CLSCTX_INPROC_SERVER, IID_IExplorerCommand,
                                  root.command.put_void());
    if (FAILED(hr)) {
        Say(L"  CoCreateInstance failed: " + HrText(hr));
        return kExitHandlerFailed;
    }
    ComPtr<IOleWindow> site;
    *site.put() = new ViewSite(windows.view);
    hr = IUnknown_SetSite(root.command.get(), site.get());
    Say(L"  SetSite(the view's site) = " + HrText(hr));
    Ask(&root, items.get(), true);
    int rc = root.failure.empty() ? kExitOk : kExitHandlerFailed;
    if (!root.failure.empty()) Say(L"  " + root.failure);

    std::vector<Command> children;
    if ((root.state & ECS_HIDDEN) == 0 && (root.flags & ECF_HASSUBCOMMANDS)) {
        ComPtr<IEnumExplorerCommand> enumerator;
        hr = root.command->EnumSubCommands(enumerator.put());
        Say(L"  EnumSubCommands = " + HrText(hr));
        if (FAILED(hr)) rc = kExitHandlerFailed;
        for (Command child; enumerator && enumerator->Next(1, child.command.put(), nullptr) == S_OK; child = Command()) {
            Ask(&child, items.get(), false);
            if (!child.failure.empty()) rc = kExitHandlerFailed;
            children.push_back(std::move(child));
        }
    }

    if (root.state & ECS_HIDDEN) {
        Say(L"Windows 11 menu: no entry (the command is hidden)");
    } else {
        Say(L"Windows 11 menu: \"" + root.title + L"\" with " + std::to_wstring(children.size()) + L" items:");
        for (const Command& c : children) {
            std::wstring line = L"  " + root.title + L"  " + c.title + L"  | " + StateText(c.state);
            line += L"  | icon " + c.icon + (IconLoads(c.icon) ? L" (loads)" : L" (does not load)");
            line += L"  | tooltip " + c.toolTip + L"  | name " + GuidText(c.name);
            if (!c.failure.empty()) line += L"  | " + c.failure;
            Say(line);
        }
    }
    if (picture) {
        IUnknown_SetSite(root.command.get(), nullptr);
        const int drawn = DrawCommandIcon(root.icon, root.title, picture->png, picture->append);
        return rc == kExitOk ? drawn : rc;
    }
    if (click.empty()) {
        IUnknown_SetSite(root.command.get(), nullptr);
        return rc;
    }

    for (const Command& c : children) {
        if (c.title != click || (c.state & (ECS_HIDDEN | ECS_DISABLED))) continue;
        ComPtr<IBindCtx> context;
        CreateBindCtx(0, context.put());
        hr = c.command->Invoke(items.get(), context.get());
        Say(L"click on " + click + L": Invoke = " + HrText(hr));
        IUnknown_SetSite(root.command.get(), nullptr);
        return SUCCEEDED(hr) ? kExitOk : kExitHandlerFailed;
    }
    Say(L"no item \"" + click + L"\" in the Windows 11 menu");
    IUnknown_SetSite(root.command.get(), nullptr);
    return rc == kExitOk ? kExitNotFound : rc;
}
