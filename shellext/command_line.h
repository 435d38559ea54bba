// The command line of TarnwickUnzip.exe. Text only (no Windows header), so it
// also builds natively.
#pragma once

#include <string>

// The token that names command nCommand to the program; "NULL" for an index
// without one (5, or anything above 9).
const wchar_t* CommandToken(unsigned nCommand) noexcept;

// The quoted program path: the directory as configured, then
// \TarnwickUnzip.exe. Nothing is added or removed between the two.
std::wstring ProgramPath(const std::wstring& directory);

// " <token> "<list file>" "<zip name>"": starts with a space, ends with a
// quotation mark; nothing inside is escaped.
std::wstring ProgramParameters(const wchar_t* token, const std::wstring& listFile, const std::wstring& zipName);

// Whether the directory names one place whatever the current drive and
// folder: X:\... or \\server\share... ("/" counts as "\", as the file
// system takes it). Empty, "\Tools", "C:Tools" and "Tools" do not.
bool IsFullyQualified(const std::wstring& directory) noexcept;
