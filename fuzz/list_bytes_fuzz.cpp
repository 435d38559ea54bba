// The list-file bytes: one byte per character and "*" after each path, so
// that the file split at "*" gives the paths back.
#include "fuzz_input.h"
#include "list_bytes.h"

namespace {

bool FitsByHand(const std::wstring& path) {
    for (wchar_t c : path)
        if (c < 0x01 || c > 0xFF) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    std::string bytes;
    std::vector<std::wstring> written;
    for (const std::wstring& path : input.RestAsTexts()) {
        // The shell never hands over a path with "*": it is no file-name character.
        if (path.find(L'*') != std::wstring::npos) continue;
        // A path that does not fit leaves no trace; what came before stays as
        // it was (the split below reads all of it back).
        const size_t before = bytes.size();
        const bool appended = AppendListEntry(bytes, path);
        CHECK(appended == FitsByHand(path));
        CHECK(bytes.size() == (appended ? before + path.size() + 1 : before));
        if (appended) written.push_back(path);
    }

    std::vector<std::wstring> read(1);
    for (char byte : bytes) {
        if (byte == '*') read.emplace_back();
        else read.back() += static_cast<wchar_t>(static_cast<unsigned char>(byte));
    }
    CHECK(read.back().empty());  // the last entry ends with "*" too
    read.pop_back();
    CHECK(read == written);
    return 0;
}
