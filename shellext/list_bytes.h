// The bytes of the selection list file: each path, one byte per character, and
// "*" after each. Text only (no Windows header), so it also builds natively.
#pragma once

#include <string>

// Whether every character of the path can be written as one byte of the same
// value (U+0001 to U+00FF).
bool FitsListFile(const std::wstring& path) noexcept;

// Appends the path's entry. The path must fit (FitsListFile).
void AppendListEntry(std::string& bytes, const std::wstring& path);
