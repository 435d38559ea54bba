// The record that Windows 11's command has just shown its group: one 64-bit
// word in memory that the user's processes of this session share (a named
// file mapping in the session's Local\ namespace), written and consumed with
// interlocked operations. It holds the answer's time and a hash of the
// asking process, the item count and the first item's path: never a path.
#include "command_shown.h"

#include <aclapi.h>

#include <algorithm>
#include <cstdint>


namespace {

#ifdef _WIN64
// Windows 11 runs on x64 and ARM64 only, and so do its Explorer and the
// surrogate that hosts the command: a 32-bit process is never the one the
// command answered, so 32-bit builds neither write nor read the record.
constexpr bool kRecordExists = true;
#else
constexpr bool kRecordExists = false;
#endif

constexpr wchar_t kMappingName[] = L"Local\\Quillshell.CommandShown";

// For a larger selection Explorer hands context-menu handlers its first 16
// items; the command gets them all.
constexpr size_t kHandlerItems = 16;

struct SharedRecord {
    INIT_ONCE open;
    HANDLE mapping;
    volatile LONG64* word;  // in the mapping's view
} g_record = {INIT_ONCE_STATIC_INIT, nullptr, nullptr};

// The user this process runs as.
struct UserSid {
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    bool Read() noexcept {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
        DWORD size = 0;
        const bool read = GetTokenInformation(token, TokenUser, &info, sizeof(info), &size);
        CloseHandle(token);
        return read;
    }
    PSID get() noexcept { return info.user.User.Sid; }
};

// Whether the mapping belongs to the user: another user of the session could
// have made one of that name first, with a DACL of its choosing.
bool OwnedBy(HANDLE mapping, PSID user) noexcept {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(mapping, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &sd) != ERROR_SUCCESS)
        return false;
    const bool same = owner && EqualSid(owner, user);
    LocalFree(sd);
    return same;
}

// Once per process: the mapping, made by whichever side comes first, owned by
// the user and open to the user alone. Any failure leaves no record: the
// classic group then always shows.
BOOL CALLBACK OpenRecord(PINIT_ONCE, PVOID, PVOID*) noexcept {
    UserSid user;
    if (!user.Read()) return TRUE;
    union {
        ACL acl;
        BYTE bytes[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE];
    } dacl;
    SECURITY_DESCRIPTOR sd;
    if (!InitializeAcl(&dacl.acl, sizeof(dacl), ACL_REVISION) ||
        !AddAccessAllowedAce(&dacl.acl, ACL_REVISION, GENERIC_ALL, user.get()) ||
        !InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&sd, user.get(), FALSE) || !SetSecurityDescriptorDacl(&sd, TRUE, &dacl.acl, FALSE))
        return TRUE;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), &sd, FALSE};
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, sizeof(LONG64), kMappingName);
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!mapping) return TRUE;
    void* view = nullptr;
    if (!existed || OwnedBy(mapping, user.get()))
        view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG64));
    if (!view) {
        CloseHandle(mapping);
        return TRUE;
    }
    g_record.mapping = mapping;
    g_record.word = static_cast<volatile LONG64*>(view);
    return TRUE;
}

volatile LONG64* Record() noexcept {
    if (!kRecordExists) return nullptr;
    InitOnceExecuteOnce(&g_record.open, OpenRecord, nullptr, nullptr);
    return g_record.word;
}

// FNV-1a over the process, the count as handlers see it and the first path
// with ASCII letters in one case (a drive letter may come either way).
uint32_t SelectionHash(const SelectionHead& head, DWORD process) noexcept {
    const uint32_t count = static_cast<uint32_t>(std::min(head.count, kHandlerItems));
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < 4 + head.first.size(); ++i) {
        const wchar_t c = i < 4 ? L'\0' : head.first[i - 4];
        // 16 bits at a time: the process, the count, then each character.
        const uint32_t unit = i < 2 ? process >> (16 * i) : i < 4 ? count >> (16 * (i - 2))
                              : c >= L'a' && c <= L'z' ? c - (L'a' - L'A') : c;
        hash = (hash ^ (unit & 0xFFFF)) * 16777619u;
    }
    return hash | 1;  // a record is never 0, the empty word
}

LONG64 Pack(const SelectionHead& head, DWORD process, DWORD now) noexcept {
    return static_cast<LONG64>((static_cast<uint64_t>(now) << 32) | SelectionHash(head, process));
}

// The process whose call this is: Explorer when COM brought the call from
// another process (CoGetCallerTID answers S_FALSE with the calling STA
// thread's id), else this one.
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

void WriteCommandShown(const SelectionHead& head, DWORD process, DWORD now) noexcept {
    if (volatile LONG64* word = Record()) InterlockedExchange64(word, Pack(head, process, now));
}

bool TakeCommandShown(const SelectionHead& head, DWORD process, DWORD now) noexcept {
    volatile LONG64* word = Record();
    if (!word) return false;
    const LONG64 seen = *word;  // an aligned 64-bit read is atomic on x64 and ARM64
    const auto bits = static_cast<uint64_t>(seen);
    if (seen == 0 || now - static_cast<DWORD>(bits >> 32) > kCommandShownMs) return false;
    if (static_cast<uint32_t>(bits) != SelectionHash(head, process)) return false;
    // Taken by this menu alone; a record written meanwhile stays.
    return InterlockedCompareExchange64(word, 0, seen) == seen;
}

void RecordCommandShown(const SelectionHead& head) noexcept {
    if (!kRecordExists) return;
    if (const DWORD process = CallerProcess()) WriteCommandShown(head, process, GetTickCount());
}

void ReleaseCommandShown() noexcept {
    if (g_record.word) UnmapViewOfFile(const_cast<LONG64*>(g_record.word));
    if (g_record.mapping) CloseHandle(g_record.mapping);  // the DLL goes next: nothing reads them again
}
