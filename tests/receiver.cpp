// Stands in for TarnwickUnzip.exe. Records, beside itself, its exact command
// line and the bytes of the list file named by its second argument, then
// removes that file as the real program would.
//
// record.bin: [u32 n][n UTF-16 units of GetCommandLineW()]
//             [u32 m][m bytes of the list file], m = 0xFFFFFFFF when unreadable.
// It is written as record.tmp and renamed, so a reader never sees half of it.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "read_file.h"

namespace {

void Put(std::string& out, const void* p, size_t n) { out.append(static_cast<const char*>(p), n); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const wchar_t* commandLine = GetCommandLineW();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(commandLine, &argc);

    bool listOk = false;
    std::string list;
    if (argv && argc > 2) listOk = ReadWholeFile(argv[2], &list);

    std::string record;
    const uint32_t n = static_cast<uint32_t>(wcslen(commandLine));
    Put(record, &n, sizeof(n));
    Put(record, commandLine, n * sizeof(wchar_t));
    const uint32_t m = listOk ? static_cast<uint32_t>(list.size()) : 0xFFFFFFFFu;
    Put(record, &m, sizeof(m));
    Put(record, list.data(), list.size());

    wchar_t self[MAX_PATH * 2];
    DWORD length = GetModuleFileNameW(nullptr, self, ARRAYSIZE(self));
    std::wstring dir(self, length);
    dir.resize(dir.find_last_of(L'\\') + 1);
    const std::wstring temp = dir + L"record.tmp", done = dir + L"record.bin";
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    WriteFile(h, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(h);
    MoveFileExW(temp.c_str(), done.c_str(), MOVEFILE_REPLACE_EXISTING);

    if (listOk) DeleteFileW(argv[2]);
    LocalFree(argv);
    return 0;
}
