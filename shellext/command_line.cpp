// The command line of TarnwickUnzip.exe.
#include "command_line.h"

const wchar_t* CommandToken(unsigned nCommand) noexcept {
    static const wchar_t* const kTokens[] = {
        L"?Decompress?", L"?Compress?", L"?UnpackHere?", L"?UnpackTo?", L"?UnpackToFolder?",
        L"NULL",  // index 5 has no command
        L"?Test?", L"?Zip?", L"?ZipTo?", L"?ZipWithMPW?",
    };
    return nCommand < sizeof(kTokens) / sizeof(kTokens[0]) ? kTokens[nCommand] : L"NULL";
}

std::wstring ProgramPath(const std::wstring& directory) {
    return L"\"" + directory + L"\\TarnwickUnzip.exe\"";
}

std::wstring ProgramParameters(const wchar_t* token, const std::wstring& listFile, const std::wstring& zipName) {
    std::wstring parameters = L" ";
    parameters += token;
    parameters += L" \"";
    parameters += listFile;
    parameters += L"\" \"";
    parameters += zipName;
    parameters += L"\"";
    return parameters;
}

namespace {
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
}  // namespace

bool IsFullyQualified(const std::wstring& directory) noexcept {
    if (directory.size() >= 2 && IsSeparator(directory[0]) && IsSeparator(directory[1])) return true;
    return directory.size() >= 3 && IsDriveLetter(directory[0]) && directory[1] == L':' && IsSeparator(directory[2]);
}
