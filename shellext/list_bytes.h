// The bytes of the selection list file: each path, one byte per character, and
// "*" after each. Text only (no Windows header), so it also builds natively.
#pragma once

#include <string>

// Appends the path's entry when every character can be written as the one
// byte of the same value (U+0001 to U+00FF); otherwise appends nothing and
// returns false.
bool AppendListEntry(std::string& bytes, const std::wstring& path);
