// Finding context-menu handlers the way Explorer does: through the class keys
// of the right-clicked item, each naming handlers under
//   HKEY_CLASSES_ROOT\<class key>\shellex\ContextMenuHandlers\<name>
//     (default)  REG_SZ  {CLSID}     (or the key's name is the CLSID itself)
// and, for systems that enforce it, the approval list
//   HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved
//     {CLSID}  REG_SZ  <description>
#include "host.h"

namespace {

bool ReadDefault(HKEY root, const std::wstring& key, std::wstring* value) {
    wchar_t buffer[512];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return false;
    *value = buffer;
    return !value->empty();
}

bool ParseClsid(const std::wstring& text, CLSID* clsid) {
    // CLSIDFromString would also accept a ProgID; only the braced form counts.
    return text.size() == 38 && text.front() == L'{' && text.back() == L'}' &&
           SUCCEEDED(CLSIDFromString(text.c_str(), clsid));
}

std::wstring Extension(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    const size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return L"";
    return path.substr(dot);
}

bool IsApproved(REFCLSID clsid) {
    return RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
                        GuidText(clsid).c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

}  // namespace

bool ApprovalEnforced() {
    DWORD value = 0, size = sizeof(value);
    return RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
                        L"EnforceShellExtensionSecurity", RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS &&
           value != 0;
}

std::vector<std::wstring> ClassKeysFor(const std::wstring& path, bool isFolder) {
    if (isFolder) return {L"Folder", L"AllFilesystemObjects", L"Directory"};
    std::vector<std::wstring> keys;
    std::wstring progId;
    const std::wstring extension = Extension(path);
    if (!extension.empty() && ReadDefault(HKEY_CLASSES_ROOT, extension, &progId)) keys.push_back(progId);
    keys.push_back(L"*");
    keys.push_back(L"AllFilesystemObjects");
    return keys;
}

std::vector<HandlerEntry> FindHandlers(const std::vector<std::wstring>& classKeys, bool isFolder) {
    // Initialize gets the key of the item's type: its ProgID (or "*"), or a
    // file system folder's "Directory".
    const std::wstring typeKey = isFolder ? L"Directory" : classKeys.front();
    std::vector<HandlerEntry> found;
    for (const std::wstring& classKey : classKeys) {
        const std::wstring parent = classKey + L"\\shellex\\ContextMenuHandlers";
        UniqueHKey key;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, parent.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) continue;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = ARRAYSIZE(name);
            const LONG rc = RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS) break;
            if (rc != ERROR_SUCCESS) continue;
            HandlerEntry entry;
            entry.name = name;
            entry.classKey = classKey;
            entry.typeKey = typeKey;
            std::wstring value;
            const bool named = ReadDefault(key.get(), name, &value) && ParseClsid(value, &entry.clsid);
            if (!named && !ParseClsid(entry.name, &entry.clsid)) continue;
            bool seen = false;
            for (const HandlerEntry& other : found) seen = seen || IsEqualCLSID(other.clsid, entry.clsid);
            entry.approved = IsApproved(entry.clsid);
            if (!seen) found.push_back(entry);
        }
    }
    return found;
}
