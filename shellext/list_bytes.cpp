// The list file's bytes. The reader takes each byte as the character of the
// same value (ISO 8859-1), whatever code page either side runs with.
#include "list_bytes.h"

bool AppendListEntry(std::string& bytes, const std::wstring& path) {
    const size_t start = bytes.size();
    bytes.resize(start + path.size() + 1);
    char* out = &bytes[start];
    for (wchar_t c : path) {
        if (c == L'\0' || static_cast<unsigned>(c) > 0xFF) {
            bytes.resize(start);
            return false;
        }
        *out++ = static_cast<char>(static_cast<unsigned char>(c));
    }
    *out = '*';
    return true;
}
