// The list file's bytes. The reader takes each byte as the character of the
// same value (ISO 8859-1), whatever code page either side runs with.
#include "list_bytes.h"

bool FitsListFile(const std::wstring& path) noexcept {
    for (wchar_t c : path) {
        if (c == L'\0' || static_cast<unsigned>(c) > 0xFF) return false;
    }
    return true;
}

void AppendListEntry(std::string& bytes, const std::wstring& path) {
    for (wchar_t c : path) bytes.push_back(static_cast<char>(static_cast<unsigned char>(c)));
    bytes.push_back('*');
}
