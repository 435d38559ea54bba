// quillshell-package.exe: every call that gives Windows 11 the package of its
// menu, in one place. It lies in the package's external location (Modern\)
// beside quillshell-modern.msix and acts on those two. Each step is one
// PowerShell command of its own, so one failure skips nothing else; each
// command line and PowerShell's answer go to standard output (the NSIS log)
// and to quillshell-package.log: that of "machine" and "remove", which run
// elevated or as SYSTEM, in %WINDIR%\Logs\Quillshell; that of "user" and
// "sign-in" in the temporary folder of the account that runs them.
//
//   quillshell-package.exe machine   remove every registration and provisioning
//                                    of Quillshell.Modern (any version and
//                                    publisher, all users), stage the package
//                                    with its external location, provision it
//                                    for all users (administrator or SYSTEM)
//   quillshell-package.exe user      register it for the account that runs this
//   quillshell-package.exe sign-in   the same, but only when this account has not
//                                    registered the current installation yet: run
//                                    at every sign-in (HKLM Run), it reads two
//                                    registry values and ends when that is so
//   quillshell-package.exe remove    deprovision it, remove it for all users
//   quillshell-package.exe check-folder <folder>
//                                    exit 9 when the folder, or its Modern,
//                                    Modern\Assets or x86 folder, exists and
//                                    others than administrators may change it,
//                                    or may move it aside through a folder
//                                    above it
//                                    (the refusal of both installers)
//
// Windows 10 (build below 22000) gets no PowerShell call: its Explorer has no
// menu for packages. Exit codes: 0 done (or nothing to do), 1 a step failed
// (the log says which), 2 an unknown command, 3 no package beside the program.
#include <windows.h>
#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>

#include <string>

namespace {

const wchar_t kName[] = L"Quillshell.Modern";
// "machine" writes a new value here each time; "user" copies it to HKCU once
// it has registered: a user whose copy differs has not registered since.
const wchar_t kStampKey[] = L"SOFTWARE\\Osmund\\Quillshell";
const wchar_t kStampValue[] = L"PackageStamp";
// ERROR_PACKAGE_ALREADY_EXISTS: this version is registered already (maybe
// naming another folder); it must be removed before it can be added again.
const DWORD kAlreadyExists = 0x80073CFB;

struct Handle {
    HANDLE h = nullptr;
    ~Handle() { if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h); }
};
struct Key {
    HKEY h = nullptr;
    ~Key() { if (h) RegCloseKey(h); }
};

std::wstring g_folder, g_package;

std::wstring Folder() {
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    std::wstring self(path, n < ARRAYSIZE(path) ? n : 0);
    return self.substr(0, self.find_last_of(L'\\'));
}

bool IsWindows11() {
    wchar_t build[16] = {};
    DWORD size = sizeof(build) - sizeof(wchar_t);
    return RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"CurrentBuildNumber",
                        RRF_RT_REG_SZ, nullptr, build, &size) == ERROR_SUCCESS && _wtoi(build) >= 22000;
}

std::wstring ReadStamp(HKEY root) {
    wchar_t stamp[64] = {};
    DWORD size = sizeof(stamp) - sizeof(wchar_t);
    if (RegGetValueW(root, kStampKey, kStampValue, RRF_RT_REG_SZ, nullptr, stamp, &size) != ERROR_SUCCESS) return L"";
    return stamp;
}

bool WriteStamp(HKEY root, const std::wstring& stamp) {
    Key key;
    return RegCreateKeyExW(root, kStampKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key.h, nullptr) == ERROR_SUCCESS &&
           RegSetValueExW(key.h, kStampValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(stamp.c_str()),
                          static_cast<DWORD>((stamp.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Deletes our key, and Osmund's when nothing else is left in it.
void DeleteStamp(HKEY root) {
    RegDeleteKeyW(root, kStampKey);
    Key parent;
    DWORD keys = 1, values = 1;
    if (RegOpenKeyExW(root, L"SOFTWARE\\Osmund", 0, KEY_READ, &parent.h) == ERROR_SUCCESS &&
        RegQueryInfoKeyW(parent.h, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) == ERROR_SUCCESS && keys == 0 && values == 0)
        RegDeleteKeyW(root, L"SOFTWARE\\Osmund");
}

std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    return bytes;
}

// The installer's log (UTF-16), which it names in QUILLSHELL_LOG while it runs
// this program: PowerShell's answer in UTF-8, or else in the OEM code page.
void AppendToSetupLog(const std::string& bytes) {
    wchar_t path[MAX_PATH + 1];
    const DWORD n = GetEnvironmentVariableW(L"QUILLSHELL_LOG", path, ARRAYSIZE(path));
    if (n == 0 || n >= ARRAYSIZE(path) || bytes.empty()) return;
    const int size = static_cast<int>(bytes.size());
    UINT page = CP_UTF8;
    int chars = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (chars <= 0) chars = MultiByteToWideChar(page = CP_OEMCP, 0, bytes.data(), size, nullptr, 0);
    if (chars <= 0) return;
    std::wstring text(chars, L'\0');
    MultiByteToWideChar(page, 0, bytes.data(), size, text.data(), chars);
    Handle log;
    log.h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    if (log.h != INVALID_HANDLE_VALUE)
        WriteFile(log.h, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
}

const wchar_t kLogName[] = L"quillshell-package.log";
std::wstring g_log;  // "" for none

// The machine-wide steps' log, where administrators look and only they can
// write: the system's temporary folder lets every user add files, and a link
// planted there under our name would turn the system's writes onto another
// file. (GetSystemWindowsDirectoryW: never a Terminal Server user's own copy.)
std::wstring MachineLog() {
    wchar_t windows[MAX_PATH];
    const UINT n = GetSystemWindowsDirectoryW(windows, ARRAYSIZE(windows));
    if (n == 0 || n >= ARRAYSIZE(windows)) return L"";
    std::wstring folder = std::wstring(windows, n) + L"\\Logs";
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\Quillshell";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\" + kLogName;
}

std::wstring UserLog() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(ARRAYSIZE(temp), temp);
    return n == 0 || n >= ARRAYSIZE(temp) ? L"" : std::wstring(temp, n) + kLogName;
}

// To standard output (a GUI program has one when its starter passed a pipe, as
// nsExec does), to the installer's log and to the log file.
void Write(const std::string& bytes) {
    AppendToSetupLog(bytes);
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE) WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (g_log.empty()) return;
    Handle log;
    log.h = CreateFileW(g_log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (log.h != INVALID_HANDLE_VALUE) WriteFile(log.h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
void Log(const std::wstring& line) { Write(Utf8(line + L"\r\n")); }

// A PowerShell string in single quotes, in which only ' is special (doubled):
// paths with spaces, $, ` or ' arrive as they are.
std::wstring Quote(const std::wstring& text) {
    std::wstring quoted = L"'";
    for (wchar_t c : text) quoted += c == L'\'' ? std::wstring(L"''") : std::wstring(1, c);
    return quoted + L"'";
}

// Whether the package carries a signature: its zip's central directory, at the
// end of the file, names AppxSignature.p7x (names there are never compressed).
bool IsSigned() {
    Handle file;
    file.h = CreateFileW(g_package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size;
    if (file.h == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.h, &size)) return false;
    std::string tail(static_cast<size_t>(size.QuadPart < 65536 ? size.QuadPart : 65536), '\0');
    LARGE_INTEGER at;
    at.QuadPart = size.QuadPart - static_cast<LONGLONG>(tail.size());
    DWORD read = 0;
    return SetFilePointerEx(file.h, at, nullptr, FILE_BEGIN) &&
           ReadFile(file.h, tail.data(), static_cast<DWORD>(tail.size()), &read, nullptr) &&
           tail.find("AppxSignature.p7x") != std::string::npos;
}

// Windows 11 registers an unsigned package only when asked to; its Publisher
// carries the OID that marks it unsigned (Learn: "Create an unsigned MSIX package").
std::wstring Unsigned() { return IsSigned() ? L"" : L" -AllowUnsigned"; }

// Runs one command in PowerShell without a window; its output goes to the log.
// Returns PowerShell's exit code: 0, or the HRESULT of the error that stopped
// the command (Add-AppxPackage's "Deployment failed with HRESULT: ...").
DWORD PowerShell(const std::wstring& what, const std::wstring& command) {
    wchar_t system[MAX_PATH];
    const UINT n = GetSystemDirectoryW(system, ARRAYSIZE(system));
    const std::wstring program = std::wstring(system, n < ARRAYSIZE(system) ? n : 0) +
                                 L"\\WindowsPowerShell\\v1.0\\powershell.exe";
    std::wstring line = L"\"" + program + L"\" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \""
                        L"$ErrorActionPreference = 'Stop'; try { " + command +
                        L" } catch { $_.Exception.Message; exit $_.Exception.HResult }\"";
    Log(what + L": " + command);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    Handle read, write;
    if (!CreatePipe(&read.h, &write.h, &inherit, 0) || !SetHandleInformation(read.h, HANDLE_FLAG_INHERIT, 0)) {
        Log(L"  cannot make a pipe: error " + std::to_wstring(GetLastError()));
        return 1;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = startup.hStdError = write.h;
    PROCESS_INFORMATION process = {};
    // Never the program's folder as the working folder: an uninstaller removes it.
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, system,
                        &startup, &process)) {
        const DWORD error = GetLastError();
        Log(L"  PowerShell cannot be started: error " + std::to_wstring(error));
        return error ? error : 1;
    }
    Handle thread, child;
    thread.h = process.hThread;
    child.h = process.hProcess;
    CloseHandle(write.h);
    write.h = nullptr;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read.h, buffer, sizeof(buffer), &got, nullptr) && got > 0) Write(std::string(buffer, got));
    WaitForSingleObject(child.h, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(child.h, &code);
    wchar_t hex[16];
    wsprintfW(hex, L"0x%08X", code);
    Log(L"  " + (code == 0 ? std::wstring(L"done") : L"failed: " + std::wstring(hex)));
    return code;
}

const std::wstring kFindProvisioned =
    L"Get-AppxProvisionedPackage -Online | Where-Object DisplayName -EQ " + Quote(kName);

// Each its own attempt: a failed deprovisioning must not keep the
// registrations, which name files about to go, from being removed.
bool RemoveEverywhere() {
    bool ok = PowerShell(L"deprovision", kFindProvisioned + L" | Remove-AppxProvisionedPackage -Online -AllUsers") == 0;
    ok &= PowerShell(L"remove for all users",
                     L"Get-AppxPackage -AllUsers -Name " + Quote(kName) + L" | Remove-AppxPackage -AllUsers") == 0;
    return ok;
}

// Microsoft's per-machine recipe for a package with external location: stage
// it with that location, then provision it, which registers it for every user
// at their next sign-in (Learn: "Grant package identity by packaging with
// external location manually").
bool HavePackage() {
    if (GetFileAttributesW(g_package.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Log(L"no " + g_package);
    return false;
}

int Machine() {
    if (!HavePackage()) return 3;
    // A new stamp: every user registers again at the next sign-in, as the
    // removal below takes everybody's registration away.
    GUID guid;
    wchar_t stamp[40] = {};
    if (FAILED(CoCreateGuid(&guid)) || !StringFromGUID2(guid, stamp, ARRAYSIZE(stamp)) || !WriteStamp(HKEY_LOCAL_MACHINE, stamp)) {
        Log(L"cannot write HKLM\\" + std::wstring(kStampKey));
        return 1;
    }
    if (!IsWindows11()) {
        Log(L"Windows 10: no package (each user's sign-in registers it once Windows 11 is installed)");
        return 0;
    }
    bool ok = RemoveEverywhere();
    ok &= PowerShell(L"stage", L"Add-AppxPackage -Path " + Quote(g_package) + L" -Stage -ExternalLocation " +
                                   Quote(g_folder) + Unsigned()) == 0;
    ok &= PowerShell(L"provision", L"Add-AppxProvisionedPackage -Online -PackagePath " + Quote(g_package) +
                                       L" -SkipLicense | Out-Null") == 0;
    return ok ? 0 : 1;
}

// Registers the package for this account, replacing a registration of the
// same version (which may name an earlier folder); -ForceApplicationShutdown
// ends the COM surrogate that holds an earlier version, which would otherwise
// refuse the update (0x80073D02).
int User() {
    if (!IsWindows11()) return 0;
    if (!HavePackage()) return 3;
    const std::wstring add = L"Add-AppxPackage -Path " + Quote(g_package) + L" -ExternalLocation " + Quote(g_folder) +
                             L" -ForceApplicationShutdown" + Unsigned();
    DWORD code = PowerShell(L"register for this account", add);
    if (code == kAlreadyExists &&
        PowerShell(L"remove this account's registration", L"Get-AppxPackage -Name " + Quote(kName) + L" | Remove-AppxPackage") == 0)
        code = PowerShell(L"register for this account", add);
    if (code != 0) return 1;
    WriteStamp(HKEY_CURRENT_USER, ReadStamp(HKEY_LOCAL_MACHINE));
    return 0;
}

int SignIn() {
    if (!IsWindows11()) return 0;
    const std::wstring stamp = ReadStamp(HKEY_LOCAL_MACHINE);
    if (stamp.empty() || stamp == ReadStamp(HKEY_CURRENT_USER)) return 0;
    return User();
}

int Remove() {
    const bool ok = !IsWindows11() || RemoveEverywhere();
    DeleteStamp(HKEY_LOCAL_MACHINE);
    DeleteStamp(HKEY_CURRENT_USER);
    return ok ? 0 : 1;
}

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return L"?";
    std::wstring result = text;
    LocalFree(text);
    return result;
}

// SYSTEM, Administrators, TrustedInstaller, or the account that runs this
// when it is an administrator (Wine names it the owner of every file).
bool IsAdministrator(const std::wstring& sid, const std::wstring& self) {
    return sid == L"S-1-5-18" || sid == L"S-1-5-32-544" || sid == self ||
           sid == L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
}

// Rights that change a folder or what it holds ("File Security and Access
// Rights").
constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                               FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | GENERIC_WRITE;
// Rights on a folder above that let someone move the folder below aside and
// put another in its place: DELETE (of itself, with what it holds),
// FILE_DELETE_CHILD (of what it holds), and those that give them.
constexpr DWORD kMoveRights = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// Who other than an administrator holds any of `rights` on a folder: its
// owner, or an allow entry that applies to the folder itself; "" for nobody.
std::wstring Writer(const std::wstring& folder, const std::wstring& self, DWORD rights) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    const DWORD error = GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                              nullptr, &dacl, nullptr, &sd);
    if (error != ERROR_SUCCESS) return L"(its ACL cannot be read: error " + std::to_wstring(error) + L")";
    std::wstring writer;
    if (!IsAdministrator(SidText(owner), self)) writer = SidText(owner) + L" (the owner)";
    else if (!dacl) writer = L"everybody (no ACL)";
    for (DWORD i = 0; writer.empty() && dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
        // ACCESS_ALLOWED_CALLBACK_ACE has the same layout.
        const BYTE type = ace->Header.AceType;
        if ((type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) ||
            (ace->Header.AceFlags & INHERIT_ONLY_ACE) || !(ace->Mask & rights))
            continue;
        const std::wstring sid = SidText(&ace->SidStart);
        if (!IsAdministrator(sid, self)) writer = sid;
    }
    LocalFree(sd);
    return writer;
}

// This account's SID while its Administrators membership is in force: not
// that of a standard user whose installation an administrator let elevate.
std::wstring OwnSid() {
    PSID admins = nullptr;
    BOOL member = FALSE;
    const bool administrator = ConvertStringSidToSidW(L"S-1-5-32-544", &admins) &&
                               CheckTokenMembership(nullptr, admins, &member) && member;
    if (admins) LocalFree(admins);
    if (!administrator) return L"";
    Handle token;
    alignas(TOKEN_USER) BYTE buffer[512];
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token.h) ||
        !GetTokenInformation(token.h, TokenUser, buffer, sizeof(buffer), &size))
        return L"";
    return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// 9 when others than administrators may change the folder or its subfolders,
// or move it aside through a folder above it (those that exist, up to the
// drive's root), else 0.
int CheckFolder(std::wstring folder) {
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'"')) folder.pop_back();
    if (!folder.empty() && folder.front() == L'"') folder.erase(0, 1);
    const std::wstring self = OwnSid();
    const auto refuse = [&](const std::wstring& how) {
        Log(folder + how + L", not only by administrators: nothing is installed");
        return 9;
    };
    for (size_t end = folder.find_last_of(L'\\'); end != std::wstring::npos && end > 1;
         end = folder.find_last_of(L'\\', end - 1)) {
        // ("C:" names the current folder of drive C:, "C:\" its root)
        const std::wstring above = folder.substr(0, folder[end - 1] == L':' ? end + 1 : end);
        if (!IsFolder(above)) continue;
        const std::wstring writer = Writer(above, self, kMoveRights);
        if (!writer.empty()) return refuse(L" may be moved aside, with what it holds, through " + above + L" by " + writer);
    }
    for (const wchar_t* sub : {L"", L"\\Modern", L"\\Modern\\Assets", L"\\x86"}) {
        const std::wstring path = folder + sub;
        if (!IsFolder(path)) continue;
        const std::wstring writer = Writer(path, self, kWriteRights);
        if (!writer.empty()) return refuse(std::wstring(sub) + L" may be changed by " + writer);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command, int) {
    std::wstring mode = command ? command : L"";
    while (!mode.empty() && mode.back() == L' ') mode.pop_back();
    // Run by Windows Installer as whoever installs (maybe SYSTEM): no log file.
    const std::wstring kCheck = L"check-folder ";
    if (mode.compare(0, kCheck.size(), kCheck) == 0) return CheckFolder(mode.substr(kCheck.size()));
    g_log = mode == L"machine" || mode == L"remove" ? MachineLog() : UserLog();
    g_folder = Folder();
    g_package = g_folder + L"\\quillshell-modern.msix";
    int (*step)() = mode == L"machine" ? Machine : mode == L"user" ? User : mode == L"sign-in" ? SignIn
                  : mode == L"remove" ? Remove : nullptr;
    if (!step) {
        Log(L"usage: quillshell-package.exe machine|user|sign-in|remove");
        return 2;
    }
    return step();
}
