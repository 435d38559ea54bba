// The bytes of the selection list file: each path, one byte per character, and
// "*" after each. Text only (no Windows header), so it also builds natively.
#pragma once

#include <string>

// Writes the path's entry, path.size() + 1 bytes, at `out` when every
// character can be written as the one byte of the same value (U+0001 to
// U+00FF); otherwise returns false, and what it wrote there is no entry.
bool WriteListEntry(const std::wstring& path, char* out);

// Appends the path's entry as WriteListEntry makes it; appends nothing and
// returns false for a path that has none.
bool AppendListEntry(std::string& bytes, const std::wstring& path);
