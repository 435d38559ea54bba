#include "drop_files.h"

#include <shellapi.h>
#include <shlobj.h>

#include <shlwapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "drop_list.h"
#include "shell_util.h"
#include "win32.h"

namespace {

std::wstring FromAnsi(const char* text, size_t length) {
    if (length == 0) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide.data(), n);
    return wide;
}

}  // namespace

// The count comes from this walk, not from DragQueryFileW(0xFFFFFFFF), which
// looks for the list's end without regard to the block's size.
std::vector<std::wstring> ReadDropFiles(HGLOBAL hDrop) {
    static_assert(sizeof(DROPFILES) == 20 && offsetof(DROPFILES, fWide) == 16, "the layout drop_list.cpp reads");
    LockedGlobal lock(hDrop);
    const auto* block = static_cast<const BYTE*>(lock.get());
    const DropList list = ParseDropList(block, lock.size());
    std::vector<std::wstring> paths;
    paths.reserve(list.items.size() + list.cut);
    for (const DropList::Item& item : list.items) {
        if (list.wide) {
            std::wstring path(item.length, L'\0');
            std::memcpy(path.data(), block + item.at, item.length * sizeof(wchar_t));  // pFiles may be odd
            paths.push_back(std::move(path));
        } else {
            paths.push_back(FromAnsi(reinterpret_cast<const char*>(block + item.at), item.length));
        }
    }
    if (list.cut) paths.emplace_back();  // what lies beyond the block cannot be read
    return paths;
}

namespace {

// Byte length of the ID list at `at`, its terminating zero included; 0 when
// it does not end inside the block.
size_t IdListSize(const BYTE* block, size_t size, size_t at) {
    size_t p = at;
    for (;;) {
        if (p > size || size - p < sizeof(USHORT)) return 0;
        USHORT cb;
        std::memcpy(&cb, block + p, sizeof(cb));
        if (cb == 0) return p + sizeof(USHORT) - at;
        if (cb < sizeof(USHORT)) return 0;  // would never move on
        p += cb;
    }
}

bool IsSingleLevel(LPCITEMIDLIST pidl) { return pidl->mkid.cb && ILGetNext(pidl)->mkid.cb == 0; }

template <typename T>
struct ComRelease {
    void operator()(T* p) const { p->Release(); }
};
struct CoTaskFree {
    void operator()(void* p) const { CoTaskMemFree(p); }
};
using FolderPtr = std::unique_ptr<IShellFolder, ComRelease<IShellFolder>>;

// The parsing name of a file-system item is its path, of any length (a
// STRRET can carry more than MAX_PATH); an item that is not in the file
// system has none.
std::wstring FileSystemPath(IShellFolder* folder, PCUITEMID_CHILD child) {
    SFGAOF attributes = SFGAO_FILESYSTEM;
    if (FAILED(folder->GetAttributesOf(1, &child, &attributes)) || !(attributes & SFGAO_FILESYSTEM)) return {};
    STRRET name{};
    if (FAILED(folder->GetDisplayNameOf(child, SHGDN_FORPARSING, &name))) return {};
    PWSTR text = nullptr;
    if (FAILED(StrRetToStrW(&name, child, &text)) || !text) return {};
    std::unique_ptr<wchar_t, CoTaskFree> owned(text);
    return CShellUtil().WithoutLongPathPrefix(owned.get());
}

// An item deeper than one level below the parent (as in search results):
// through its own parent folder.
std::wstring FileSystemPath(LPCITEMIDLIST parent, LPCITEMIDLIST item) {
    std::unique_ptr<ITEMIDLIST, CoTaskFree> full(ILCombine(parent, item));
    if (!full) return {};
    IShellFolder* folder = nullptr;
    PCUITEMID_CHILD child = nullptr;
    if (FAILED(SHBindToParent(full.get(), IID_IShellFolder, reinterpret_cast<void**>(&folder), &child)) || !folder)
        return {};
    FolderPtr owner(folder);
    return FileSystemPath(folder, child);
}

FolderPtr BindFolder(LPCITEMIDLIST pidl) {
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop)) || !desktop) return nullptr;
    FolderPtr owner(desktop);
    if (pidl->mkid.cb == 0) return owner;
    IShellFolder* folder = nullptr;
    if (FAILED(desktop->BindToObject(pidl, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder)))) return nullptr;
    return FolderPtr(folder);
}

}  // namespace

std::vector<std::wstring> ReadIdListPaths(HGLOBAL hIda) {
    LockedGlobal lock(hIda);
    const auto* block = static_cast<const BYTE*>(lock.get());
    const size_t size = lock.size();
    UINT count = 0;
    if (!block || size < sizeof(UINT)) return {};
    std::memcpy(&count, block, sizeof(count));
    // cidl, then the offset of the parent folder's list and one per item.
    if (count == 0 || (size - sizeof(UINT)) / sizeof(UINT) < static_cast<size_t>(count) + 1) return {};
    auto offset = [&](size_t i) {
        UINT at;
        std::memcpy(&at, block + sizeof(UINT) * (i + 1), sizeof(at));
        return static_cast<size_t>(at);
    };
    std::vector<std::wstring> paths(count);
    const size_t parentAt = offset(0);
    if (IdListSize(block, size, parentAt) == 0) return paths;
    const auto parent = reinterpret_cast<LPCITEMIDLIST>(block + parentAt);
    FolderPtr folder;  // bound on first need, once for all items
    bool bound = false;
    for (UINT i = 0; i < count; ++i) {
        const size_t at = offset(i + 1);
        if (IdListSize(block, size, at) == 0) continue;
        const auto item = reinterpret_cast<LPCITEMIDLIST>(block + at);
        if (!IsSingleLevel(item)) {
            paths[i] = FileSystemPath(parent, item);
            continue;
        }
        if (!bound) {
            folder = BindFolder(parent);
            bound = true;
        }
        if (folder) paths[i] = FileSystemPath(folder.get(), reinterpret_cast<PCUITEMID_CHILD>(item));
    }
    return paths;
}

std::vector<DWORD> ReadFileAttributes(HGLOBAL hArray, size_t items) {
    LockedGlobal lock(hArray);
    const auto* block = static_cast<const BYTE*>(lock.get());
    const size_t size = lock.size();
    constexpr size_t kHeader = offsetof(FILE_ATTRIBUTES_ARRAY, rgdwFileAttributes);
    if (!block || size < kHeader || items == 0 || (size - kHeader) / sizeof(DWORD) < items) return {};
    UINT count = 0;
    std::memcpy(&count, block, sizeof(count));
    if (count != items) return {};
    std::vector<DWORD> attributes(items);
    std::memcpy(attributes.data(), block + kHeader, items * sizeof(DWORD));
    return attributes;
}
