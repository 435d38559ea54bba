// A stand-in for TarnwickUnzip.exe: records what it was started with and
// does nothing else. The record goes to received.txt beside the program
// (UTF-8, written whole under another name first, then renamed, so that a
// reader never sees half of it):
//
//   command line: <exactly as the program got it>
//   arguments: <count after the program name>
//   token: <first argument>
//   list file: <second argument>, <n> bytes, <k> entries
//     <each entry, the file's bytes taken as U+0000..U+00FF>
//     unterminated: <bytes after the last "*", when there are any>
//   zip path: <third argument>
//
// Like the real program, it owns the list file once started and deletes it.
// A GUI program, so that starting it never makes a console window.
//
// Installed as powershell.exe it stands in for PowerShell towards the
// installers instead, as a model of Windows' package deployment
// (deployment_model.cpp).
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "read_file.h"

// The package deployment model (deployment_model.cpp).
int ActAsPowerShell(const std::wstring& folder, const wchar_t* commandLine);

namespace {

std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string bytes(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    return bytes;
}

std::wstring DescribeListFile(const std::wstring& path) {
    std::string bytes;
    DWORD error = 0;
    if (!ReadWholeFile(path, &bytes, &error)) return L"list file: " + path + L" cannot be read, error " + std::to_wstring(error) + L"\n";
    std::vector<std::wstring> entries;
    std::wstring current;
    for (unsigned char byte : bytes) {
        if (byte == '*') {
            entries.push_back(current);
            current.clear();
        } else {
            current += static_cast<wchar_t>(byte);  // one byte per character, no code page
        }
    }
    std::wstring text = L"list file: " + path + L", " + std::to_wstring(bytes.size()) + L" bytes, " +
                        std::to_wstring(entries.size()) + L" entries\n";
    for (const std::wstring& entry : entries) text += L"  " + entry + L"\n";
    if (!current.empty()) text += L"  unterminated: " + current + L"\n";
    DeleteFileW(path.c_str());
    return text;
}

std::wstring Folder() {
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    std::wstring self(path, n);
    return self.substr(0, self.find_last_of(L'\\'));
}

void Record(const std::wstring& text) {
    const std::wstring folder = Folder();
    const std::wstring partial = folder + L"\\received.tmp", done = folder + L"\\received.txt";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string bytes = Utf8(text);
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    if (ok) MoveFileExW(partial.c_str(), done.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool IsPowerShell() {
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    const std::wstring self(path, n);
    return lstrcmpiW(self.substr(self.find_last_of(L'\\') + 1).c_str(), L"powershell.exe") == 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const wchar_t* commandLine = GetCommandLineW();
    if (IsPowerShell()) return ActAsPowerShell(Folder(), commandLine);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
    std::vector<std::wstring> args;
    for (int i = 1; argv && i < argc; ++i) args.push_back(argv[i]);
    if (argv) LocalFree(argv);

    std::wstring text = L"command line: " + std::wstring(commandLine) + L"\n";
    text += L"arguments: " + std::to_wstring(args.size()) + L"\n";
    text += L"token: " + (args.size() > 0 ? args[0] : L"(none)") + L"\n";
    text += args.size() > 1 ? DescribeListFile(args[1]) : L"list file: (none)\n";
    text += L"zip path: " + (args.size() > 2 ? args[2] : L"(none)") + L"\n";
    Record(text);
    return 0;
}
