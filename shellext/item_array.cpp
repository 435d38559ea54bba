// The selection of the Windows 11 menu: paths by SIGDN_FILESYSPATH, folders
// as the shell already knows them.
#include "item_array.h"

#include <shlguid.h>

#include "drop_files.h"
#include "win32.h"

namespace {

// A .zip is a shell folder too (SFGAO_FOLDER | SFGAO_STREAM); only a folder
// without a stream is one of the file system.
SelectionHead::Folder FolderOf(IShellItem* item) {
    SFGAOF attributes = 0;
    if (FAILED(item->GetAttributes(SFGAO_FOLDER | SFGAO_STREAM, &attributes))) return SelectionHead::kAskDisk;
    return (attributes & (SFGAO_FOLDER | SFGAO_STREAM)) == SFGAO_FOLDER ? SelectionHead::kFolder
                                                                       : SelectionHead::kNoFolder;
}

// An item's file-system path, with a \\?\ prefix dropped where the path does
// not need it (as the classic handler reads it); empty when it has none.
std::wstring ItemPath(IShellItem* item) {
    UniqueCoTaskString name;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, name.put())) || !name) return {};
    return CShellUtil().WithoutLongPathPrefix(name.get());
}

// Every path in one call: the selection's data object and its drop list, read
// within its block by the classic handler's parser. False when the array gives
// no data object, the object no drop list, or a list that does not name every
// item (Windows 10 and later refuse the drop list when a path has MAX_PATH
// characters or more).
bool ReadDropList(IShellItemArray* items, DWORD count, std::vector<std::wstring>* paths) {
    ComPtr<IDataObject> data;
    if (FAILED(items->BindToHandler(nullptr, BHID_DataObject, IID_IDataObject, data.put_void())) || !data)
        return false;
    FORMATETC request = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    UniqueStgMedium medium;
    if (FAILED(data->GetData(&request, medium.put())) || medium.get().tymed != TYMED_HGLOBAL) return false;
    std::vector<std::wstring> read = ReadDropFiles(medium.get().hGlobal);
    if (read.size() != count) return false;
    for (const std::wstring& path : read)
        if (path.empty()) return false;
    *paths = std::move(read);
    return true;
}

}  // namespace

bool ReadSelectionHead(IShellItemArray* items, SelectionHead* head) {
    DWORD count = 0;
    if (!items || FAILED(items->GetCount(&count)) || count == 0) return false;
    // One answer for all items; S_FALSE when some item lacks the attribute.
    SFGAOF all = 0;
    if (FAILED(items->GetAttributes(SIATTRIBFLAGS_AND, SFGAO_FILESYSTEM, &all)) || !(all & SFGAO_FILESYSTEM))
        return false;
    ComPtr<IShellItem> first;
    if (FAILED(items->GetItemAt(0, first.put())) || !first) return false;
    std::wstring path = ItemPath(first.get());
    if (path.empty()) return false;
    head->count = count;
    head->first = std::move(path);
    head->firstFolder = FolderOf(first.get());
    return true;
}

bool ReadSelectionPaths(IShellItemArray* items, std::vector<std::wstring>* paths) {
    DWORD count = 0;
    if (!items || FAILED(items->GetCount(&count)) || count == 0) return false;
    // The command runs in the COM Surrogate: each item read below is two calls
    // into Explorer's process, the data object one.
    if (ReadDropList(items, count, paths)) return true;
    std::vector<std::wstring> read;
    read.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IShellItem> item;
        if (FAILED(items->GetItemAt(i, item.put())) || !item) return false;
        read.push_back(ItemPath(item.get()));
        if (read.back().empty()) return false;
    }
    *paths = std::move(read);
    return true;
}
