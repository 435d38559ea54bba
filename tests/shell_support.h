// Shell-side helpers for tests: handlers from the DLL, data objects (the
// shell's own and hand-built ones), files on disk and menus read back.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

#include "com_object.h"
#include "command_menu.h"

// A fresh handler from the loaded DLL's class factory, as IContextMenu.
IContextMenu* CreateHandler();
// Initialize through the handler's IShellExtInit face.
HRESULT InitializeHandler(IContextMenu* handler, IDataObject* data);

// The shell's own data object for existing items that share one folder.
IDataObject* ShellDataObject(const std::vector<std::wstring>& paths);

// A data object of our own: CF_HDROP from the given paths as a wide or ANSI
// DROPFILES block, or a failing GetData; optionally the shell's ID list
// (CFSTR_SHELLIDLIST) and the items' attributes (CFSTR_FILE_ATTRIBUTES_ARRAY),
// as Explorer's data objects offer them. Counts its references.
class TestDataObject final : public ComObject<IDataObject, IID_IDataObject> {
public:
    static TestDataObject* Wide(const std::vector<std::wstring>& paths);
    static TestDataObject* Ansi(const std::vector<std::string>& paths);
    static TestDataObject* Raw(std::vector<BYTE> listBytes, bool wide);  // bytes after the header
    static TestDataObject* Failing();
    // Only the ID list: CF_HDROP refused, as Windows 10 refuses it for long paths.
    static TestDataObject* IdListOnly(std::vector<BYTE> cida);

    TestDataObject* WithAttributes(std::vector<BYTE> array) {
        m_attributes = std::move(array);
        return this;
    }
    TestDataObject* WithIdList(std::vector<BYTE> cida) {
        m_idList = std::move(cida);
        return this;
    }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    TestDataObject(std::vector<BYTE> list, bool wide, bool fail) : m_list(std::move(list)), m_wide(wide), m_fail(fail) {}
    std::vector<BYTE> m_list;
    bool m_wide;
    bool m_fail;  // no drop list
    std::vector<BYTE> m_idList, m_attributes;  // empty: not offered
};

// A CIDA block: the parent folder's ID list, then each item's, relative to it.
std::vector<BYTE> IdListBlock(LPCITEMIDLIST parent, const std::vector<LPCITEMIDLIST>& items);
// The CIDA of existing items of one folder, as the shell would make it.
std::vector<BYTE> IdListOf(const std::vector<std::wstring>& paths);
// A FILE_ATTRIBUTES_ARRAY block; `count` stands in its cItems.
std::vector<BYTE> AttributesBlock(const std::vector<DWORD>& attributes, UINT count);

// The bytes of a drop list after its header: each path and its terminator,
// then the empty string that ends the list.
std::vector<BYTE> WideList(const std::vector<std::wstring>& paths);
std::vector<BYTE> AnsiList(const std::vector<std::string>& paths);

// A DROPFILES block in global memory (list bytes after the header).
HGLOBAL MakeDropBlock(const std::vector<BYTE>& listBytes, bool wide);
// A movable block holding these bytes (one zero byte when there are none).
HGLOBAL GlobalCopy(const std::vector<BYTE>& bytes);

// Files and folders for a test, removed again when it ends.
class Scratch {
public:
    Scratch();  // a fresh folder under the temp folder
    ~Scratch();
    const std::wstring& dir() const { return m_dir; }
    std::wstring File(const std::wstring& relative, const std::string& content = "x");
    std::wstring Folder(const std::wstring& relative);

private:
    std::wstring m_dir;
};

struct MenuEntry {
    bool separator = false;
    std::wstring caption;  // as shown
    UINT id = 0;
    HBITMAP checked = nullptr;
    HBITMAP unchecked = nullptr;
    SIZE checkedSize{};  // of the checked bitmap, read with the menu
    HBITMAP item = nullptr;  // the item bitmap beside the text
};
std::vector<MenuEntry> ReadMenu(HMENU menu);

// A popup menu that already holds `count` items of the host's own.
HMENU HostMenu(int count);

// --- the Windows 11 menu's command (quillshell-modern.dll) ---

// An item array of our own, as large as wanted: item i (path pathOf(i), every
// item with the same attributes) is made when it is asked for, and counted.
// BindToHandler(BHID_DataObject) gives what `data` says (Wine's own arrays
// answer E_NOTIMPL; Windows' give the selection's data object).
class TestItemArray final : public ComObject<IShellItemArray, IID_IShellItemArray> {
public:
    enum class Data { kNone, kDropList, kNoDropList, kDropListShortOfOne };
    TestItemArray(DWORD count, std::function<std::wstring(DWORD)> pathOf, SFGAOF attributes, Data data = Data::kNone)
        : m_count(count), m_pathOf(std::move(pathOf)), m_attributes(attributes), m_data(data) {}
    ~TestItemArray() override;
    DWORD itemsMade() const { return m_made; }     // GetItemAt calls
    DWORD highestItem() const { return m_highest; }  // the highest index asked for
    void ResetCounts() { m_made = m_highest = 0; }

    STDMETHODIMP BindToHandler(IBindCtx*, REFGUID handler, REFIID riid, void** ppv) override;
    STDMETHODIMP GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void** ppv) override { *ppv = nullptr; return E_NOTIMPL; }
    STDMETHODIMP GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void** ppv) override { *ppv = nullptr; return E_NOTIMPL; }
    STDMETHODIMP GetAttributes(SIATTRIBFLAGS flags, SFGAOF mask, SFGAOF* attributes) override;
    STDMETHODIMP GetCount(DWORD* count) override { *count = m_count; return S_OK; }
    STDMETHODIMP GetItemAt(DWORD index, IShellItem** item) override;
    STDMETHODIMP EnumItems(IEnumShellItems** items) override { *items = nullptr; return E_NOTIMPL; }

private:
    DWORD m_count;
    std::function<std::wstring(DWORD)> m_pathOf;
    SFGAOF m_attributes;
    Data m_data;
    IDataObject* m_dataObject = nullptr;  // made on first use, as the shell renders it once
    DWORD m_made = 0, m_highest = 0;
};

// A fresh root from the loaded DLL's class factory, as IExplorerCommand.
IExplorerCommand* CreateCommand();
// A fresh root asked as AskCommandMenu asks it.
CommandMenu RightClickCommand(IShellItemArray* items);
// A click on the subcommand at `index`: the root with `site` set asked for its
// state and subcommands, then the subcommand (with `ownSite`, when given)
// invoked with the array.
HRESULT InvokeCommandAt(IShellItemArray* items, size_t index, IUnknown* site = nullptr, IUnknown* ownSite = nullptr);

// This thread's DPI awareness (Windows 10 1607 and later); the earlier one, or
// null where the system cannot set it.
DPI_AWARENESS_CONTEXT SetThreadDpiAwareness(DPI_AWARENESS_CONTEXT context);

// Points `module`'s import of `name` from `dll` at `to`, so that a test can
// stand in for a system function the DLL calls; false if it has no such import.
bool RedirectImport(HMODULE module, const char* dll, const char* name, void* to);
