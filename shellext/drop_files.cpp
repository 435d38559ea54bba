#include "drop_files.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>

#include "win32.h"

namespace {

// One NUL-terminated string of CharT starting at byte offset `at`, or false if
// its terminator lies beyond the block.
template <typename CharT>
bool NextString(const BYTE* block, size_t size, size_t& at, const CharT*& text, size_t& length) {
    const size_t room = at < size ? (size - at) / sizeof(CharT) : 0;
    text = reinterpret_cast<const CharT*>(block + at);
    const CharT* end = std::find(text, text + room, CharT(0));
    if (end == text + room) return false;
    length = static_cast<size_t>(end - text);
    at += (length + 1) * sizeof(CharT);
    return true;
}

std::wstring FromAnsi(const char* text, size_t length) {
    if (length == 0) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide.data(), n);
    return wide;
}

}  // namespace

std::vector<std::wstring> ReadDropFiles(HGLOBAL hDrop) {
    const UINT count = DragQueryFileW(static_cast<HDROP>(hDrop), 0xFFFFFFFF, nullptr, 0);
    LockedGlobal lock(hDrop);
    const auto* block = static_cast<const BYTE*>(lock.get());
    const size_t size = lock.size();
    if (!block || size < sizeof(DROPFILES) || count == 0) return std::vector<std::wstring>(count);

    DROPFILES header;
    std::memcpy(&header, block, sizeof(header));
    std::vector<std::wstring> paths;
    paths.reserve(std::min<size_t>(count, size));
    size_t at = header.pFiles;
    for (UINT i = 0; i < count; ++i) {
        size_t length = 0;
        if (header.fWide) {
            const wchar_t* text = nullptr;
            if (!NextString(block, size, at, text, length)) break;
            paths.emplace_back(text, length);
        } else {
            const char* text = nullptr;
            if (!NextString(block, size, at, text, length)) break;
            paths.push_back(FromAnsi(text, length));
        }
    }
    paths.resize(count);  // unreadable items stay empty
    return paths;
}
