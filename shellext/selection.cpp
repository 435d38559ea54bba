// Initialize: the selection handed over by the shell, and the archive test.
#include <shlobj.h>

#include <algorithm>

#include "context_menu.h"
#include "drop_files.h"
#include "module.h"

namespace {

// Registered formats keep their number for the whole session.
CLIPFORMAT IdListFormat() {
    static const CLIPFORMAT format = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST));
    return format;
}
CLIPFORMAT AttributesFormat() {
    static const CLIPFORMAT format = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_FILE_ATTRIBUTES_ARRAY));
    return format;
}

// The data object's block in format `format`, or false.
bool GetGlobal(IDataObject* data, CLIPFORMAT format, UniqueStgMedium& medium) {
    FORMATETC request = {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return format && SUCCEEDED(data->GetData(&request, medium.put())) && medium.get().tymed == TYMED_HGLOBAL;
}

std::vector<std::wstring> ReadSelection(IDataObject* data) {
    UniqueStgMedium drop;
    if (GetGlobal(data, CF_HDROP, drop)) return ReadDropFiles(drop.get().hGlobal);
    // Windows 10 and later refuse the drop list when a path has MAX_PATH
    // characters or more; the ID list names every item.
    UniqueStgMedium ids;
    if (GetGlobal(data, IdListFormat(), ids)) return ReadIdListPaths(ids.get().hGlobal);
    return {};
}

// A share (\\server\share), where a folder test may wait for the network.
bool OnShare(const std::wstring& path) {
    return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.';
}

// Whether the first item (at `path`) is a folder, as Explorer already knows
// it: asking the file system on the shell's thread could stall the menu on an
// unreachable share. The attributes the data object carries, else, for an
// item on the network, the shell's answer for the first item of its ID list;
// kAskDisk when neither says. A local disk answers at once, and much sooner
// than the shell, which binds every folder of the path.
SelectionHead::Folder FirstFolder(IDataObject* data, size_t items, const std::wstring& path) {
    UniqueStgMedium array;
    if (GetGlobal(data, AttributesFormat(), array)) {
        const std::vector<DWORD> attributes = ReadFileAttributes(array.get().hGlobal, items);
        if (!attributes.empty())
            return (attributes.front() & FILE_ATTRIBUTE_DIRECTORY) ? SelectionHead::kFolder : SelectionHead::kNoFolder;
    }
    if (!OnShare(path)) return SelectionHead::kAskDisk;
    // One item: the array's attributes are its own. A .zip is a shell folder
    // too (SFGAO_FOLDER | SFGAO_STREAM); only a folder without a stream is one
    // of the file system.
    ComPtr<IShellItemArray> shellItems;
    SFGAOF attributes = 0;
    if (FAILED(SHCreateShellItemArrayFromDataObject(data, IID_PPV_ARGS(shellItems.put()))) ||
        FAILED(shellItems->GetAttributes(SIATTRIBFLAGS_AND, SFGAO_FOLDER | SFGAO_STREAM, &attributes)))
        return SelectionHead::kAskDisk;
    return (attributes & (SFGAO_FOLDER | SFGAO_STREAM)) == SFGAO_FOLDER ? SelectionHead::kFolder
                                                                       : SelectionHead::kNoFolder;
}

SelectionHead HeadOf(const std::vector<std::wstring>& paths, SelectionHead::Folder firstFolder) {
    SelectionHead head;
    head.count = paths.size();
    if (!paths.empty()) head.first = paths.front();
    head.firstFolder = firstFolder;
    return head;
}

}  // namespace

// Initialize can be called more than once: each call starts a fresh selection.
STDMETHODIMP CContextMenu::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pdtobj, HKEY) noexcept try {
    m_bSelectionValid = FALSE;
    m_bIsArchive = FALSE;
    m_selectedFiles.clear();
    m_firstFolder = SelectionHead::kAskDisk;
    m_currentFile.clear();
    m_zipName = L"NULL";  // inline buffer: cannot throw
    if (m_pDataObject) {
        m_pDataObject->Release();
        m_pDataObject = nullptr;
    }
    if (!pdtobj) return S_OK;
    m_pDataObject = pdtobj;
    m_pDataObject->AddRef();

    std::vector<std::wstring> paths = ReadSelection(pdtobj);
    std::wstring last = paths.empty() ? std::wstring() : paths.back();
    const size_t items = paths.size();
    paths.erase(std::remove_if(paths.begin(), paths.end(), [](const std::wstring& p) { return p.empty(); }),
                paths.end());
    // A selection with an unreadable item gets no menu.
    const bool complete = items > 0 && paths.size() == items;
    SelectionHead head = HeadOf(paths, SelectionHead::kAskDisk);
    // One item's group depends on it (the archive test, the zip's name); several
    // items' only in a drive's root, which is no share.
    if (complete && items == 1) head.firstFolder = FirstFolder(pdtobj, items, head.first);
    const bool archive = paths.size() == 1 && IsArchiveSelection(m_util, head);

    // Nothing above changed the handler: a failure leaves an empty selection.
    m_selectedFiles = std::move(paths);
    m_firstFolder = head.firstFolder;
    m_currentFile = std::move(last);
    m_bSelectionValid = complete;
    m_bIsArchive = archive;
    return S_OK;
} catch (...) {
    return CaughtResult();
}

SelectionHead CContextMenu::Head() const { return HeadOf(m_selectedFiles, m_firstFolder); }
