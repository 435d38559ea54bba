// The selection of the Windows 11 menu: paths by SIGDN_FILESYSPATH, folders
// as the shell already knows them.
#include "item_array.h"

#include "win32.h"

namespace {

// An item's file-system path, with a \\?\ prefix dropped where the path does
// not need it (as the classic handler reads it); empty when it has none.
std::wstring ItemPath(IShellItem* item) {
    UniqueCoTaskString name;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, name.put())) || !name) return {};
    return CShellUtil().WithoutLongPathPrefix(name.get());
}

// A .zip is a shell folder too (SFGAO_FOLDER | SFGAO_STREAM); only a folder
// without a stream is one of the file system.
SelectionHead::Folder FolderOf(IShellItem* item) {
    SFGAOF attributes = 0;
    if (FAILED(item->GetAttributes(SFGAO_FOLDER | SFGAO_STREAM, &attributes))) return SelectionHead::kAskDisk;
    return (attributes & (SFGAO_FOLDER | SFGAO_STREAM)) == SFGAO_FOLDER ? SelectionHead::kFolder
                                                                       : SelectionHead::kNoFolder;
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
