// The RAR volume test against a plain reading of its rule: the name ends in
// ".part", one to four digits and ".rar", letters in any case.
#include <cwctype>

#include "fuzz_input.h"
#include "shell_util.h"

namespace {

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Where the volume suffix begins, walking back from the end over ".rar",
// the run of digits and ".part"; npos when the name has none.
size_t VolumeSuffix(const std::wstring& name) {
    size_t end = name.size();
    for (const wchar_t* c = L"rar."; *c; ++c) {
        if (end == 0 || FoldAscii(name[end - 1]) != *c) return std::wstring::npos;
        --end;
    }
    size_t digits = 0;
    while (end > 0 && IsDigit(name[end - 1])) --end, ++digits;
    if (digits < 1 || digits > 4) return std::wstring::npos;
    for (const wchar_t* c = L"trap."; *c; ++c) {
        if (end == 0 || FoldAscii(name[end - 1]) != *c) return std::wstring::npos;
        --end;
    }
    return end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::wstring name = input.RestAsText();
    const CShellUtil util;
    const size_t suffix = VolumeSuffix(name);
    CHECK(util.IsRarVolumeName(name) == (suffix != std::wstring::npos));

    // A volume extracts into a folder named as the archive without its whole
    // volume suffix (".part07.rar", not only ".rar"), unless white space
    // before the suffix was trimmed away.
    if (suffix != std::wstring::npos && (suffix == 0 || !std::iswspace(static_cast<std::wint_t>(name[suffix - 1])))) {
        const std::wstring folder = util.GetExtractFolderName(name);
        CHECK(EndsWith(name, folder + name.substr(suffix)));
    }
    return 0;
}
