// volatile_key <key under HKEY_LOCAL_MACHINE>: creates the key as volatile.
// A volatile key cannot hold the non-volatile keys that quillshell64reg
// writes, which makes the tool fail; the tests use it to make an
// installation fail half-way.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return 1;
    RegCloseKey(key);
    return 0;
}
