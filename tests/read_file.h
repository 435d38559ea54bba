// The whole of a file, read while others may write or delete it. Header only:
// the stand-ins for TarnwickUnzip.exe use it without the test support library.
#pragma once

#include <windows.h>

#include <string>

// False, with the system's error in *error when it is given, if the file
// cannot be opened.
inline bool ReadWholeFile(const std::wstring& path, std::string* data, DWORD* error = nullptr) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return false;
    }
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) data->append(buffer, got);
    CloseHandle(file);
    return true;
}
