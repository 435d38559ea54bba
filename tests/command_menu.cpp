#include "command_menu.h"

#include <shlwapi.h>

std::wstring ShownText(const std::wstring& text) {
    std::wstring shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && ++i == text.size()) break;
        shown += text[i];
    }
    return shown;
}

IShellItemArray* ShellItems(const std::vector<std::wstring>& paths, HRESULT* hr) {
    HRESULT result = paths.empty() ? E_INVALIDARG : S_OK;
    std::vector<PIDLIST_ABSOLUTE> lists;
    for (size_t i = 0; i < paths.size() && SUCCEEDED(result); ++i) {
        PIDLIST_ABSOLUTE pidl = nullptr;
        result = SHParseDisplayName(paths[i].c_str(), nullptr, &pidl, 0, nullptr);
        if (SUCCEEDED(result)) lists.push_back(pidl);
    }
    IShellItemArray* items = nullptr;
    if (SUCCEEDED(result))
        result = SHCreateShellItemArrayFromIDLists(static_cast<UINT>(lists.size()),
                                                   const_cast<PCIDLIST_ABSOLUTE_ARRAY>(lists.data()), &items);
    for (PIDLIST_ABSOLUTE pidl : lists) CoTaskMemFree(pidl);
    if (hr) *hr = result;
    return items;
}

namespace {

// What Explorer asks of every command, the root included, in its order.
CommandItem Ask(IExplorerCommand* command, IShellItemArray* items) {
    CommandItem item;
    *item.command.put() = command;
    auto note = [&](const wchar_t* call, HRESULT result) {
        if (FAILED(result) && SUCCEEDED(item.hr)) {
            item.hr = result;
            item.failed = call;
        }
    };
    note(L"GetFlags", command->GetFlags(&item.flags));
    HRESULT state = item.quickState = command->GetState(items, FALSE, &item.state);
    if (state == E_PENDING) state = item.slowState = command->GetState(items, TRUE, &item.state);  // off its thread
    note(L"GetState", state);
    LPWSTR text = nullptr;
    note(L"GetTitle", command->GetTitle(items, &text));
    item.title = ShownText(TakeString(text));  // Explorer makes a menu item of it
    text = nullptr;
    note(L"GetIcon", command->GetIcon(items, &text));
    item.icon = TakeString(text);
    text = nullptr;
    if (SUCCEEDED(command->GetToolTip(items, &text))) item.toolTip = TakeString(text);  // optional
    note(L"GetCanonicalName", command->GetCanonicalName(&item.name));
    return item;
}

}  // namespace

CommandMenu AskCommandMenu(IExplorerCommand* root, IShellItemArray* items) {
    CommandMenu menu;
    if (!root) {
        menu.hr = E_FAIL;
        return menu;
    }
    menu.root = Ask(root, items);
    menu.hr = menu.root.hr;
    ComPtr<IEnumExplorerCommand> children;
    const HRESULT hr = root->EnumSubCommands(children.put());
    if (FAILED(hr) && SUCCEEDED(menu.hr)) menu.hr = hr;
    for (IExplorerCommand* child = nullptr; children && children->Next(1, &child, nullptr) == S_OK;) {
        menu.items.push_back(Ask(child, items));
        if (FAILED(menu.items.back().hr) && SUCCEEDED(menu.hr)) menu.hr = menu.items.back().hr;
    }
    return menu;
}

HRESULT InvokeSubCommand(IExplorerCommand* command, IShellItemArray* items, IUnknown* ownSite) {
    if (ownSite) IUnknown_SetSite(command, ownSite);
    ComPtr<IBindCtx> context;
    CreateBindCtx(0, context.put());
    const HRESULT hr = command->Invoke(items, context.get());
    if (ownSite) IUnknown_SetSite(command, nullptr);
    return hr;
}
