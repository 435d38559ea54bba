// Stands in for TarnwickUnzip.exe in the stress run and exits at once: it
// moves the list file named by its second argument into the folder named by
// QUILL_STRESS_HANDED, so that the files handed over can be counted apart
// from any left behind.
#include <windows.h>
#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    wchar_t handed[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"QUILL_STRESS_HANDED", handed, MAX_PATH);
    int status = 1;
    if (argv && argc > 2 && n > 0 && n < MAX_PATH) {
        const wchar_t* list = argv[2];
        const wchar_t* name = list;
        for (const wchar_t* p = list; *p; ++p)
            if (*p == L'\\') name = p + 1;
        wchar_t target[2 * MAX_PATH];
        wsprintfW(target, L"%s\\%s", handed, name);
        status = MoveFileW(list, target) ? 0 : 2;
    }
    LocalFree(argv);
    return status;
}
