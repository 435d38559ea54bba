// holder <dll> <flag file>: plays Explorer keeping a shell extension loaded.
// Loads the DLL, writes the flag file once it holds it, and keeps it loaded
// until the flag file is deleted (or two minutes have passed, so that a
// failed test never leaves it behind). The installer tests hold the
// installed DLL with it while they upgrade and remove.
// Exit codes: 0 held and released, 1 the DLL could not be loaded (its error on
// stderr), 2 usage.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    HMODULE dll = LoadLibraryW(argv[1]);
    if (!dll) {
        // 193 (ERROR_BAD_EXE_FORMAT) for a DLL of another architecture.
        std::fprintf(stderr, "LoadLibrary: error %lu\n", GetLastError());
        return 1;
    }
    HANDLE flag = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (flag != INVALID_HANDLE_VALUE) CloseHandle(flag);
    for (int i = 0; i < 1200 && GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    FreeLibrary(dll);
    return 0;
}
