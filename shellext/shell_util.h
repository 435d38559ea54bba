// CShellUtil: stateless helpers of the handler. The name and path operations
// are text only (shell_util.cpp builds without any Windows header); the
// operations that ask the system live in shell_util_win.cpp and list_file.cpp.
#pragma once

#include <string>
#include <vector>

class CShellUtil {
public:
    // --- asks the system ---
    // True on Windows Vista and later (major version 6 and up).
    bool IsVistaOrLater() const;
    // The path names an existing folder. A network path gets the trailing
    // backslash that the shell's folder test needs.
    bool IsDirectory(const std::wstring& path) const;

    // --- text only; "\" is the only separator, the last dot or backslash is
    // the right-most one anywhere in the string ---
    std::wstring GetExtension(const std::wstring& name) const;      // after the last dot, A-Z lowered
    std::wstring GetBaseName(const std::wstring& name) const;       // before the last dot, trimmed
    std::wstring GetFolderPath(const std::wstring& path, bool bWithBackslash) const;
    std::wstring GetFileName(const std::wstring& path) const;       // after the last backslash
    std::wstring GetParentFolderName(const std::wstring& path) const;
    std::wstring GetMissingBackslash(const std::wstring& path) const;
    bool IsRarVolumeName(const std::wstring& name) const;           // ....partN.rar, 1 to 4 digits
    std::wstring GetExtractFolderName(const std::wstring& path) const;
    // \\?\C:\... as C:\..., \\?\UNC\server\share\... as \\server\share\..., where
    // that names the same item to every program; any other path unchanged.
    std::wstring WithoutLongPathPrefix(const std::wstring& path) const;

    // --- the list file handed to TarnwickUnzip.exe (list_file.cpp) ---
    // Why no list file was written: an HRESULT and, when a path cannot be
    // carried by the file (ERROR_NO_UNICODE_TRANSLATION), that path.
    struct ListFileFailure {
        long code = 0;
        std::wstring path;
    };
    // Writes the paths to a new file in the temp folder and returns its full
    // path; "" when nothing is left behind (an empty selection, or a failure).
    std::wstring WriteSelectionList(const std::vector<std::wstring>& files,
                                    ListFileFailure* failure = nullptr) const;
};
