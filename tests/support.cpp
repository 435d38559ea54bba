#include "support.h"

#include "read_file.h"

#include <cstdio>
#include <vector>

const CLSID kHandlerClsid = {0x7D3B2E91, 0x4C6A, 0x4F1E, {0x9A, 0x27, 0x5B, 0x8C, 0x0D, 0x4E, 0x6F, 0x13}};

const CLSID kCommandClsid = {0x3C79CCA4, 0x8665, 0x480D, {0xB4, 0x9E, 0x04, 0x1D, 0xB8, 0x66, 0x90, 0xE3}};

std::wstring BinDir() {
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\'));
}

std::wstring DllPath() { return BinDir() + L"\\quillshell.dll"; }
std::wstring RegToolPath() { return BinDir() + L"\\quillshell64reg.exe"; }
std::wstring ModernDllPath() { return BinDir() + L"\\quillshell-modern.dll"; }

namespace {

Dll Load(const std::wstring& path) {
    Dll d;
    d.module = LoadLibraryW(path.c_str());
    if (d.module) {
        d.getClassObject = reinterpret_cast<decltype(d.getClassObject)>(
            reinterpret_cast<void*>(GetProcAddress(d.module, "DllGetClassObject")));
        d.canUnloadNow = reinterpret_cast<decltype(d.canUnloadNow)>(
            reinterpret_cast<void*>(GetProcAddress(d.module, "DllCanUnloadNow")));
    }
    return d;
}

}  // namespace

const Dll& LoadDll() {
    static Dll dll = Load(DllPath());
    return dll;
}

const Dll& LoadModernDll() {
    static Dll dll = Load(ModernDllPath());
    return dll;
}

namespace {

std::wstring TempFile() {
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"qst", 0, file);
    return file;
}

HANDLE InheritableFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS, 0, nullptr);
}

}  // namespace

ProcessResult RunProcess(const std::wstring& commandLine) {
    ProcessResult result;
    const std::wstring outPath = TempFile(), errPath = TempFile();
    HANDLE out = InheritableFile(outPath), err = InheritableFile(errPath);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &result.exitCode);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    result.out = ReadBytes(outPath);
    result.err = ReadBytes(errPath);
    DeleteFileW(outPath.c_str());
    DeleteFileW(errPath.c_str());
    return result;
}

std::string ReadBytes(const std::wstring& path) {
    std::string data;
    ReadWholeFile(path, &data);
    return data;
}

bool IsListFileName(const std::wstring& name) {
    if (name.size() != 40 || name.compare(36, 4, L".txt") != 0) return false;
    for (size_t i = 0; i < 36; ++i) {
        const wchar_t c = name[i];
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? c != L'-' : !((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return false;
    }
    return true;
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring SystemText(HRESULT code) {
    wchar_t text[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), text, ARRAYSIZE(text), nullptr);
    return text;
}

std::wstring Quote(const std::wstring& arg) { return L"\"" + arg + L"\""; }

bool ReadString(HKEY root, const std::wstring& key, const wchar_t* name, std::wstring* value) {
    wchar_t buffer[2048];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return false;
    *value = buffer;
    return true;
}

bool KeyExists(HKEY root, const std::wstring& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

void DeleteTree(HKEY root, const std::wstring& key) { RegDeleteTreeW(root, key.c_str()); }

std::wstring Widen(const std::string& s) {
    int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}
