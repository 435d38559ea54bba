// ReadSettings: the folder that holds TarnwickUnzip.exe, read at every menu
// and every command.
#include "context_menu.h"

namespace {
constexpr wchar_t kSettingsKey[] = L"Software\\Osmund\\Brellow";
constexpr wchar_t kDirectoryValue[] = L"Directory";
}  // namespace

void CContextMenu::ReadSettings() { ReadProgramFolder(m_directory); }

// A read that fails in any way keeps the last text that was read. Most
// folders fit the first read; a longer value is read again at its size.
void ReadProgramFolder(std::wstring& directory) {
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return;
    wchar_t buffer[MAX_PATH + 1];
    std::wstring large;
    wchar_t* text = buffer;
    DWORD type = REG_SZ;
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);  // one spare: the value need not carry its terminator
    LONG rc = RegQueryValueExW(key.get(), kDirectoryValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
    if (rc == ERROR_MORE_DATA && type == REG_SZ) {
        large.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        text = large.data();
        rc = RegQueryValueExW(key.get(), kDirectoryValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
    }
    if (rc != ERROR_SUCCESS || type != REG_SZ) return;
    text[bytes / sizeof(wchar_t)] = L'\0';
    directory.assign(text, wcslen(text));
}
