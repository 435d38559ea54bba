// The stress program's surroundings: a private temp folder and its faults,
// the program-folder setting and its faults, the receiver, existing items,
// and the resource counts.
#include <windows.h>
#include <shellapi.h>
#include <psapi.h>

#include "stress.h"
#include "support.h"

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Osmund\\Brellow";
constexpr wchar_t kDirectoryValue[] = L"Directory";

std::wstring Env(const wchar_t* name, bool* present) {
    std::vector<wchar_t> value(32768);
    const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    *present = n > 0 && n < value.size();
    return *present ? std::wstring(value.data(), n) : std::wstring();
}

bool MakeFile(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(h, "x", 1, &written, nullptr);
    CloseHandle(h);
    return true;
}


// A folder path of exactly `length` characters below `parent`, made on disk
// one component of at most 100 characters at a time.
std::wstring FolderOfLength(const std::wstring& parent, size_t length) {
    std::wstring dir = parent;
    while (dir.size() + 1 < length) {
        const size_t left = length - dir.size();
        size_t part = left - 1 < 100 ? left - 1 : 100;
        if (left - 1 - part == 1) --part;  // never leave room for a lone backslash
        dir += L'\\';
        dir += std::wstring(part, L'L');
        CreateDirectoryW(dir.c_str(), nullptr);
    }
    return dir;
}

}  // namespace

World::World() {
    m_oldTmp = Env(L"TMP", &m_hadTmp);
    m_oldTemp = Env(L"TEMP", &m_hadTemp);
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(ARRAYSIZE(temp), temp);
    if (n == 0 || n > MAX_PATH) return;
    m_root = std::wstring(temp, n) + L"quill-stress-" + std::to_wstring(GetCurrentProcessId());
    RemoveTree(m_root);
    if (!CreateDirectoryW(m_root.c_str(), nullptr)) return;

    m_program = m_root + L"\\prog";
    m_noProgram = m_root + L"\\noprog";
    m_handed = m_root + L"\\handed";
    CreateDirectoryW(m_program.c_str(), nullptr);
    CreateDirectoryW(m_noProgram.c_str(), nullptr);
    CreateDirectoryW(m_handed.c_str(), nullptr);
    const std::wstring receiver = BinDir() + L"\\stress_receiver.exe";
    if (!CopyFileW(receiver.c_str(), (m_program + L"\\TarnwickUnzip.exe").c_str(), FALSE)) return;
    // The receiver moves the list file it was given into this folder.
    SetEnvironmentVariableW(L"QUILL_STRESS_HANDED", m_handed.c_str());

    // With its backslash the long folder leaves no room for a list file's
    // 40-character name within 259 characters; the edge folder leaves exactly enough.
    m_longTemp = FolderOfLength(m_root, 225);
    m_edgeTemp = FolderOfLength(m_root + L"\\e", 218);
    m_notAFolder = m_root + L"\\plainfile";
    MakeFile(m_notAFolder);

    const std::wstring items = m_root + L"\\items";
    CreateDirectoryW(items.c_str(), nullptr);
    static const wchar_t* const kFiles[] = {
        L"a.zip", L"Photos.ZIP", L"b.rar", L"Backup.part02.rar", L"x.part1.rar", L"disk.001", L"disk.000",
        L"disk.002", L"notes.txt", L"readme", L"name.", L"with space .zip", L"\u03A9mega.zip", L"\u65E5\u672C.rar",
        L"na\u00EFve \u00E9.txt", L"Docs\\inner.txt", L"Folder.zip\\inside.zip"};
    static const wchar_t* const kFolders[] = {L"Docs", L"Folder.zip", L"\u0416\u0443\u043A"};
    for (const wchar_t* folder : kFolders) {
        CreateDirectoryW((items + L"\\" + folder).c_str(), nullptr);
        m_items.push_back(items + L"\\" + folder);
    }
    for (const wchar_t* file : kFiles) {
        if (MakeFile(items + L"\\" + file)) m_items.push_back(items + L"\\" + file);
    }
    m_items.push_back(items);
    m_items.push_back(m_root);

    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        DWORD bytes = 0;
        if (RegQueryValueExW(key, kDirectoryValue, nullptr, &m_oldType, nullptr, &bytes) == ERROR_SUCCESS) {
            m_oldValue.resize(bytes);
            m_hadValue = RegQueryValueExW(key, kDirectoryValue, nullptr, &m_oldType, m_oldValue.data(), &bytes) ==
                         ERROR_SUCCESS;
            m_oldValue.resize(bytes);
        }
        RegCloseKey(key);
    }
    SetTemp(m_root);
    m_ready = true;
}

World::~World() {
    if (m_root.empty()) return;
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    if (m_hadValue) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExW(key, kDirectoryValue, 0, m_oldType, m_oldValue.data(), static_cast<DWORD>(m_oldValue.size()));
            RegCloseKey(key);
        }
    }
    SetEnvironmentVariableW(L"TMP", m_hadTmp ? m_oldTmp.c_str() : nullptr);
    SetEnvironmentVariableW(L"TEMP", m_hadTemp ? m_oldTemp.c_str() : nullptr);
    RemoveTree(m_root);
}

// GetTempPathW takes TMP first, then TEMP; both are set so that neither
// order nor a missing one sends a list file elsewhere.
void World::SetTemp(const std::wstring& dir) {
    SetEnvironmentVariableW(L"TMP", dir.c_str());
    SetEnvironmentVariableW(L"TEMP", dir.c_str());
}

void World::ChooseTemp(Rng& rng, Counters& counters) {
    const uint32_t roll = rng.Below(100);
    static const char* const kFaults[] = {"missing", "a file", "longer than MAX_PATH", "too long for a list file",
                                          "list file name of 259 characters"};
    if (roll < 90 || Skipped(kFaults[(roll - 90) / 2])) {
        SetTemp(m_root);
        counters.Note("temp folder: normal");
    } else if (roll < 92) {
        SetTemp(m_root + L"\\missing");
        counters.Note("temp folder: missing");
    } else if (roll < 94) {
        SetTemp(m_notAFolder);
        counters.Note("temp folder: a file");
    } else if (roll < 96) {
        SetTemp(m_root + L"\\" + std::wstring(rng.Between(220, 400), L'x'));
        counters.Note("temp folder: longer than MAX_PATH");
    } else if (roll < 98) {
        SetTemp(m_longTemp);
        counters.Note("temp folder: too long for a list file");
    } else {
        SetTemp(m_edgeTemp);
        counters.Note("temp folder: list file name of 259 characters");
    }
}

// How each setting fares: the handler reads the program folder from it
// (Replaces), keeps what it read before (Keeps), or one of the two (Unknown:
// a value that a careful reader may take or refuse). `starts` says whether
// the folder it names holds the receiver.
void World::ChooseSetting(Rng& rng, Counters& counters) {
    struct Choice {
        const char* name;
        unsigned weight;  // per mille
        Reads reads;
        bool starts;
    };
    static const Choice kChoices[] = {
        {"receiver", 20, Replaces, true},
        {"receiver, trailing backslash", 4, Replaces, true},
        {"receiver, no terminator", 3, Unknown, true},
        {"receiver, then NUL and junk", 3, Unknown, true},
        {"receiver, odd byte count", 3, Unknown, true},
        {"folder without the program", 180, Replaces, false},
        {"missing folder", 120, Replaces, false},
        {"value removed", 120, Keeps, false},
        {"key removed", 60, Keeps, false},
        {"relative folder", 60, Replaces, false},
        {"empty REG_SZ", 60, Replaces, false},
        {"REG_EXPAND_SZ", 60, Keeps, false},
        {"REG_DWORD", 60, Keeps, false},
        {"REG_BINARY", 40, Keeps, false},
        {"REG_MULTI_SZ", 40, Keeps, false},
        {"zero-byte REG_SZ", 40, Unknown, false},
        {"huge REG_SZ (200,000 characters)", 27, Unknown, false},
        {"REG_SZ of 300 characters", 50, Replaces, false},
        {"REG_SZ above U+00FF", 50, Replaces, false},
    };
    uint32_t roll = rng.Below(1000);
    const Choice* choice = &kChoices[0];
    for (const Choice& c : kChoices) {
        choice = &c;
        if (roll < c.weight) break;
        roll -= c.weight;
    }
    if (Skipped(choice->name)) choice = &kChoices[5];
    counters.Note(std::string("setting: ") + choice->name);
    m_settingReads = choice->reads;
    m_settingStarts = choice->starts;

    const std::string name = choice->name;
    if (name == "key removed") {
        RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        Fail("cannot write the setting");
        return;
    }
    auto bytesOf = [](const std::wstring& s, bool terminator) {
        const BYTE* p = reinterpret_cast<const BYTE*>(s.c_str());
        return std::vector<BYTE>(p, p + (s.size() + (terminator ? 1 : 0)) * sizeof(wchar_t));
    };
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
    if (name == "receiver") {
        data = bytesOf(m_program, true);
    } else if (name == "receiver, trailing backslash") {
        data = bytesOf(m_program + L"\\", true);
    } else if (name == "receiver, no terminator") {
        data = bytesOf(m_program, false);
    } else if (name == "receiver, then NUL and junk") {
        data = bytesOf(m_program + std::wstring(1, L'\0') + L"C:\\elsewhere", true);
    } else if (name == "receiver, odd byte count") {
        data = bytesOf(m_program, true);
        data.push_back(0x41);
    } else if (name == "folder without the program") {
        data = bytesOf(m_noProgram, true);
    } else if (name == "missing folder") {
        data = bytesOf(m_root + L"\\gone", true);
    } else if (name == "value removed") {
        RegDeleteValueW(key, kDirectoryValue);
        RegCloseKey(key);
        return;
    } else if (name == "relative folder") {
        data = bytesOf(L"Tools", true);
    } else if (name == "empty REG_SZ") {
        data = bytesOf(L"", true);
    } else if (name == "REG_EXPAND_SZ") {
        type = REG_EXPAND_SZ;
        data = bytesOf(m_program, true);
    } else if (name == "REG_DWORD") {
        type = REG_DWORD;
        data = {1, 2, 3, 4};
    } else if (name == "REG_BINARY") {
        type = REG_BINARY;
        data.assign(rng.Below(600), 0xEE);
    } else if (name == "REG_MULTI_SZ") {
        type = REG_MULTI_SZ;
        data = bytesOf(m_program + std::wstring(1, L'\0'), true);
    } else if (name == "zero-byte REG_SZ") {
        data.clear();
    } else if (name == "huge REG_SZ (200,000 characters)") {
        data = bytesOf(L"C:\\" + std::wstring(200000, L'h'), true);
    } else if (name == "REG_SZ of 300 characters") {
        data = bytesOf(L"C:\\" + std::wstring(297, L'p'), true);
    } else {
        data = bytesOf(m_root + L"\\\u0416\u65E5", true);
    }
    if (RegSetValueExW(key, kDirectoryValue, 0, type, data.data(), static_cast<DWORD>(data.size())) != ERROR_SUCCESS)
        Fail("cannot write the setting %s", choice->name);
    RegCloseKey(key);
}

bool World::Skipped(const std::string& name) const {
    for (const std::string& skip : m_skip)
        if (name.find(skip) != std::string::npos) return true;
    return false;
}

bool World::MayStartAfterRead(bool before) const {
    switch (m_settingReads) {
    case Replaces: return m_settingStarts;
    case Keeps: return before;
    default: return before || m_settingStarts;
    }
}

std::set<std::wstring> World::ListFiles() const {
    std::set<std::wstring> files;
    for (const std::wstring& dir : {m_root, m_longTemp, m_edgeTemp}) {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((dir + L"\\*.txt").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            if (IsListFileName(data.cFileName)) files.insert(dir + L"\\" + data.cFileName);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    return files;
}

size_t World::HandedCount() const {
    size_t count = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((m_handed + L"\\*.txt").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
        ++count;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return count;
}

namespace {

struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};

unsigned long HandlesFromSystemList() {
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return 0;
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<BYTE> buffer(1 << 16);
    ULONG length = 0;
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &length)) ==
           kInfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0) return 0;
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    const ULONG self = GetCurrentProcessId();
    unsigned long mine = 0;
    for (ULONG i = 0; i < count; ++i) mine += entries[i].ownerPid == self;
    return mine;
}

// Wine finds a GDI object by the low word of its handle alone when the high
// word is zero; Windows counts them itself (GetGuiResources).
unsigned long GdiObjectsByIndex() {
    unsigned long count = 0;
    for (ULONG_PTR i = 1; i < 0x10000; ++i) count += GetObjectType(reinterpret_cast<HGDIOBJ>(i)) != 0;
    return count;
}

}  // namespace

ResourceCount CountResources() {
    ResourceCount r;
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    r.handles = handles;
    r.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    r.how = "GetProcessHandleCount, GetGuiResources";
    PROCESS_MEMORY_COUNTERS_EX memory{};
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)))
        r.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;  // Wine fills only the latter
    if (r.handles == 0) {  // no process runs without a handle: the call is a stub
        r.handles = HandlesFromSystemList();
        r.gdi = GdiObjectsByIndex();
        r.how = "the system handle list, GDI handle indices (Wine)";
    }
    return r;
}

BoxCloser::BoxCloser() { m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr); }

BoxCloser::~BoxCloser() {
    InterlockedExchange(&m_stop, 1);
    if (m_thread) {
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
    }
}

DWORD WINAPI BoxCloser::Run(void* self) {
    auto* closer = static_cast<BoxCloser*>(self);
    while (!closer->m_stop) {
        EnumWindows(
            [](HWND window, LPARAM) CALLBACK -> BOOL {  // (CALLBACK: stdcall on x86)
                DWORD pid = 0;
                GetWindowThreadProcessId(window, &pid);
                wchar_t cls[16] = L"";
                if (pid == GetCurrentProcessId() && GetClassNameW(window, cls, ARRAYSIZE(cls)) &&
                    lstrcmpW(cls, L"#32770") == 0) {
                    PostMessageW(window, WM_COMMAND, IDOK, 0);
                }
                return TRUE;
            },
            0);
        Sleep(20);
    }
    return 0;
}
