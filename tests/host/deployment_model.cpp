// A model of Windows' package deployment, which Wine lacks, playing
// powershell.exe towards quillshell-package.exe in the end-to-end tests. It
// understands the commands that program sends, keeps the machine's packages
// in deployment.txt beside itself, and refuses what Windows refuses, with
// Windows' codes. Its rules, from Microsoft's documentation:
//  - Add-AppxPackage registers a package for the account that runs it;
//    LocalSystem has no user profile to register it in and is refused
//    (0x80073CF9, ERROR_INSTALL_FAILED). -Stage puts it on the machine for
//    nobody, -ExternalLocation names the folder its manifest's files lie in
//    (Learn: Add-AppxPackage; "Grant package identity by packaging with
//    external location manually", per-machine: stage, then provision).
//  - The same version of a family (name + publisher) registered again is
//    refused (0x80073CFB, ERROR_PACKAGE_ALREADY_EXISTS), a lower one without
//    -ForceUpdateFromAnyVersion too (0x80073D06); a higher one updates,
//    unless a process of the package runs and -ForceApplicationShutdown was
//    not given (0x80073D02, ERROR_PACKAGES_IN_USE) (Learn: "Troubleshooting
//    packaging, deployment, and query of Windows apps").
//  - A signed package's Publisher must be its certificate's subject
//    (0x8007000B, ERROR_BAD_FORMAT); an unsigned one is taken only with
//    -AllowUnsigned and a Publisher holding
//    OID.2.25.311729368913984317654407730594956997722=1 (Learn: "Create an
//    unsigned MSIX package"); provisioning has no such switch (0x800B0100,
//    TRUST_E_NOSIGNATURE).
//  - Add-AppxProvisionedPackage (administrators and SYSTEM only, 0x800702E4
//    ERROR_ELEVATION_REQUIRED for others) makes Windows register the package
//    for every user at their next sign-in, new users included; a package
//    staged with an external location keeps it. Remove-AppxProvisionedPackage
//    ends that; registrations made stay (Learn: Add- and
//    Remove-AppxProvisionedPackage).
//  - Get-AppxPackage -AllUsers and Remove-AppxPackage -AllUsers are for
//    administrators (0x80070005); without -AllUsers they act on the caller's
//    own registrations.
//  - At every sign-in Windows starts the command lines of HKLM\...\Run as
//    that user.
//
// deployment.txt, one fact a line, fields separated by tabs:
//   as <machine|register> <account>  who runs the machine-wide commands and
//       who the registrations (the MSI runs them from separate custom
//       actions): SYSTEM, admin:<name> (elevated) or <name>
//   package <FNV-1a 64 of the file> <name> <version> <publisher> <signer subject, or - unsigned>
//   registered <user> <name> <version> <publisher> <external location>
//   staged|provisioned <name> <version> <publisher> <external location>
//   running <user> <name>       the package's COM surrogate runs for that user
//   refuse <cmdlet>             that cmdlet fails (0x80004005)
//   marker <user> <value>, session <user>: each user's own
//       HKCU\Software\Osmund\Quillshell PackageStamp, which the registry holds
//       for the user of the last sign-in
// The test writes the first four; "powershell.exe --sign-in <user>" does
// what Windows does when that user signs in, "--run-as <user>" gives the next
// program (an installer) that user's hive.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "read_file.h"

namespace {

using Fact = std::vector<std::wstring>;
std::vector<Fact> g_facts;
std::wstring g_state;
const wchar_t kUnsignedOid[] = L"OID.2.25.311729368913984317654407730594956997722=1";
const wchar_t kMarkerKey[] = L"Software\\Osmund\\Quillshell";

std::wstring Wide(const std::string& bytes) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
    return text;
}
std::string Narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    return bytes;
}

void Load() {
    std::string bytes;
    DWORD error = 0;
    g_facts.clear();
    if (!ReadWholeFile(g_state, &bytes, &error)) return;
    Fact fact(1);
    for (wchar_t c : Wide(bytes)) {
        if (c == L'\r') continue;
        if (c == L'\t') {
            fact.emplace_back();
        } else if (c == L'\n') {
            if (fact.size() > 1 || !fact[0].empty()) g_facts.push_back(fact);
            fact.assign(1, L"");
        } else {
            fact.back() += c;
        }
    }
}

void Save() {
    std::wstring text;
    for (const Fact& fact : g_facts) {
        for (size_t i = 0; i < fact.size(); ++i) text += (i ? L"\t" : L"") + fact[i];
        text += L"\n";
    }
    HANDLE file = CreateFileW(g_state.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string bytes = Narrow(text);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

template <typename Match> void Erase(Match match) {
    g_facts.erase(std::remove_if(g_facts.begin(), g_facts.end(), match), g_facts.end());
}
const Fact* Find(const std::wstring& kind, const std::wstring& first) {
    for (const Fact& f : g_facts)
        if (f[0] == kind && f.size() > 1 && f[1] == first) return &f;
    return nullptr;
}

struct Account {
    std::wstring user;
    bool system = false, admin = false;
};
Account As(const std::wstring& role) {
    const Fact* f = Find(L"as", role);
    Account a;
    a.user = f && f->size() > 2 ? (*f)[2] : L"nobody";
    a.system = a.user == L"SYSTEM";
    if (a.user.rfind(L"admin:", 0) == 0) {
        a.admin = true;
        a.user = a.user.substr(6);
    }
    return a;
}

// Version "a.b.c.d" as a number that orders like it.
uint64_t VersionNumber(const std::wstring& v) {
    uint64_t n = 0;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        n = n << 16 | (at < v.size() ? static_cast<uint64_t>(_wtoi(v.c_str() + at)) : 0);
        at = v.find(L'.', at);
        at = at == std::wstring::npos ? v.size() : at + 1;
    }
    return n;
}

struct Failure {
    DWORD code;
    const wchar_t* text;
};

// One command: the cmdlet and its parameters ("-Name value", or a switch with
// an empty value); other words are positional.
struct Command {
    std::wstring cmdlet;
    std::vector<std::pair<std::wstring, std::wstring>> named;
    std::vector<std::wstring> positional;
    bool Has(const std::wstring& name) const {
        for (const auto& p : named)
            if (lstrcmpiW(p.first.c_str(), name.c_str()) == 0) return true;
        return false;
    }
    std::wstring Get(const std::wstring& name) const {
        for (const auto& p : named)
            if (lstrcmpiW(p.first.c_str(), name.c_str()) == 0) return p.second;
        return L"";
    }
};

// PowerShell's words: a string in single quotes, where '' is one ', or a bare word.
std::vector<Command> ParsePipeline(const std::wstring& text, bool* ok) {
    std::vector<Command> pipeline(1);
    std::vector<std::pair<std::wstring, bool>> words;  // word, quoted
    size_t i = 0;
    *ok = true;
    while (i < text.size()) {
        if (text[i] == L' ') {
            ++i;
        } else if (text[i] == L'|') {
            words.emplace_back(L"|", false);
            ++i;
        } else if (text[i] == L'\'') {
            std::wstring word;
            for (++i;; ++i) {
                if (i >= text.size()) {
                    *ok = false;
                    return pipeline;
                }
                if (text[i] == L'\'') {
                    if (i + 1 < text.size() && text[i + 1] == L'\'') {
                        word += L'\'';
                        ++i;
                    } else {
                        ++i;
                        break;
                    }
                } else {
                    word += text[i];
                }
            }
            words.emplace_back(word, true);
        } else {
            const size_t end = std::min(text.find_first_of(L" |'", i), text.size());
            words.emplace_back(text.substr(i, end - i), false);
            i = end;
        }
    }
    for (size_t w = 0; w < words.size(); ++w) {
        Command& c = pipeline.back();
        const auto& [word, quoted] = words[w];
        if (!quoted && word == L"|") {
            pipeline.emplace_back();
        } else if (c.cmdlet.empty()) {
            c.cmdlet = word;
        } else if (!quoted && word.size() > 1 && word[0] == L'-') {
            std::wstring value;
            if (w + 1 < words.size() && (words[w + 1].second || (words[w + 1].first[0] != L'-' && words[w + 1].first != L"|")))
                value = words[++w].first;
            c.named.emplace_back(word.substr(1), value);
        } else {
            c.positional.push_back(word);
        }
    }
    return pipeline;
}

std::wstring Hash(const std::wstring& path, bool* found) {
    std::string bytes;
    DWORD error = 0;
    *found = ReadWholeFile(path, &bytes, &error);
    uint64_t h = 14695981039346656037ull;
    for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
    wchar_t text[17];
    wsprintfW(text, L"%08x%08x", static_cast<unsigned>(h >> 32), static_cast<unsigned>(h));
    return text;
}

// The identity of the package file at path: name, version, publisher, signer.
const Fact* Package(const std::wstring& path, Failure* failure) {
    bool found = false;
    const std::wstring hash = Hash(path, &found);
    const Fact* f = Find(L"package", hash);
    if (!found) *failure = {0x80070002, L"The system cannot find the file specified."};
    else if (!f || f->size() < 6) *failure = {0x80073CF0, L"Package could not be opened (not a package the test declared)."};
    return found && f && f->size() >= 6 ? f : nullptr;
}

bool Trusted(const Fact& p, bool allowUnsigned, Failure* failure) {
    const std::wstring &publisher = p[4], &signer = p[5];
    if (signer == L"-") {
        if (allowUnsigned && publisher.find(kUnsignedOid) != std::wstring::npos) return true;
        *failure = {0x800B0100, L"No signature was present in the subject (unsigned: -AllowUnsigned and the unsigned Publisher)."};
        return false;
    }
    if (publisher != signer) {
        *failure = {0x8007000B, L"The package's Publisher is not its signing certificate's subject."};
        return false;
    }
    return true;
}

bool Elevated(const Account& a, DWORD code, Failure* failure) {
    if (a.system || a.admin) return true;
    *failure = {code, L"The requested operation requires elevation."};
    return false;
}

bool Refused(const std::wstring& cmdlet, Failure* failure) {
    for (const Fact& f : g_facts)
        if (f[0] == L"refuse" && f.size() > 1 && lstrcmpiW(f[1].c_str(), cmdlet.c_str()) == 0) {
            *failure = {0x80004005, L"Unspecified error (the test made this command fail)."};
            return true;
        }
    return false;
}

bool SameFamily(const Fact& f, const std::wstring& name, const std::wstring& publisher, size_t at) {
    return f[at] == name && f[at + 2] == publisher;
}

void Register(const std::wstring& user, const Fact& p, const std::wstring& folder) {
    Erase([&](const Fact& f) { return f[0] == L"registered" && f.size() >= 6 && f[1] == user && SameFamily(f, p[2], p[4], 2); });
    Erase([&](const Fact& f) { return f[0] == L"running" && f.size() >= 3 && f[1] == user && f[2] == p[2]; });
    g_facts.push_back({L"registered", user, p[2], p[3], p[4], folder});
}

// Add-AppxPackage -Path P [-Stage] [-ExternalLocation F] [-AllowUnsigned] [-ForceApplicationShutdown]
bool Add(const Command& c, Failure* failure) {
    const Fact* p = Package(c.Get(L"Path"), failure);
    if (!p || !Trusted(*p, c.Has(L"AllowUnsigned"), failure)) return false;
    const std::wstring folder = c.Has(L"ExternalLocation") ? c.Get(L"ExternalLocation") : L"-";
    if (c.Has(L"Stage")) {
        Erase([&](const Fact& f) { return f[0] == L"staged" && f.size() >= 5 && SameFamily(f, (*p)[2], (*p)[4], 1) && f[2] == (*p)[3]; });
        g_facts.push_back({L"staged", (*p)[2], (*p)[3], (*p)[4], folder});
        return true;
    }
    const Account a = As(L"register");
    if (a.system) {
        *failure = {0x80073CF9, L"Install failed: the Local System account cannot register a package for itself."};
        return false;
    }
    for (const Fact& f : g_facts) {
        if (f[0] != L"registered" || f.size() < 6 || f[1] != a.user || !SameFamily(f, (*p)[2], (*p)[4], 2)) continue;
        const uint64_t have = VersionNumber(f[3]), want = VersionNumber((*p)[3]);
        if (have == want) {
            *failure = {0x80073CFB, L"The package is already installed; unregister it to reinstall the same version."};
            return false;
        }
        if (have > want && !c.Has(L"ForceUpdateFromAnyVersion")) {
            *failure = {0x80073D06, L"A higher version of this package is already installed."};
            return false;
        }
        if (Find(L"running", a.user) && !c.Has(L"ForceApplicationShutdown")) {
            *failure = {0x80073D02, L"The package could not be installed because resources it modifies are currently in use."};
            return false;
        }
    }
    Register(a.user, *p, folder);
    return true;
}

// Add-AppxProvisionedPackage -Online -PackagePath P -SkipLicense
bool Provision(const Command& c, Failure* failure) {
    if (!Elevated(As(L"machine"), 0x800702E4, failure) || Refused(c.cmdlet, failure)) return false;
    const Fact* p = Package(c.Get(L"PackagePath"), failure);
    if (!p || !Trusted(*p, false, failure)) return false;
    std::wstring folder = L"-";
    for (const Fact& f : g_facts)
        if (f[0] == L"staged" && f.size() >= 5 && SameFamily(f, (*p)[2], (*p)[4], 1) && f[2] == (*p)[3]) folder = f[4];
    Erase([&](const Fact& f) { return f[0] == L"provisioned" && f.size() >= 5 && SameFamily(f, (*p)[2], (*p)[4], 1); });
    g_facts.push_back({L"provisioned", (*p)[2], (*p)[3], (*p)[4], folder});
    return true;
}

Failure Run(const std::vector<Command>& pipeline) {
    Failure failure = {0, L""};
    std::wstring shape;
    for (const Command& c : pipeline) shape += (shape.empty() ? L"" : L"|") + c.cmdlet;
    const Command& first = pipeline.front();
    const Command& last = pipeline.back();
    const Account machine = As(L"machine");
    if (shape == L"Get-AppxProvisionedPackage|Where-Object|Remove-AppxProvisionedPackage" && first.Has(L"Online") &&
        last.Has(L"Online") && pipeline[1].positional == std::vector<std::wstring>{L"DisplayName"} && pipeline[1].Has(L"EQ")) {
        if (!Elevated(machine, 0x800702E4, &failure) || Refused(last.cmdlet, &failure)) return failure;
        const std::wstring name = pipeline[1].Get(L"EQ");
        Erase([&](const Fact& f) { return f[0] == L"provisioned" && f.size() > 1 && f[1] == name; });
    } else if (shape == L"Get-AppxPackage|Remove-AppxPackage" && first.Has(L"Name")) {
        const std::wstring name = first.Get(L"Name");
        if (first.Has(L"AllUsers") != last.Has(L"AllUsers")) return {1, L"model: -AllUsers on one side of the pipeline only"};
        if (first.Has(L"AllUsers")) {
            if (!Elevated(machine, 0x80070005, &failure) || Refused(last.cmdlet, &failure)) return failure;
            Erase([&](const Fact& f) { return (f[0] == L"registered" || f[0] == L"running") && f.size() > 2 && f[2] == name; });
            Erase([&](const Fact& f) { return f[0] == L"staged" && f.size() > 1 && f[1] == name; });
        } else {
            const std::wstring user = As(L"register").user;
            Erase([&](const Fact& f) { return (f[0] == L"registered" || f[0] == L"running") && f.size() > 2 && f[1] == user && f[2] == name; });
        }
    } else if (shape == L"Add-AppxPackage" && first.Has(L"Path")) {
        Add(first, &failure);
    } else if (shape == L"Add-AppxProvisionedPackage|Out-Null" && first.Has(L"Online") && first.Has(L"SkipLicense")) {
        Provision(first, &failure);
    } else {
        return {1, L"model: a command this model does not know"};
    }
    return failure;
}

std::wstring ReadMarker() {
    wchar_t value[64] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    return RegGetValueW(HKEY_CURRENT_USER, kMarkerKey, L"PackageStamp", RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS
               ? value : L"";
}

// The registry's HKCU becomes that user's: a process of theirs (an installer
// started with their credentials too) reads and writes their own hive.
void LoadHive(const std::wstring& user) {
    std::wstring owner;
    for (const Fact& f : g_facts)
        if (f[0] == L"session" && f.size() > 1) owner = f[1];
    if (!owner.empty()) {
        const std::wstring marker = ReadMarker();
        Erase([&](const Fact& f) { return f[0] == L"marker" && f.size() > 1 && f[1] == owner; });
        if (!marker.empty()) g_facts.push_back({L"marker", owner, marker});
    }
    Erase([](const Fact& f) { return f[0] == L"session"; });
    const Fact* mine = Find(L"marker", user);
    HKEY key = nullptr;
    if (mine && mine->size() > 2) {
        const std::wstring& value = (*mine)[2];
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kMarkerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key, L"PackageStamp", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kMarkerKey, L"PackageStamp");
    }
    g_facts.push_back({L"session", user});
}

// What Windows does when a user signs in: that user's registry hive, the
// provisioned packages registered for them, the Run key's programs started.
int SignIn(const std::wstring& user) {
    LoadHive(user);
    Erase([](const Fact& f) { return f[0] == L"as"; });
    HKEY key = nullptr;
    g_facts.push_back({L"as", L"machine", user});
    g_facts.push_back({L"as", L"register", user});
    std::vector<Fact> provisioned;
    for (const Fact& f : g_facts)
        if (f[0] == L"provisioned" && f.size() >= 5) provisioned.push_back(f);
    for (const Fact& p : provisioned) {
        bool current = false;
        for (const Fact& f : g_facts)
            current |= f[0] == L"registered" && f.size() >= 6 && f[1] == user && SameFamily(f, p[1], p[3], 2) &&
                       VersionNumber(f[3]) >= VersionNumber(p[2]);
        if (!current) Register(user, {L"package", L"", p[1], p[2], p[3], L""}, p[4]);
    }
    Save();
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return 0;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256], data[2048];
        DWORD nameSize = ARRAYSIZE(name), dataSize = sizeof(data) - sizeof(wchar_t), type = 0;
        if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) != ERROR_SUCCESS) break;
        if (type != REG_SZ) continue;
        data[dataSize / sizeof(wchar_t)] = L'\0';
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(nullptr, data, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            WaitForSingleObject(process.hProcess, 60000);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    RegCloseKey(key);
    return 0;
}

void Print(const std::wstring& text) {
    const std::string bytes = Narrow(text + L"\r\n");
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE) WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Append(const std::wstring& file, const std::wstring& line) {
    HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    const std::string bytes = Narrow(line + L"\n");
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

}  // namespace

// The command line of quillshell-package.exe's calls:
//   ... -Command "$ErrorActionPreference = 'Stop'; try { <pipeline> } catch { ...; exit $_.Exception.HResult }"
// Exit code 0, or the HRESULT of the refusal; commands it does not know are
// listed in unknown.txt (which the test expects never to exist).
int ActAsPowerShell(const std::wstring& folder, const wchar_t* commandLine) {
    const std::wstring line = commandLine;
    g_state = folder + L"\\deployment.txt";
    Append(folder + L"\\commands.txt", line);
    Load();
    const size_t signIn = line.find(L" --sign-in "), runAs = line.find(L" --run-as ");
    if (signIn != std::wstring::npos) return SignIn(line.substr(signIn + 11));
    if (runAs != std::wstring::npos) {
        LoadHive(line.substr(runAs + 10));
        Save();
        return 0;
    }
    const size_t from = line.find(L"try { "), to = line.rfind(L" } catch {");
    bool ok = from != std::wstring::npos && to != std::wstring::npos && to > from;
    std::vector<Command> pipeline;
    if (ok) pipeline = ParsePipeline(line.substr(from + 6, to - from - 6), &ok);
    const Failure failure = ok ? Run(pipeline) : Failure{1, L"model: no try { ... } catch { ... } around the command"};
    if (failure.code == 1) Append(folder + L"\\unknown.txt", line);
    if (failure.code != 0) {
        wchar_t hex[16];
        wsprintfW(hex, L"0x%08X", failure.code);
        Print(std::wstring(L"Deployment failed with HRESULT: ") + hex + L", " + failure.text);
        return static_cast<int>(failure.code);
    }
    Save();
    return 0;
}
