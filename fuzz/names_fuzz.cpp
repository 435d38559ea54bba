// The name and path helpers: what each result must be, whatever the path.
#include <cwctype>

#include "fuzz_input.h"
#include "shell_util.h"

namespace {

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
bool IsSpace(wchar_t c) { return std::iswspace(static_cast<std::wint_t>(c)) != 0; }
bool HasBackslash(const std::wstring& s) { return s.find(L'\\') != std::wstring::npos; }

// `inner` is `outer` with white space (only) taken off both ends.
bool IsTrimmedOf(const std::wstring& inner, const std::wstring& outer) {
    if (!inner.empty() && (IsSpace(inner.front()) || IsSpace(inner.back()))) return false;
    const size_t at = inner.empty() ? 0 : outer.find(inner);
    if (at == std::wstring::npos) return false;
    for (size_t i = 0; i < outer.size(); ++i) {
        const bool inside = !inner.empty() && i >= at && i < at + inner.size();
        if (!inside && !IsSpace(outer[i])) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::wstring path = input.RestAsText();
    const CShellUtil util;
    const size_t dot = path.rfind(L'.');
    const size_t slash = path.rfind(L'\\');

    // The extension: everything after the last dot, A to Z folded, nothing else changed.
    const std::wstring extension = util.GetExtension(path);
    if (dot == std::wstring::npos) {
        CHECK(extension.empty());
    } else {
        CHECK(extension.size() == path.size() - dot - 1);
        for (size_t i = 0; i < extension.size(); ++i) CHECK(extension[i] == FoldAscii(path[dot + 1 + i]));
    }

    // The base name: what stands before the last dot, trimmed.
    CHECK(IsTrimmedOf(util.GetBaseName(path), path.substr(0, dot)));

    // The folder part is a prefix of the path; with its backslash, followed
    // by the file name, it gives the path back.
    const std::wstring folder = util.GetFolderPath(path, false);
    const std::wstring folderSlash = util.GetFolderPath(path, true);
    const std::wstring file = util.GetFileName(path);
    CHECK(StartsWith(path, folderSlash));
    CHECK(StartsWith(folderSlash, folder));
    CHECK(!HasBackslash(file) && EndsWith(path, file));
    if (slash != std::wstring::npos) {
        CHECK(folder.size() == slash && folderSlash == folder + L"\\");
        CHECK(folderSlash + file == path);
    } else {
        CHECK(folder.empty() && file == path);
    }

    // The parent folder's name is one component of the path.
    if (!path.empty()) {
        const std::wstring parent = util.GetParentFolderName(path);
        CHECK(!HasBackslash(parent) && path.find(parent) != std::wstring::npos);
    }

    // After the missing backslash the path ends with exactly one added, or none.
    const std::wstring missing = util.GetMissingBackslash(path);
    CHECK(missing.empty() || missing == L"\\");
    CHECK((path + missing).back() == L'\\');
    CHECK(missing.empty() == (!path.empty() && path.back() == L'\\'));

    // The folder an archive extracts into is one name, never a path, and a
    // piece of the archive's own name.
    const std::wstring extractTo = util.GetExtractFolderName(path);
    CHECK(!HasBackslash(extractTo));
    CHECK(path.find(extractTo) != std::wstring::npos);
    return 0;
}
