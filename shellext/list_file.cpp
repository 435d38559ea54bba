// CShellUtil::WriteSelectionList: the list file handed to TarnwickUnzip.exe.
#include <windows.h>
#include <objbase.h>

#include <new>

#include "list_bytes.h"
#include "shell_util.h"
#include "win32.h"

namespace {

// A list file's path stays below MAX_PATH, as it always did: Windows with long
// paths enabled would otherwise accept a longer one that older readers cannot open.
constexpr size_t kMaxPathLength = MAX_PATH - 1;

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

const HRESULT kPathTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

// A character above U+00FF has no byte in the file. The item's short name
// usually has none (it is made of OEM characters), and opens the same item.
bool ShortForm(const std::wstring& path, std::wstring& shortPath) {
    DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size == 0) return false;
    shortPath.assign(size, L'\0');
    DWORD length = GetShortPathNameW(path.c_str(), shortPath.data(), size);
    if (length == 0 || length >= size) return false;
    shortPath.resize(length);
    return true;
}

// Every entry in memory first: the file is then written with a single call,
// and a path that cannot be written is found before any file exists. One
// allocation, each entry written in place, in one pass.
bool BuildContent(const std::vector<std::wstring>& files, std::string& bytes, CShellUtil::ListFileFailure& why) {
    size_t total = 0;
    for (const std::wstring& path : files) total += path.size() + 1;
    bytes.resize(total);
    size_t at = 0, i = 0;
    for (; i < files.size() && WriteListEntry(files[i], &bytes[at]); ++i) at += files[i].size() + 1;
    bytes.resize(at);
    // From the first path with a character above U+00FF on, entries are
    // appended: a short form may be longer or shorter than its path.
    std::wstring shortPath;
    for (; i < files.size(); ++i) {
        const std::wstring& path = files[i];
        if (!AppendListEntry(bytes, path) && !(ShortForm(path, shortPath) && AppendListEntry(bytes, shortPath))) {
            why.code = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
            why.path = path;
            return false;
        }
    }
    return true;
}

// <temp folder><GUID without braces>.txt
bool NewListFileName(std::wstring& name, CShellUtil::ListFileFailure& why) {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(ARRAYSIZE(temp), temp);
    if (length == 0 || length >= ARRAYSIZE(temp)) {
        why.code = length ? kPathTooLong : LastError();
        return false;
    }
    GUID guid;
    HRESULT hr = CoCreateGuid(&guid);
    if (hr != S_OK) {
        why.code = FAILED(hr) ? hr : E_FAIL;
        return false;
    }
    wchar_t text[40];
    StringFromGUID2(guid, text, ARRAYSIZE(text));
    name.assign(temp, length);
    for (const wchar_t* c = text; *c; ++c) {
        if (*c != L'{' && *c != L'}') name += *c;
    }
    name += L".txt";
    if (name.size() > kMaxPathLength) {
        why.code = kPathTooLong;
        return false;
    }
    return true;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(file, p, chunk, &written, nullptr) || written == 0) return false;
        p += written;
        left -= written;
    }
    return true;
}

}  // namespace

std::wstring CShellUtil::WriteSelectionList(const std::vector<std::wstring>& files, ListFileFailure* failure) const {
    ListFileFailure ignored;
    ListFileFailure& why = failure ? *failure : ignored;
    why.code = 0;
    why.path.clear();
    if (files.empty()) return {};
    try {
        std::string bytes;
        std::wstring name;
        if (!BuildContent(files, bytes, why) || !NewListFileName(name, why)) return {};

        // CREATE_NEW: a file of that name, however unlikely, is never opened or
        // emptied. Others may read it while it is written.
        UniqueFile file(CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            why.code = LastError();
            return {};
        }
        // Nobody would ever read or remove a half-written file.
        if (!WriteAll(file.get(), bytes) || !CloseHandle(file.release())) {
            why.code = LastError();
            file.reset();
            DeleteFileW(name.c_str());
            return {};
        }
        return name;
    } catch (const std::bad_alloc&) {
        why.code = E_OUTOFMEMORY;
        return {};
    }
}
