// The right-click menu as Explorer builds it: its own items first, then each
// handler in turn, inserted where the handlers' items belong, each with its
// own identifier range that starts where the previous handler's ended.
#include "host.h"

#include <algorithm>

namespace {

// The host's own items, in menu order. Handlers insert theirs at kIndexMenu,
// after "Open with...", as in Explorer's item menu.
struct HostItem {
    UINT id;
    const wchar_t* caption;  // nullptr: a separator
};
const HostItem kHostItems[] = {
    {1, L"Open"}, {2, L"Open with..."},
    {3, L"Send to"}, {0, nullptr}, {4, L"Cut"}, {5, L"Copy"}, {0, nullptr},
    {6, L"Create shortcut"}, {7, L"Delete"}, {8, L"Rename"}, {0, nullptr}, {9, L"Properties"},
};
constexpr UINT kOpenId = 1;
constexpr UINT kRenameId = 8;
constexpr UINT kIndexMenu = 2;
// Handlers share the identifiers above the host's own, up to the end of the
// range a folder view reserves for its menus (FCIDM_SHVIEWLAST).
constexpr UINT kFirstHandlerId = 0x100;
constexpr UINT kLastHandlerId = 0x7FFF;

std::string Narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 1, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring CommandString(IContextMenu* menu, UINT offset, UINT type, HRESULT* result) {
    wchar_t buffer[MAX_PATH] = L"";
    *result = menu->GetCommandString(offset, type, nullptr, reinterpret_cast<CHAR*>(buffer), ARRAYSIZE(buffer));
    buffer[ARRAYSIZE(buffer) - 1] = L'\0';
    return SUCCEEDED(*result) ? buffer : L"";
}

void InsertHostItems(HMENU menu, UINT flags) {
    UINT position = 0;
    for (const HostItem& item : kHostItems) {
        if (item.id == kRenameId && !(flags & CMF_CANRENAME)) continue;
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        if (item.caption) {
            info.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE;
            info.wID = item.id;
            info.dwTypeData = const_cast<wchar_t*>(item.caption);
            info.fState = item.id == kOpenId ? MFS_DEFAULT : 0;
        } else {
            info.fMask = MIIM_FTYPE;
            info.fType = MFT_SEPARATOR;
        }
        InsertMenuItemW(menu, position++, TRUE, &info);
    }
}

HRESULT Invoke(IContextMenu* menu, LPCSTR verb, LPCWSTR verbW, HWND hwnd, const std::wstring& directory) {
    const std::string narrowDirectory = Narrow(directory);
    CMINVOKECOMMANDINFOEX info{};
    info.cbSize = sizeof(info);
    info.fMask = CMIC_MASK_UNICODE | CMIC_MASK_PTINVOKE;
    info.hwnd = hwnd;
    info.lpVerb = verb;
    info.lpVerbW = verbW;
    info.lpDirectory = narrowDirectory.c_str();
    info.lpDirectoryW = directory.c_str();
    info.nShow = SW_SHOWNORMAL;
    GetCursorPos(&info.ptInvoke);
    return menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
}

// Creates one handler and hands it the selection; the failure, or empty.
std::wstring CreateAndInitialize(const ShellSelection& selection, LoadedHandler* loaded) {
    const HandlerEntry& entry = loaded->entry;
    if (!entry.approved && ApprovalEnforced())
        return L"not loaded: not approved, and EnforceShellExtensionSecurity is set";
    HRESULT hr = CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                                  loaded->menu.put_void());
    if (FAILED(hr)) return L"CoCreateInstance failed: " + HrText(hr);
    ComPtr<IShellExtInit> init;
    if (FAILED(hr = loaded->menu.As(&init))) return L"no IShellExtInit: " + HrText(hr);
    UniqueHKey typeKey;
    RegOpenKeyExW(HKEY_CLASSES_ROOT, entry.typeKey.c_str(), 0, KEY_READ, typeKey.put());
    hr = init->Initialize(selection.Folder(), selection.DataObject(), typeKey.get());
    if (FAILED(hr)) return L"Initialize failed: " + HrText(hr);
    return L"";
}

}  // namespace

UINT ContextMenuHost::FlagsFor(size_t itemCount) {
    // A right-click on items of a folder window with its navigation pane;
    // CMF_ITEMMENU has been set for item menus since Vista.
    UINT flags = CMF_NORMAL | CMF_EXPLORE | CMF_ITEMMENU;
    if (itemCount == 1) flags |= CMF_CANRENAME;
    return flags;
}

void ContextMenuHost::Build(const ShellSelection& selection, const std::vector<HandlerEntry>& handlers, UINT flags) {
    m_menu.reset(CreatePopupMenu());
    m_handlers.clear();
    InsertHostItems(m_menu.get(), flags);

    UINT index = kIndexMenu, nextId = kFirstHandlerId;
    for (const HandlerEntry& entry : handlers) {
        LoadedHandler loaded;
        loaded.entry = entry;
        loaded.failure = CreateAndInitialize(selection, &loaded);
        if (loaded.failure.empty()) {
            const int before = GetMenuItemCount(m_menu.get());
            const HRESULT hr = loaded.menu->QueryContextMenu(m_menu.get(), index, nextId, kLastHandlerId, flags);
            const int inserted = GetMenuItemCount(m_menu.get()) - before;
            if (FAILED(hr)) {
                loaded.failure = L"QueryContextMenu failed: " + HrText(hr);
            } else {
                loaded.idFirst = nextId;
                loaded.idCount = HRESULT_CODE(hr);
                loaded.firstPos = index;
                loaded.itemCount = inserted > 0 ? inserted : 0;
                index += loaded.itemCount;
                nextId += loaded.idCount;
            }
        }
        m_handlers.push_back(std::move(loaded));
    }
}

bool ContextMenuHost::AnyFailure() const {
    for (const LoadedHandler& handler : m_handlers)
        if (!handler.failure.empty()) return true;
    return false;
}

std::vector<MenuLine> ContextMenuHost::Lines() const {
    std::vector<MenuLine> lines;
    const int count = GetMenuItemCount(m_menu.get());
    for (int position = 0; position < count; ++position) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING | MIIM_CHECKMARKS | MIIM_BITMAP;
        if (!GetMenuItemInfoW(m_menu.get(), position, TRUE, &info)) continue;
        std::wstring caption(info.cch + 1, L'\0');
        info.dwTypeData = caption.data();
        info.cch = static_cast<UINT>(caption.size());
        GetMenuItemInfoW(m_menu.get(), position, TRUE, &info);
        caption.resize(info.cch);

        MenuLine line;
        line.position = position;
        line.id = info.wID;
        line.separator = (info.fType & MFT_SEPARATOR) != 0;
        line.isDefault = (info.fState & MFS_DEFAULT) != 0;
        line.bitmap = info.hbmpChecked || info.hbmpUnchecked || info.hbmpItem;
        if (!line.separator) line.caption = caption;
        for (size_t h = 0; h < m_handlers.size(); ++h) {
            const LoadedHandler& handler = m_handlers[h];
            const bool inItsPlace = UINT(position) >= handler.firstPos &&
                                    UINT(position) < handler.firstPos + handler.itemCount;
            const bool inItsRange = line.id >= handler.idFirst && line.id < handler.idFirst + handler.idCount;
            if (line.separator ? inItsPlace : inItsRange) line.owner = static_cast<int>(h);
        }
        if (line.owner >= 0 && !line.separator) {
            const LoadedHandler& handler = m_handlers[line.owner];
            const UINT offset = line.id - handler.idFirst;
            line.verb = CommandString(handler.menu.get(), offset, GCS_VERBW, &line.verbResult);
            line.help = CommandString(handler.menu.get(), offset, GCS_HELPTEXTW, &line.helpResult);
        }
        lines.push_back(line);
    }
    return lines;
}

std::wstring ContextMenuHost::HelpText(UINT id) const {
    for (const LoadedHandler& handler : m_handlers) {
        if (!handler.menu || id < handler.idFirst || id >= handler.idFirst + handler.idCount) continue;
        HRESULT result;
        return CommandString(handler.menu.get(), id - handler.idFirst, GCS_HELPTEXTW, &result);
    }
    return L"";
}

bool ContextMenuHost::FindCaption(const std::wstring& caption, MenuLine* found) const {
    for (const MenuLine& line : Lines()) {
        if (line.separator || line.owner < 0 || line.caption != caption) continue;
        *found = line;
        return true;
    }
    return false;
}

HRESULT ContextMenuHost::InvokeItem(const MenuLine& line, HWND hwnd, const std::wstring& directory) const {
    const LoadedHandler& handler = m_handlers.at(line.owner);
    const UINT offset = line.id - handler.idFirst;
    return Invoke(handler.menu.get(), MAKEINTRESOURCEA(offset), MAKEINTRESOURCEW(offset), hwnd, directory);
}

HRESULT ContextMenuHost::InvokeVerb(size_t index, const std::wstring& verb, HWND hwnd,
                                    const std::wstring& directory) const {
    const LoadedHandler& handler = m_handlers.at(index);
    if (!handler.menu || !handler.failure.empty()) return E_FAIL;
    const std::string narrowVerb = Narrow(verb);
    return Invoke(handler.menu.get(), narrowVerb.c_str(), verb.c_str(), hwnd, directory);
}

void ContextMenuHost::Print(const std::wstring& title) const {
    for (const LoadedHandler& handler : m_handlers) {
        Say(L"handler " + handler.entry.name + L" " + GuidText(handler.entry.clsid) + L" from HKCR\\" +
            handler.entry.classKey + L"\\shellex\\ContextMenuHandlers" +
            (handler.entry.approved ? L", approved" : L", not approved"));
        if (!handler.failure.empty()) {
            Say(L"  " + handler.failure);
            continue;
        }
        Say(L"  QueryContextMenu(indexMenu " + std::to_wstring(handler.firstPos) + L", idCmdFirst " +
            Hex(handler.idFirst) + L", idCmdLast " + Hex(kLastHandlerId) + L"): " +
            std::to_wstring(handler.idCount) + L" identifiers, " + std::to_wstring(handler.itemCount) + L" items");
    }
    const std::vector<MenuLine> lines = Lines();
    Say(L"menu (" + title + L"), " + std::to_wstring(lines.size()) + L" items:");
    for (const MenuLine& line : lines) {
        std::wstring text = line.owner >= 0 ? m_handlers[line.owner].entry.name : std::wstring(L"host");
        text.resize(std::max<size_t>(text.size(), 11), L' ');
        text = L"  " + text + L" ";
        if (line.separator) {
            Say(text + L"----------");
            continue;
        }
        text += line.caption;
        if (line.isDefault) text += L"  | default";
        if (line.bitmap) text += L"  | bitmap";
        if (line.owner >= 0) {
            text += L"  | offset " + std::to_wstring(line.id - m_handlers[line.owner].idFirst);
            text += SUCCEEDED(line.verbResult) ? L"  | verb " + line.verb : L"  | verb failed: " + HrText(line.verbResult);
            text += SUCCEEDED(line.helpResult) ? L"  | help " + line.help : L"  | help failed: " + HrText(line.helpResult);
        }
        Say(text);
    }
}
