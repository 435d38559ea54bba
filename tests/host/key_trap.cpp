// key_trap volatile|deny|allow <key under HKEY_LOCAL_MACHINE>
// Makes the installer's registry writes fail, as a locked-down machine would:
//   volatile  creates the key as volatile; it cannot hold the non-volatile
//             keys that quillshell64reg and the installer write beneath it
//   deny      denies everyone writing to the existing key (values, subkeys)
//   allow     gives everyone full access again
// key_trap open-folder|acl <folder>
//   open-folder  makes the folder (if missing) and lets everyone change it, as
//                a folder made in C:\ lets every user modify what it holds
//   acl          prints the folder's owner and DACL in SDDL
// Exit codes: 0 done, 1 the key could not be made or changed, 2 usage.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

#include <string>

namespace {

bool MakeVolatile(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A null DACL allows everything; otherwise deny writes before granting the rest.
bool SetAccess(const wchar_t* path, bool denyWrites) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return false;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    PACL acl = nullptr;
    bool ok = AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    if (ok && denyWrites) {
        EXPLICIT_ACCESSW entries[2] = {};
        entries[0].grfAccessPermissions = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE;
        entries[0].grfAccessMode = DENY_ACCESS;
        entries[1].grfAccessPermissions = KEY_ALL_ACCESS;
        entries[1].grfAccessMode = GRANT_ACCESS;
        for (EXPLICIT_ACCESSW& entry : entries) {
            entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
            entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
        }
        ok = SetEntriesInAclW(2, entries, nullptr, &acl) == ERROR_SUCCESS;
    }
    SECURITY_DESCRIPTOR sd;
    ok = ok && InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE) &&
         RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd) == ERROR_SUCCESS;
    if (acl) LocalFree(acl);
    if (everyone) FreeSid(everyone);
    RegCloseKey(key);
    return ok;
}

bool OpenFolder(const wchar_t* path) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    CreateDirectoryW(path, nullptr);
    const bool ok = ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &sd,
                                                                         nullptr) &&
                    GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted) &&
                    SetNamedSecurityInfoW(const_cast<wchar_t*>(path), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                          nullptr, acl, nullptr) == ERROR_SUCCESS;
    if (sd) LocalFree(sd);
    return ok;
}

bool PrintAcl(const wchar_t* path) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    wchar_t* text = nullptr;
    const bool ok = GetNamedSecurityInfoW(path, SE_FILE_OBJECT, what, nullptr, nullptr, nullptr, nullptr, &sd) ==
                        ERROR_SUCCESS &&
                    ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, what, &text, nullptr);
    if (ok) std::printf("%ls\n", text);
    if (text) LocalFree(text);
    if (sd) LocalFree(sd);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const std::wstring mode = argv[1];
    bool ok;
    if (mode == L"volatile")
        ok = MakeVolatile(argv[2]);
    else if (mode == L"deny" || mode == L"allow")
        ok = SetAccess(argv[2], mode == L"deny");
    else if (mode == L"open-folder")
        ok = OpenFolder(argv[2]);
    else if (mode == L"acl")
        ok = PrintAcl(argv[2]);
    else
        return 2;
    return ok ? 0 : 1;
}
