// ReadSettings: the folder that holds TarnwickUnzip.exe, read at every menu
// and every command.
#include "context_menu.h"
#include "module.h"

namespace {
constexpr wchar_t kSettingsKey[] = L"Software\\Osmund\\Brellow";
constexpr wchar_t kDirectoryValue[] = L"Directory";

// The key stays open for the process: a read is then one query, not an open,
// a query and a close. Explorer's threads read at the same time; the lock
// keeps the key from being closed under a read. A plain handle: no exit code
// of the C runtime may close it (ReleaseSettingsKey does, at an unload).
SRWLOCK g_keyLock = SRWLOCK_INIT;
HKEY g_key = nullptr;

class SharedLock {
public:
    explicit SharedLock(SRWLOCK& lock) noexcept : m_lock(lock) { AcquireSRWLockShared(&m_lock); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;
    ~SharedLock() { ReleaseSRWLockShared(&m_lock); }

private:
    SRWLOCK& m_lock;
};

// Puts `key` (or none) in the place of the kept key, which is closed.
void KeepKey(HKEY key) noexcept {
    AcquireSRWLockExclusive(&g_keyLock);
    HKEY old = g_key;
    g_key = key;
    ReleaseSRWLockExclusive(&g_keyLock);
    if (old) RegCloseKey(old);
}

// The value through the kept key into `directory`; ERROR_INVALID_HANDLE when
// no key is kept. Most folders fit the first query; a longer value is read
// again at its size.
LONG ReadDirectory(std::wstring& directory) {
    SharedLock lock(g_keyLock);
    if (!g_key) return ERROR_INVALID_HANDLE;
    wchar_t buffer[MAX_PATH + 1];
    std::wstring large;
    wchar_t* text = buffer;
    DWORD type = REG_SZ;
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);  // one spare: the value need not carry its terminator
    LONG rc = RegQueryValueExW(g_key, kDirectoryValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
    if (rc == ERROR_MORE_DATA && type == REG_SZ) {
        large.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        text = large.data();
        rc = RegQueryValueExW(g_key, kDirectoryValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
    }
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ) return ERROR_UNSUPPORTED_TYPE;
    text[bytes / sizeof(wchar_t)] = L'\0';
    directory.assign(text, wcslen(text));
    return ERROR_SUCCESS;
}

}  // namespace

// A read that fails in any way keeps the last text that was read. A key that
// was not there at the last read, or has been deleted since (its handle then
// reads ERROR_KEY_DELETED, also when a new key of the name was made), is
// opened again.
void ReadProgramFolder(std::wstring& directory) {
    const LONG rc = ReadDirectory(directory);
    if (rc != ERROR_INVALID_HANDLE && rc != ERROR_KEY_DELETED) return;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) key = nullptr;
    KeepKey(key);
    if (key) ReadDirectory(directory);
}

void CContextMenu::ReadSettings() { ReadProgramFolder(m_directory); }

// At an unload no other thread runs our code, and DllMain may take no lock.
void ReleaseSettingsKey() noexcept {
    if (g_key) RegCloseKey(g_key);
    g_key = nullptr;
}
