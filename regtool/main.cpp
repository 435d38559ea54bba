// quillshell64reg: registers quillshell.dll as the in-process server of the
// context-menu handler's class, or removes that registration.
//
//   quillshell64reg <dll path>              install
//   quillshell64reg <dll path> uninstall    remove
//
// In the path every "_" stands for a space and every "?" for an underscore.
// Exit codes: 0 done (removing what is not there counts as done),
//             1 a key could not be opened, created, written or removed,
//             2 no path given.
//
// Keys written, under both roots:
//   HKEY_CLASSES_ROOT\CLSID\{7D3B2E91-4C6A-4F1E-9A27-5B8C0D4E6F13}\InProcServer32
//   HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{7D3B2E91-...}\InProcServer32
//     (default)       REG_SZ  <dll path>
//     ThreadingModel  REG_SZ  Apartment
#include <windows.h>

#include <string>

namespace {

constexpr wchar_t kClassKey[] = L"{7D3B2E91-4C6A-4F1E-9A27-5B8C0D4E6F13}";
constexpr wchar_t kServerSubkey[] = L"{7D3B2E91-4C6A-4F1E-9A27-5B8C0D4E6F13}\\InProcServer32";
constexpr REGSAM kAccess = KEY_READ | KEY_WRITE;  // native view, no WOW64 flag

struct Root {
    HKEY hkey;
    const wchar_t* name;
    const wchar_t* clsidKey;
};
const Root kRoots[] = {
    {HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT", L"CLSID"},
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", L"SOFTWARE\\Classes\\CLSID"},
};

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (m_h) RegCloseKey(m_h);
    }
    HKEY* put() { return &m_h; }
    HKEY get() const { return m_h; }

private:
    HKEY m_h = nullptr;
};

void WriteStderr(const std::wstring& text) {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (GetConsoleMode(err, &written)) {
        WriteConsoleW(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string bytes(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    WriteFile(err, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring SystemMessage(LONG error) {
    wchar_t buffer[512] = L"";
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(error), 0, buffer, ARRAYSIZE(buffer), nullptr);
    while (n > 0 && (buffer[n - 1] == L'\r' || buffer[n - 1] == L'\n' || buffer[n - 1] == L' ')) --n;
    if (n == 0) return L"error " + std::to_wstring(error);
    return std::wstring(buffer, n);
}

// One line on stderr naming what failed and why; the exit code for it.
int Fail(const wchar_t* what, const Root& root, const std::wstring& subkey, LONG error) {
    WriteStderr(std::wstring(L"quillshell64reg: cannot ") + what + L" " + root.name + L"\\" + subkey + L": " +
                SystemMessage(error) + L"\n");
    return 1;
}

std::wstring DecodePath(std::wstring path) {
    // Two passes, in this order: "?" ends up as "_", never as a space.
    for (wchar_t& c : path)
        if (c == L'_') c = L' ';
    for (wchar_t& c : path)
        if (c == L'?') c = L'_';
    return path;
}

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

int Install(const std::wstring& path) {
    for (const Root& root : kRoots) {
        const std::wstring subkey = std::wstring(root.clsidKey) + L"\\" + kServerSubkey;
        Key key;
        LONG rc = RegOpenKeyExW(root.hkey, subkey.c_str(), 0, kAccess, key.put());
        if (rc != ERROR_SUCCESS) {
            rc = RegCreateKeyExW(root.hkey, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kAccess, nullptr,
                                 key.put(), nullptr);
            if (rc != ERROR_SUCCESS) return Fail(L"create", root, subkey, rc);
        }
        if ((rc = SetString(key.get(), nullptr, path)) != ERROR_SUCCESS ||
            (rc = SetString(key.get(), L"ThreadingModel", L"Apartment")) != ERROR_SUCCESS)
            return Fail(L"write", root, subkey, rc);
    }
    return 0;
}

// RegDeleteKeyExW exists from Vista (x64: XP x64) on; look it up once.
LONG DeleteSubkey(HKEY parent, const wchar_t* name) {
    using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    static bool looked = false;
    static DeleteKeyEx deleteKeyEx = nullptr;
    if (!looked) {
        looked = true;
        if (HMODULE advapi = GetModuleHandleW(L"Advapi32.dll"))
            deleteKeyEx = reinterpret_cast<DeleteKeyEx>(
                reinterpret_cast<void*>(GetProcAddress(advapi, "RegDeleteKeyExW")));
    }
    return deleteKeyEx ? deleteKeyEx(parent, name, 0, 0) : RegDeleteKeyW(parent, name);
}

bool HasSubkeys(HKEY parent, const wchar_t* name) {
    Key key;
    DWORD subkeys = 0;
    return RegOpenKeyExW(parent, name, 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS &&
           RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys > 0;
}

int Uninstall() {
    for (const Root& root : kRoots) {
        Key parent;
        LONG rc = RegOpenKeyExW(root.hkey, root.clsidKey, 0, kAccess, parent.put());
        if (rc == ERROR_FILE_NOT_FOUND) continue;
        if (rc != ERROR_SUCCESS) return Fail(L"open", root, root.clsidKey, rc);
        for (const wchar_t* name : {kServerSubkey, kClassKey}) {
            // Keys are removed one level at a time: a class key that still holds
            // keys written by somebody else stays.
            if (name == kClassKey && HasSubkeys(parent.get(), name)) continue;
            rc = DeleteSubkey(parent.get(), name);
            if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
                return Fail(L"remove", root, std::wstring(root.clsidKey) + L"\\" + name, rc);
        }
    }
    return 0;
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2 || argv[1][0] == L'\0') {
        WriteStderr(L"usage: quillshell64reg <path of quillshell.dll, \"_\" for space, \"?\" for \"_\"> [uninstall]\n");
        return 2;
    }
    const std::wstring path = DecodePath(argv[1]);
    const bool remove = argc > 2 && std::wstring(argv[2]) == L"uninstall";  // case-sensitive
    return remove ? Uninstall() : Install(path);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return Run(argc, argv);
    } catch (...) {
        WriteStderr(L"quillshell64reg: out of memory\n");
        return 1;
    }
}
