// ReadSettings: the folder that holds TarnwickUnzip.exe, read at every menu.
#include "context_menu.h"

namespace {
constexpr wchar_t kSettingsKey[] = L"Software\\Osmund\\Brellow";
constexpr wchar_t kDirectoryValue[] = L"Directory";
}  // namespace

// A read that fails in any way keeps the last text that was read.
void CContextMenu::ReadSettings() {
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return;
    DWORD type = REG_SZ;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), kDirectoryValue, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return;
    // One spare character: a stored string need not carry its terminator.
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.get(), kDirectoryValue, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return;
    text.resize(wcsnlen(text.c_str(), text.size()));
    m_directory = std::move(text);
}
