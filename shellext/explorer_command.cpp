// The Windows 11 menu: IExplorerCommand objects of the shared core.
//
// Explorer creates the root, sets its site, asks its flags, its state for the
// selection (at every right-click, on the shell's thread), its title and icon,
// then enumerates its subcommands without an item array and asks each for its
// title, icon, tooltip and state with the array; a click invokes a subcommand
// with the array. Everything before the click reads the array's count, its
// attributes and its first item only.
#include "explorer_command.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <new>

#include "com.h"
#include "command_shown.h"
#include "core.h"
#include "item_array.h"
#include "module.h"
#include "res/resource.h"
#include "verbs.h"
#include "win32.h"

const CLSID CLSID_QuillShellExplorerCommand = {
    0x3C79CCA4, 0x8665, 0x480D, {0xB4, 0x9E, 0x04, 0x1D, 0xB8, 0x66, 0x90, 0xE3}};

#define QUILL_WIDE_TEXT(x) L## #x
#define QUILL_WIDE(x) QUILL_WIDE_TEXT(x)

namespace {

// Each subcommand's canonical name: fixed, so that Explorer and policies can
// tell the commands apart whatever their captions.
struct CanonicalName {
    int nCommand;
    GUID guid;
};
const CanonicalName kCanonicalNames[] = {
    {kUnpackTo, {0x5716F731, 0x08CC, 0x49B4, {0xA6, 0x98, 0x0E, 0x2A, 0x5C, 0xF5, 0x0C, 0x6D}}},
    {kUnpackHere, {0xB9AFC773, 0x0453, 0x4D7A, {0x84, 0x27, 0x14, 0x19, 0x23, 0xA7, 0xD1, 0x6C}}},
    {kUnpackToFolder, {0xA4E9D025, 0xFF39, 0x433A, {0x9E, 0xD2, 0xEC, 0xB3, 0x99, 0x2E, 0x44, 0x49}}},
    {kTest, {0x3E397C8F, 0xAC82, 0x4F0A, {0xBC, 0x21, 0xA6, 0x0A, 0x6E, 0x01, 0x1E, 0xA6}}},
    {kZipTo, {0x02E033C9, 0xB08B, 0x405A, {0x93, 0x1D, 0x49, 0xB0, 0x86, 0x2C, 0xD5, 0x41}}},
    {kZip, {0x0A13A779, 0x127A, 0x4226, {0xAA, 0x60, 0x1D, 0x4B, 0xE6, 0x45, 0x38, 0xEA}}},
    {kZipWithMPW, {0x2AFDCF58, 0x1BBC, 0x418A, {0x95, 0x0E, 0x58, 0xA9, 0x02, 0x26, 0xA7, 0xFD}}},
};

HRESULT CopyOut(const wchar_t* text, LPWSTR* out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return SHStrDupW(text, out);
}

// "<this DLL's path>,-<icon id>": the shell loads the icon from our resources.
std::wstring IconLocation() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(ModuleInstance(), path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path + L",-" QUILL_WIDE(IDI_MENU);
}

std::wstring HelpText(int nCommand) {
    const VerbInfo* row = FindVerbByCommand(static_cast<UINT_PTR>(nCommand));
    const wchar_t* text = nullptr;
    const int length =
        row ? LoadStringW(ModuleInstance(), static_cast<UINT>(row->nHelpStringId), reinterpret_cast<LPWSTR>(&text), 0)
            : 0;
    return text && length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

// What one item array gets: the group, or nothing for an invalid selection.
struct Classified {
    bool valid = false;
    bool archive = false;
    SelectionHead head;
};
Classified Classify(IShellItemArray* items) {
    Classified c;
    c.valid = ReadSelectionHead(items, &c.head);
    c.archive = c.valid && IsArchiveSelection(CShellUtil(), c.head);
    return c;
}

// Whether a command belongs to the group of such a selection.
bool InGroup(int nCommand, bool archive) {
    const bool extract = nCommand == kUnpackTo || nCommand == kUnpackHere || nCommand == kUnpackToFolder ||
                         nCommand == kTest;
    const bool create = nCommand == kZipTo || nCommand == kZip || nCommand == kZipWithMPW;
    return archive ? extract : create;
}

// IObjectWithSite and the icon of every command.
class CommandBase : public ComObject<IExplorerCommand, IObjectWithSite> {
public:
    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) noexcept override {
        if (site) site->AddRef();
        m_site.reset();
        *m_site.put() = site;
        return S_OK;
    }
    STDMETHODIMP GetSite(REFIID riid, void** ppv) noexcept override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        return m_site ? m_site->QueryInterface(riid, ppv) : E_FAIL;
    }

    // Every command shows the extension's icon.
    STDMETHODIMP GetIcon(IShellItemArray*, LPWSTR* ppszIcon) noexcept override try {
        ModuleStateGuard state;
        return CopyOut(IconLocation().c_str(), ppszIcon);
    } catch (...) {
        return CaughtResult();
    }

    // The window of the site, or null.
    HWND SiteWindow() const noexcept {
        HWND hwnd = nullptr;
        if (!m_site || FAILED(IUnknown_GetWindow(m_site.get(), &hwnd))) return nullptr;
        return hwnd;
    }

private:
    ComPtr<IUnknown> m_site;
};

// The root: "Quillshell", with the group as subcommands.
class CExplorerCommand final : public CommandBase {
public:
    STDMETHODIMP GetTitle(IShellItemArray*, LPWSTR* ppszName) noexcept override {
        return CopyOut(L"Quillshell", ppszName);
    }
    STDMETHODIMP GetToolTip(IShellItemArray*, LPWSTR* ppszInfotip) noexcept override {
        if (ppszInfotip) *ppszInfotip = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetCanonicalName(GUID* pguidCommandName) noexcept override {
        if (!pguidCommandName) return E_POINTER;
        *pguidCommandName = CLSID_QuillShellExplorerCommand;
        return S_OK;
    }
    // Quick at any time (the count, the attributes, the first item), so never
    // E_PENDING. The selection is kept for EnumSubCommands, which gets none.
    STDMETHODIMP GetState(IShellItemArray* psiItemArray, BOOL, EXPCMDSTATE* pCmdState) noexcept override try {
        ModuleStateGuard state;
        if (!pCmdState) return E_POINTER;
        *pCmdState = ECS_HIDDEN;
        m_selection = Classified();
        m_selection = Classify(psiItemArray);
        *pCmdState = m_selection.valid ? ECS_ENABLED : ECS_HIDDEN;
        if (m_selection.valid) RecordCommandShown(m_selection.head);
        return S_OK;
    } catch (...) {
        return CaughtResult();
    }
    STDMETHODIMP Invoke(IShellItemArray*, IBindCtx*) noexcept override { return E_NOTIMPL; }  // only its subcommands run
    STDMETHODIMP GetFlags(EXPCMDFLAGS* pFlags) noexcept override {
        if (!pFlags) return E_POINTER;
        *pFlags = ECF_HASSUBCOMMANDS;
        return S_OK;
    }
    STDMETHODIMP EnumSubCommands(IEnumExplorerCommand** ppEnum) noexcept override;

private:
    Classified m_selection;  // the one GetState was last asked about
};

// One command of the group.
class CSubCommand final : public CommandBase {
public:
    CSubCommand(CExplorerCommand* root, GroupItem item) noexcept : m_item(std::move(item)) {
        root->AddRef();
        *m_root.put() = root;
    }

    // The caption for the array when it is given (the same item of its group),
    // else the one made for the root's selection.
    STDMETHODIMP GetTitle(IShellItemArray* psiItemArray, LPWSTR* ppszName) noexcept override try {
        ModuleStateGuard state;
        const Classified c = Classify(psiItemArray);
        if (c.valid && InGroup(m_item.nCommand, c.archive)) {
            for (const GroupItem& item : MakeGroup(CShellUtil(), c.head, c.archive).items)
                if (item.nCommand == m_item.nCommand) return CopyOut(MenuText(item.strCaption).c_str(), ppszName);
        }
        return CopyOut(MenuText(m_item.strCaption).c_str(), ppszName);
    } catch (...) {
        return CaughtResult();
    }
    STDMETHODIMP GetToolTip(IShellItemArray*, LPWSTR* ppszInfotip) noexcept override try {
        ModuleStateGuard state;
        return CopyOut(HelpText(m_item.nCommand).c_str(), ppszInfotip);
    } catch (...) {
        return CaughtResult();
    }
    STDMETHODIMP GetCanonicalName(GUID* pguidCommandName) noexcept override {
        if (!pguidCommandName) return E_POINTER;
        *pguidCommandName = GUID_NULL;
        for (const CanonicalName& name : kCanonicalNames)
            if (name.nCommand == m_item.nCommand) *pguidCommandName = name.guid;
        return S_OK;
    }
    // Hidden for an array whose group does not hold this command.
    STDMETHODIMP GetState(IShellItemArray* psiItemArray, BOOL, EXPCMDSTATE* pCmdState) noexcept override try {
        ModuleStateGuard state;
        if (!pCmdState) return E_POINTER;
        *pCmdState = ECS_HIDDEN;
        if (!psiItemArray) {
            *pCmdState = ECS_ENABLED;
            return S_OK;
        }
        const Classified c = Classify(psiItemArray);
        *pCmdState = c.valid && InGroup(m_item.nCommand, c.archive) ? ECS_ENABLED : ECS_HIDDEN;
        return S_OK;
    } catch (...) {
        return CaughtResult();
    }
    STDMETHODIMP Invoke(IShellItemArray* psiItemArray, IBindCtx* pbc) noexcept override;
    STDMETHODIMP GetFlags(EXPCMDFLAGS* pFlags) noexcept override {
        if (!pFlags) return E_POINTER;
        *pFlags = ECF_DEFAULT;
        return S_OK;
    }
    STDMETHODIMP EnumSubCommands(IEnumExplorerCommand** ppEnum) noexcept override {
        if (ppEnum) *ppEnum = nullptr;
        return E_NOTIMPL;
    }

private:
    ComPtr<CExplorerCommand> m_root;  // its site owns the box when this command has none
    GroupItem m_item;
};

// Exactly what a click on the same classic item does, with the whole array.
STDMETHODIMP CSubCommand::Invoke(IShellItemArray* psiItemArray, IBindCtx*) noexcept try {
    ModuleStateGuard state;
    ForgetCommandShown();  // the menu it was written for is closed
    const Classified c = Classify(psiItemArray);
    if (!c.valid || !InGroup(m_item.nCommand, c.archive)) return E_INVALIDARG;
    std::vector<std::wstring> paths;
    if (!ReadSelectionPaths(psiItemArray, &paths)) return E_INVALIDARG;
    const CommandGroup group = MakeGroup(CShellUtil(), c.head, c.archive);
    std::wstring directory;
    ReadProgramFolder(directory);
    HWND hwnd = SiteWindow();
    if (!hwnd) hwnd = m_root->SiteWindow();
    // As the classic InvokeCommand: S_OK once dispatched; a failed start
    // was shown to the user.
    StartCommand({static_cast<UINT>(m_item.nCommand), paths, group.zipName, paths.back(), directory}, hwnd, false);
    return S_OK;
} catch (...) {
    return CaughtResult();
}

// The subcommands of one selection, each made when it is asked for.
class CEnumSubCommands final : public ComObject<IEnumExplorerCommand> {
public:
    CEnumSubCommands(CExplorerCommand* root, std::vector<GroupItem> items) noexcept : m_items(std::move(items)) {
        root->AddRef();
        *m_root.put() = root;
    }

    // All or nothing: the caller's array gets the commands only once every
    // one is made; on a failure it holds nulls and the position stays.
    STDMETHODIMP Next(ULONG celt, IExplorerCommand** pUICommand, ULONG* pceltFetched) noexcept override try {
        if (pceltFetched) *pceltFetched = 0;
        if (!pUICommand || (celt > 1 && !pceltFetched)) return E_POINTER;
        for (ULONG i = 0; i < celt; ++i) pUICommand[i] = nullptr;
        std::vector<ComPtr<IExplorerCommand>> made;
        for (size_t next = m_next; made.size() < celt && next < m_items.size(); ++next) {
            made.emplace_back();
            const HRESULT hr = CreateComObject<CSubCommand>(IID_IExplorerCommand, made.back().put_void(), m_root.get(),
                                                            m_items[next]);
            if (FAILED(hr)) return hr;
        }
        for (size_t i = 0; i < made.size(); ++i) pUICommand[i] = made[i].detach();
        const auto fetched = static_cast<ULONG>(made.size());
        m_next += fetched;
        if (pceltFetched) *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    } catch (...) {
        return CaughtResult();
    }
    STDMETHODIMP Skip(ULONG celt) noexcept override {
        const size_t left = m_items.size() - m_next;
        m_next += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() noexcept override {
        m_next = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumExplorerCommand** ppenum) noexcept override {
        if (ppenum) *ppenum = nullptr;
        return E_NOTIMPL;
    }

private:
    ComPtr<CExplorerCommand> m_root;
    std::vector<GroupItem> m_items;
    size_t m_next = 0;
};

STDMETHODIMP CExplorerCommand::EnumSubCommands(IEnumExplorerCommand** ppEnum) noexcept try {
    ModuleStateGuard state;
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    // No selection asked about, or an invalid one: no subcommands.
    std::vector<GroupItem> items;
    if (m_selection.valid) items = MakeGroup(CShellUtil(), m_selection.head, m_selection.archive).items;
    auto* enumerator = new (std::nothrow) CEnumSubCommands(this, std::move(items));
    if (!enumerator) return E_OUTOFMEMORY;
    *ppEnum = enumerator;
    return S_OK;
} catch (...) {
    return CaughtResult();
}

}  // namespace

HRESULT CreateExplorerCommand(REFIID riid, void** ppv) { return CreateComObject<CExplorerCommand>(riid, ppv); }
