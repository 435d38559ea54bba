#include "command_support.h"

#include <algorithm>

#include "support.h"

namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t value[32768];
    DWORD n = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
    return std::wstring(value, n < ARRAYSIZE(value) ? n : 0);
}

constexpr wchar_t kSettingsKey[] = L"Software\\Osmund\\Brellow";

}  // namespace

std::wstring NewFolder(const std::wstring& parent, const std::wstring& name) {
    std::wstring dir = parent;
    if (!dir.empty() && dir.back() != L'\\') dir += L'\\';
    dir += name;
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

std::string Latin1(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) bytes += static_cast<char>(static_cast<unsigned char>(c));
    return bytes;
}

PrivateTemp::PrivateTemp() : m_oldTmp(Env(L"TMP")), m_oldTemp(Env(L"TEMP")) {
    static int counter = 0;
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(ARRAYSIZE(base), base);
    m_dir = NewFolder(base, L"qcmd-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter)) +
            L"\\";
    SetEnvironmentVariableW(L"TMP", m_dir.c_str());
    SetEnvironmentVariableW(L"TEMP", m_dir.c_str());
}

PrivateTemp::~PrivateTemp() {
    SetEnvironmentVariableW(L"TMP", m_oldTmp.empty() ? nullptr : m_oldTmp.c_str());
    SetEnvironmentVariableW(L"TEMP", m_oldTemp.empty() ? nullptr : m_oldTemp.c_str());
    RemoveTree(m_dir.substr(0, m_dir.size() - 1));
}

std::vector<std::wstring> PrivateTemp::Files() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((m_dir + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

bool HasRecord(const std::wstring& dir) {
    return GetFileAttributesW((dir + L"\\record.bin").c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

// The twin in Later\ measures how long a start takes now; its record never
// mixes with the program's. A record left by an earlier run (Wine reuses
// process ids, and so the temp folder's name) goes first.
ProgramFolder::ProgramFolder(const std::wstring& parent) : m_dir(NewFolder(parent, L"Tools")) {
    for (const std::wstring& dir : {m_dir, NewFolder(m_dir, L"Later")}) {
        CopyFileW((BinDir() + L"\\receiver.exe").c_str(), (dir + L"\\TarnwickUnzip.exe").c_str(), FALSE);
        DeleteFileW((dir + L"\\record.bin").c_str());
    }
}

// A twin that does not record itself shows nothing: that counts as a start.
bool ProgramFolder::WasStarted() {
    const std::wstring twin = m_dir + L"\\Later";
    const ULONGLONG start = GetTickCount64();
    if (reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, nullptr, (twin + L"\\TarnwickUnzip.exe").c_str(), L"twin",
                                                nullptr, SW_SHOWNORMAL)) <= 32)
        return true;
    while (!HasRecord(twin)) {
        if (GetTickCount64() - start > 20000) return true;
        Sleep(20);
    }
    DeleteFileW((twin + L"\\record.bin").c_str());
    Sleep(static_cast<DWORD>(GetTickCount64() - start));
    return HasRecord(m_dir);
}

bool ProgramFolder::Wait(Record* record, DWORD timeoutMs) {
    const std::wstring path = m_dir + L"\\record.bin";
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!HasRecord(m_dir)) {
        if (GetTickCount64() > end) return false;
        Sleep(20);
    }
    const std::string data = ReadBytes(path);
    DeleteFileW(path.c_str());
    uint32_t n = 0, m = 0;
    if (data.size() < 8) return false;
    memcpy(&n, data.data(), 4);
    if (data.size() < 8 + n * 2ull) return false;
    record->commandLine.assign(reinterpret_cast<const wchar_t*>(data.data() + 4), n);
    memcpy(&m, data.data() + 4 + n * 2, 4);
    record->listRead = m != 0xFFFFFFFFu;
    if (record->listRead) record->list = data.substr(8 + n * 2ull, m);
    return true;
}

DirectorySetting::DirectorySetting() { m_had = ReadString(HKEY_CURRENT_USER, kSettingsKey, L"Directory", &m_old); }

DirectorySetting::~DirectorySetting() {
    if (m_had)
        Set(m_old);
    else
        Remove();
}

void DirectorySetting::Set(const std::wstring& value, DWORD type) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    RegSetValueExW(key, L"Directory", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void DirectorySetting::Remove() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Directory"); }

HRESULT InvokeOffset(IContextMenu* menu, UINT offset, DWORD cbSize, bool unicode, DWORD mask, HWND hwnd) {
    CMINVOKECOMMANDINFOEX ici{};
    ici.cbSize = cbSize;
    ici.fMask = mask | (unicode ? CMIC_MASK_UNICODE : 0);
    ici.hwnd = hwnd;
    ici.lpVerb = MAKEINTRESOURCEA(offset);
    ici.lpVerbW = MAKEINTRESOURCEW(offset);
    ici.nShow = SW_SHOWNORMAL;
    return menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&ici));
}

HRESULT InvokeVerbA(IContextMenu* menu, const char* verb, DWORD cbSize) {
    CMINVOKECOMMANDINFOEX ici{};
    ici.cbSize = cbSize;
    ici.lpVerb = verb;
    ici.nShow = SW_SHOWNORMAL;
    return menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&ici));
}

HRESULT InvokeVerbs(IContextMenu* menu, const char* verbA, const wchar_t* verbW, DWORD cbSize, bool unicode) {
    CMINVOKECOMMANDINFOEX ici{};
    ici.cbSize = cbSize;
    ici.fMask = unicode ? CMIC_MASK_UNICODE : 0;
    ici.lpVerb = verbA;
    ici.lpVerbW = verbW;
    ici.nShow = SW_SHOWNORMAL;
    return menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&ici));
}

BoxWatcher::BoxWatcher() { m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr); }

BoxWatcher::~BoxWatcher() { Stop(); }

std::vector<BoxWatcher::Box> BoxWatcher::Stop() {
    if (m_thread) {
        InterlockedExchange(&m_stop, 1);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    return m_boxes;
}

DWORD WINAPI BoxWatcher::Run(void* param) {
    auto* self = static_cast<BoxWatcher*>(param);
    std::vector<HWND> closed;
    while (!InterlockedCompareExchange(&self->m_stop, 0, 0)) {
        struct Search {
            std::vector<HWND> found;
        } search;
        EnumWindows(
            [](HWND hwnd, LPARAM lp) CALLBACK -> BOOL {  // (CALLBACK: stdcall on x86)
                DWORD pid = 0;
                GetWindowThreadProcessId(hwnd, &pid);
                wchar_t cls[16] = {};
                GetClassNameW(hwnd, cls, ARRAYSIZE(cls));
                if (pid == GetCurrentProcessId() && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hwnd))
                    reinterpret_cast<Search*>(lp)->found.push_back(hwnd);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        for (HWND box : search.found) {
            if (std::find(closed.begin(), closed.end(), box) != closed.end()) continue;
            Box seen;
            wchar_t text[2048] = {};
            GetWindowTextW(box, text, ARRAYSIZE(text));
            seen.caption = text;
            text[0] = 0;
            GetDlgItemTextW(box, 0xFFFF, text, ARRAYSIZE(text));
            seen.text = text;
            seen.owner = GetWindow(box, GW_OWNER);
            seen.ownerEnabled = seen.owner && IsWindowEnabled(seen.owner);
            self->m_boxes.push_back(seen);
            closed.push_back(box);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        Sleep(10);
    }
    return 0;
}
