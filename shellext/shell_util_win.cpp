// CShellUtil operations that ask the system.
#include <windows.h>
#include <shlwapi.h>

#include "shell_util.h"

bool CShellUtil::IsVistaOrLater() const {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const DWORD version = GetVersion();  // the low byte is the major version
#pragma GCC diagnostic pop
    return LOBYTE(LOWORD(version)) >= 6;
}

bool CShellUtil::IsDirectory(const std::wstring& path) const {
    std::wstring copy = path;
    // A share root (\\server\share) is a folder to the shell only with its
    // trailing backslash; local paths go unchanged.
    if (copy.compare(0, 2, L"\\\\") == 0 && copy.back() != L'\\') copy += L'\\';
    return PathIsDirectoryW(copy.c_str()) == FILE_ATTRIBUTE_DIRECTORY;
}
