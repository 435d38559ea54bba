#include "shell_support.h"

#include <shellapi.h>
#include <shlguid.h>
#include <shlwapi.h>

#include <cstddef>
#include <cstring>

#include "support.h"

IContextMenu* CreateHandler() {
    IClassFactory* factory = nullptr;
    if (FAILED(LoadDll().getClassObject(kHandlerClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    IContextMenu* handler = nullptr;
    factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&handler));
    factory->Release();
    return handler;
}

HRESULT InitializeHandler(IContextMenu* handler, IDataObject* data) {
    IShellExtInit* init = nullptr;
    HRESULT hr = handler->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init));
    if (FAILED(hr)) return hr;
    hr = init->Initialize(nullptr, data, nullptr);
    init->Release();
    return hr;
}

IDataObject* ShellDataObject(const std::vector<std::wstring>& paths) {
    std::vector<PIDLIST_ABSOLUTE> absolute;
    std::vector<PCUITEMID_CHILD> children;
    IShellFolder* folder = nullptr;
    IDataObject* data = nullptr;
    for (const std::wstring& path : paths) {
        PIDLIST_ABSOLUTE pidl = nullptr;
        if (FAILED(SHParseDisplayName(path.c_str(), nullptr, &pidl, 0, nullptr))) goto done;
        absolute.push_back(pidl);
        PCUITEMID_CHILD child = nullptr;
        IShellFolder* parent = nullptr;
        if (FAILED(SHBindToParent(pidl, IID_IShellFolder, reinterpret_cast<void**>(&parent), &child))) goto done;
        if (!folder) folder = parent; else parent->Release();
        children.push_back(child);
    }
    if (folder)
        folder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject, nullptr,
                              reinterpret_cast<void**>(&data));
done:
    if (folder) folder->Release();
    for (PIDLIST_ABSOLUTE pidl : absolute) CoTaskMemFree(pidl);
    return data;
}

HGLOBAL MakeDropBlock(const std::vector<BYTE>& listBytes, bool wide) {
    HGLOBAL h = GlobalAlloc(GHND, sizeof(DROPFILES) + listBytes.size());
    auto* header = static_cast<DROPFILES*>(GlobalLock(h));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = wide;
    if (!listBytes.empty()) std::memcpy(header + 1, listBytes.data(), listBytes.size());
    GlobalUnlock(h);
    return h;
}

std::vector<BYTE> WideList(const std::vector<std::wstring>& paths) {
    std::vector<BYTE> bytes;
    auto append = [&](const wchar_t* p, size_t n) {
        const BYTE* b = reinterpret_cast<const BYTE*>(p);
        bytes.insert(bytes.end(), b, b + n * sizeof(wchar_t));
    };
    for (const std::wstring& path : paths) append(path.c_str(), path.size() + 1);
    append(L"", 1);
    return bytes;
}

std::vector<BYTE> AnsiList(const std::vector<std::string>& paths) {
    std::vector<BYTE> bytes;
    for (const std::string& path : paths) bytes.insert(bytes.end(), path.c_str(), path.c_str() + path.size() + 1);
    bytes.push_back(0);
    return bytes;
}

TestDataObject* TestDataObject::Wide(const std::vector<std::wstring>& paths) {
    return new TestDataObject(WideList(paths), true, false);
}

TestDataObject* TestDataObject::Ansi(const std::vector<std::string>& paths) {
    return new TestDataObject(AnsiList(paths), false, false);
}

TestDataObject* TestDataObject::Raw(std::vector<BYTE> listBytes, bool wide) {
    return new TestDataObject(std::move(listBytes), wide, false);
}

TestDataObject* TestDataObject::Failing() { return new TestDataObject({}, true, true); }

TestDataObject* TestDataObject::IdListOnly(std::vector<BYTE> cida) {
    TestDataObject* data = new TestDataObject({}, true, true);
    data->m_idList = std::move(cida);
    return data;
}

std::vector<BYTE> IdListBlock(LPCITEMIDLIST parent, const std::vector<LPCITEMIDLIST>& items) {
    std::vector<LPCITEMIDLIST> lists = {parent};
    lists.insert(lists.end(), items.begin(), items.end());
    std::vector<BYTE> block(sizeof(UINT) * (lists.size() + 1));
    const UINT count = static_cast<UINT>(items.size());
    std::memcpy(block.data(), &count, sizeof(count));
    for (size_t i = 0; i < lists.size(); ++i) {
        const UINT offset = static_cast<UINT>(block.size());
        std::memcpy(block.data() + sizeof(UINT) * (i + 1), &offset, sizeof(offset));
        const BYTE* bytes = reinterpret_cast<const BYTE*>(lists[i]);
        block.insert(block.end(), bytes, bytes + ILGetSize(lists[i]));
    }
    return block;
}

std::vector<BYTE> IdListOf(const std::vector<std::wstring>& paths) {
    std::vector<PIDLIST_ABSOLUTE> absolute;
    std::vector<LPCITEMIDLIST> children;
    for (const std::wstring& path : paths) {
        PIDLIST_ABSOLUTE pidl = nullptr;
        if (FAILED(SHParseDisplayName(path.c_str(), nullptr, &pidl, 0, nullptr))) break;
        absolute.push_back(pidl);
        children.push_back(ILFindLastID(pidl));
    }
    std::vector<BYTE> block;
    if (absolute.size() == paths.size() && !paths.empty()) {
        PIDLIST_ABSOLUTE parent = ILClone(absolute.front());
        ILRemoveLastID(parent);
        block = IdListBlock(parent, children);
        CoTaskMemFree(parent);
    }
    for (PIDLIST_ABSOLUTE pidl : absolute) CoTaskMemFree(pidl);
    return block;
}

std::vector<BYTE> AttributesBlock(const std::vector<DWORD>& attributes, UINT count) {
    FILE_ATTRIBUTES_ARRAY header{};
    header.cItems = count;
    for (DWORD a : attributes) {
        header.dwSumFileAttributes |= a;
        header.dwProductFileAttributes &= a;
    }
    const size_t at = offsetof(FILE_ATTRIBUTES_ARRAY, rgdwFileAttributes);
    std::vector<BYTE> block(at + attributes.size() * sizeof(DWORD));
    std::memcpy(block.data(), &header, at);
    if (!attributes.empty()) std::memcpy(block.data() + at, attributes.data(), attributes.size() * sizeof(DWORD));
    return block;
}

HGLOBAL GlobalCopy(const std::vector<BYTE>& bytes) {
    HGLOBAL h = GlobalAlloc(GHND, bytes.empty() ? 1 : bytes.size());  // a block of 0 bytes cannot be locked
    if (!bytes.empty()) std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    return h;
}

STDMETHODIMP TestDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (!(format->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    HGLOBAL block = nullptr;
    if (format->cfFormat == CF_HDROP && !m_fail) {
        block = MakeDropBlock(m_list, m_wide);
    } else if (format->cfFormat == RegisterClipboardFormatW(CFSTR_SHELLIDLIST) && !m_idList.empty()) {
        block = GlobalCopy(m_idList);
    } else if (format->cfFormat == RegisterClipboardFormatW(CFSTR_FILE_ATTRIBUTES_ARRAY)) {
        if (m_attributes.empty()) return DV_E_FORMATETC;
        block = GlobalCopy(m_attributes);
    } else {
        return DV_E_FORMATETC;
    }
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = block;
    medium->pUnkForRelease = nullptr;
    return S_OK;
}

Scratch::Scratch() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    m_dir = std::wstring(temp) + L"qs" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    CreateDirectoryW(m_dir.c_str(), nullptr);
}

Scratch::~Scratch() {
    std::wstring from = m_dir + L'\0';  // double-terminated for SHFileOperationW
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

std::wstring Scratch::File(const std::wstring& relative, const std::string& content) {
    std::wstring path = m_dir + L"\\" + relative;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
    return path;
}

std::wstring Scratch::Folder(const std::wstring& relative) {
    std::wstring path = m_dir + L"\\" + relative;
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

std::vector<MenuEntry> ReadMenu(HMENU menu) {
    std::vector<MenuEntry> entries;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[4096] = L"";
        MENUITEMINFOW mii{};
        mii.cbSize = sizeof(mii);
        mii.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_CHECKMARKS | MIIM_BITMAP;
        mii.dwTypeData = text;
        mii.cch = ARRAYSIZE(text);
        GetMenuItemInfoW(menu, i, TRUE, &mii);
        MenuEntry entry;
        entry.separator = (mii.fType & MFT_SEPARATOR) != 0;
        entry.caption = ShownText(text);
        entry.id = mii.wID;
        entry.checked = mii.hbmpChecked;
        entry.unchecked = mii.hbmpUnchecked;
        entry.item = mii.hbmpItem;
        BITMAP bm{};
        if (entry.checked && GetObjectW(entry.checked, sizeof(bm), &bm)) entry.checkedSize = {bm.bmWidth, bm.bmHeight};
        entries.push_back(entry);
    }
    return entries;
}

HMENU HostMenu(int count) {
    HMENU menu = CreatePopupMenu();
    for (int i = 0; i < count; ++i)
        AppendMenuW(menu, MF_STRING, 1 + i, (L"Host item " + std::to_wstring(i + 1)).c_str());
    return menu;
}

// --- the Windows 11 menu's command ---

namespace {

// One item of a TestItemArray.
class TestItem final : public ComObject<IShellItem, IID_IShellItem> {
public:
    TestItem(std::wstring path, SFGAOF attributes) : m_path(std::move(path)), m_attributes(attributes) {}
    STDMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void** ppv) override { *ppv = nullptr; return E_NOTIMPL; }
    STDMETHODIMP GetParent(IShellItem** parent) override { *parent = nullptr; return E_NOTIMPL; }
    // An item outside the file system has no file-system path.
    STDMETHODIMP GetDisplayName(SIGDN sigdn, LPWSTR* name) override {
        *name = nullptr;
        if (sigdn == SIGDN_FILESYSPATH && !(m_attributes & SFGAO_FILESYSTEM)) return E_INVALIDARG;
        return SHStrDupW(m_path.c_str(), name);
    }
    STDMETHODIMP GetAttributes(SFGAOF mask, SFGAOF* attributes) override {
        *attributes = m_attributes & mask;
        return *attributes == mask ? S_OK : S_FALSE;
    }
    STDMETHODIMP Compare(IShellItem*, SICHINTF, int*) override { return E_NOTIMPL; }

private:
    std::wstring m_path;
    SFGAOF m_attributes;
};

// The subcommand at `index` of a root that was asked for its state.
IExplorerCommand* SubCommandAt(IExplorerCommand* root, size_t index) {
    IEnumExplorerCommand* children = nullptr;
    if (FAILED(root->EnumSubCommands(&children)) || !children) return nullptr;
    IExplorerCommand* child = nullptr;
    ULONG fetched = 0;
    if (index) children->Skip(static_cast<ULONG>(index));
    if (children->Next(1, &child, &fetched) != S_OK || fetched != 1) child = nullptr;
    children->Release();
    return child;
}

}  // namespace

STDMETHODIMP TestItemArray::GetAttributes(SIATTRIBFLAGS, SFGAOF mask, SFGAOF* attributes) {
    *attributes = m_count ? m_attributes & mask : 0;  // every item has the same
    return *attributes == mask ? S_OK : S_FALSE;
}

TestItemArray::~TestItemArray() {
    if (m_dataObject) m_dataObject->Release();
}

STDMETHODIMP TestItemArray::BindToHandler(IBindCtx*, REFGUID handler, REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (m_data == Data::kNone || !IsEqualGUID(handler, BHID_DataObject)) return E_NOTIMPL;
    if (!m_dataObject) {
        std::vector<std::wstring> paths;
        const DWORD listed = m_data == Data::kDropListShortOfOne ? m_count - 1 : m_count;
        for (DWORD i = 0; i < listed; ++i) paths.push_back(m_pathOf(i));
        m_dataObject = m_data == Data::kNoDropList ? TestDataObject::Failing() : TestDataObject::Wide(paths);
    }
    return m_dataObject->QueryInterface(riid, ppv);
}

STDMETHODIMP TestItemArray::GetItemAt(DWORD index, IShellItem** item) {
    *item = nullptr;
    if (index >= m_count) return E_INVALIDARG;
    ++m_made;
    if (index > m_highest) m_highest = index;
    *item = new TestItem(m_pathOf(index), m_attributes);
    return S_OK;
}

IExplorerCommand* CreateCommand() {
    IClassFactory* factory = nullptr;
    if (FAILED(LoadModernDll().getClassObject(kCommandClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    IExplorerCommand* command = nullptr;
    factory->CreateInstance(nullptr, IID_IExplorerCommand, reinterpret_cast<void**>(&command));
    factory->Release();
    return command;
}

CommandMenu RightClickCommand(IShellItemArray* items) { return AskCommandMenu(CreateCommand(), items); }

HRESULT InvokeCommandAt(IShellItemArray* items, size_t index, IUnknown* site, IUnknown* ownSite) {
    IExplorerCommand* root = CreateCommand();
    if (!root) return E_FAIL;
    IUnknown_SetSite(root, site);
    EXPCMDSTATE state = ECS_HIDDEN;
    root->GetState(items, TRUE, &state);
    HRESULT hr = E_INVALIDARG;
    if (IExplorerCommand* child = SubCommandAt(root, index)) {
        hr = InvokeSubCommand(child, items, ownSite);
        child->Release();
    }
    IUnknown_SetSite(root, nullptr);
    root->Release();
    return hr;
}

DPI_AWARENESS_CONTEXT SetThreadDpiAwareness(DPI_AWARENESS_CONTEXT context) {
    using Set = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto set = reinterpret_cast<Set>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    return set ? set(context) : nullptr;
}

bool RedirectImport(HMODULE module, const char* dll, const char* name, void* to) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            if (std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name, name)) continue;
            DWORD was = 0;
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &was);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(to);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), was, &was);
            return true;
        }
    }
    return false;
}
