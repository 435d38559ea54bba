// The command's side of the record that it has just shown its group
// (command_shown.cpp): it makes the shared memory, owned by the user and open
// to the user alone, and writes the record for the Explorer that asked.
#include "command_shown.h"

#include <aclapi.h>
#include <objbase.h>

namespace {

struct WriterView {
    INIT_ONCE open;
    volatile LONG64* word;  // in the mapping's view, kept for the process
} g_writer = {INIT_ONCE_STATIC_INIT, nullptr};

// Once per process. Any failure leaves no record: the classic group then
// always shows.
BOOL CALLBACK OpenWriter(PINIT_ONCE, PVOID, PVOID*) noexcept {
    CurrentUser user;
    if (!user.Read()) return TRUE;
    union {
        ACL acl;
        BYTE bytes[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE];
    } dacl;
    SECURITY_DESCRIPTOR sd;
    if (!InitializeAcl(&dacl.acl, sizeof(dacl), ACL_REVISION) ||
        !AddAccessAllowedAce(&dacl.acl, ACL_REVISION, GENERIC_ALL, user.Sid()) ||
        !InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&sd, user.Sid(), FALSE) || !SetSecurityDescriptorDacl(&sd, TRUE, &dacl.acl, FALSE))
        return TRUE;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), &sd, FALSE};
    HANDLE mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, sizeof(LONG64), kCommandShownName);
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!mapping) return TRUE;
    void* view = !existed || OwnedByUser(mapping, user.Sid())
                     ? MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG64))
                     : nullptr;
    if (!view) {
        CloseHandle(mapping);
        return TRUE;
    }
    g_writer.word = static_cast<volatile LONG64*>(view);  // the mapping lives as long as the process
    return TRUE;
}

// The process whose call this is: Explorer when COM brought the call from
// another process (CoGetCallerTID answers S_FALSE with the calling STA
// thread's id; Microsoft gives the id for diagnostics, not for security, and
// a wrong one only keeps a group), else this one.
DWORD CallerProcess() noexcept {
    DWORD thread = 0;
    if (CoGetCallerTID(&thread) != S_FALSE || thread == 0 || thread == static_cast<DWORD>(-1))
        return GetCurrentProcessId();
    HANDLE handle = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, thread);
    if (!handle) return 0;  // 0: no record, rather than one naming the wrong process
    const DWORD process = GetProcessIdOfThread(handle);
    CloseHandle(handle);
    return process;
}

}  // namespace

bool CurrentUser::Read() noexcept {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    const bool read = GetTokenInformation(token, TokenUser, &m_info, sizeof(m_info), &size);
    CloseHandle(token);
    return read;
}

// Another user of the session could have made a mapping of that name first,
// with a DACL of its choosing.
bool OwnedByUser(HANDLE mapping, PSID user) noexcept {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(mapping, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &sd) != ERROR_SUCCESS)
        return false;
    const bool same = owner && EqualSid(owner, user);
    LocalFree(sd);
    return same;
}

void WriteCommandShown(const SelectionHead& head, DWORD process, DWORD now) noexcept {
    if (!kCommandShownRecordExists) return;
    InitOnceExecuteOnce(&g_writer.open, OpenWriter, nullptr, nullptr);
    if (g_writer.word) InterlockedExchange64(g_writer.word, CommandShownWord(head, process, now));
}

void ForgetCommandShown() noexcept {
    if (g_writer.word) InterlockedExchange64(g_writer.word, 0);
}

void RecordCommandShown(const SelectionHead& head) noexcept {
    if (!kCommandShownRecordExists) return;
    if (const DWORD process = CallerProcess()) WriteCommandShown(head, process, GetTickCount());
}
