// The list file's bytes. The reader takes each byte as the character of the
// same value (ISO 8859-1), whatever code page either side runs with.
#include "list_bytes.h"

// No branch per character: a selection can hold millions of them.
bool WriteListEntry(const std::wstring& path, char* out) {
    const wchar_t* in = path.data();
    const size_t n = path.size();
    bool outside = false;
    for (size_t i = 0; i < n; ++i) {
        const unsigned c = static_cast<unsigned>(in[i]);
        outside |= c - 1 > 0xFE;  // U+0000 or above U+00FF
        out[i] = static_cast<char>(static_cast<unsigned char>(c));
    }
    out[n] = '*';
    return !outside;
}

bool AppendListEntry(std::string& bytes, const std::wstring& path) {
    const size_t start = bytes.size();
    bytes.resize(start + path.size() + 1);
    if (WriteListEntry(path, &bytes[start])) return true;
    bytes.resize(start);
    return false;
}
