// holder <what> <flag file>: plays another process holding something of ours
// while the installer tests upgrade and remove:
//   <dll>           Explorer keeping a shell extension loaded
//   open:<file>     a process with the file open that lets nobody delete or
//                   rename it (no FILE_SHARE_DELETE)
//   mutex:<name>    another installer or uninstaller running (it owns the mutex)
// Writes the flag file once it holds it, and keeps it until the flag file is
// deleted (or two minutes have passed, so that a failed test never leaves it
// behind).
// Exit codes: 0 held and released, 1 it could not be had (the error on
// stderr), 2 usage.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const wchar_t* what = argv[1];
    HMODULE dll = nullptr;
    HANDLE handle = nullptr;
    if (std::wcsncmp(what, L"open:", 5) == 0) {
        handle = CreateFileW(what + 5, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) handle = nullptr;
    } else if (std::wcsncmp(what, L"mutex:", 6) == 0) {
        handle = CreateMutexW(nullptr, TRUE, what + 6);
    } else {
        dll = LoadLibraryW(what);
    }
    if (!dll && !handle) {
        // 193 (ERROR_BAD_EXE_FORMAT) for a DLL of another architecture.
        std::fprintf(stderr, "%ls: error %lu\n", what, GetLastError());
        return 1;
    }
    HANDLE flag = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (flag != INVALID_HANDLE_VALUE) CloseHandle(flag);
    for (int i = 0; i < 1200 && GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    if (dll) FreeLibrary(dll);
    if (handle) CloseHandle(handle);
    return 0;
}
