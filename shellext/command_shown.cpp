// The record that Windows 11's command has just shown its group: one 64-bit
// word in memory that the user's processes of this session share (a named
// file mapping in the session's Local\ namespace, made by the command's side,
// command_shown_writer.cpp), written and consumed with interlocked operations.
// It holds the answer's time and a hash of the asking process, the item count
// and the first item's path: never a path. This file is the classic handler's
// side, which only opens it.
#include "command_shown.h"

#include <aclapi.h>

#include <algorithm>

namespace {

// For a larger selection Explorer hands context-menu handlers its first 16
// items; the command gets them all.
constexpr size_t kHandlerItems = 16;

// The classic side's view, opened once it exists. Until then a try every
// second at most: on Windows 10 it never will.
struct ReaderView {
    HANDLE mapping;
    void* volatile view;  // the record's word
    DWORD lastTry;  // 0: never tried
} g_reader = {nullptr, nullptr, 0};

// Whether the user this process runs as owns the mapping: another user of the
// session could have made one of that name first, with a DACL of its choosing.
bool OwnedByThisUser(HANDLE mapping) noexcept {
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    HANDLE token = nullptr;
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const bool read = GetTokenInformation(token, TokenUser, &info, sizeof(info), &size);
    CloseHandle(token);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!read || GetSecurityInfo(mapping, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                 nullptr, &sd) != ERROR_SUCCESS)
        return false;
    const bool same = owner && EqualSid(owner, info.user.User.Sid);
    LocalFree(sd);
    return same;
}

volatile LONG64* ReaderRecord() noexcept {
    if (!kCommandShownRecordExists) return nullptr;
    if (g_reader.view) return static_cast<volatile LONG64*>(g_reader.view);
    const DWORD now = GetTickCount();
    if (g_reader.lastTry && now - g_reader.lastTry < 1000) return nullptr;
    g_reader.lastTry = now | 1;
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE | READ_CONTROL, FALSE, kCommandShownName);
    if (!mapping) return nullptr;
    void* view = OwnedByThisUser(mapping)
                     ? MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG64))
                     : nullptr;
    // Another thread's menu may have opened it meanwhile: one view is kept,
    // and this menu does without.
    if (!view || InterlockedCompareExchangePointer(&g_reader.view, view, nullptr) != nullptr) {
        if (view) UnmapViewOfFile(view);
        CloseHandle(mapping);
        return nullptr;
    }
    g_reader.mapping = mapping;
    return static_cast<volatile LONG64*>(view);
}

}  // namespace

// FNV-1a (by units) over the process, the count as handlers see it and the first path
// with ASCII letters in one case (a drive letter may come either way).
LONG64 CommandShownWord(const SelectionHead& head, DWORD process, DWORD now) noexcept {
    const uint32_t count = static_cast<uint32_t>(std::min(head.count, kHandlerItems));
    uint32_t hash = ((2166136261u ^ process) * 16777619u ^ count) * 16777619u;
    for (wchar_t c : head.first) hash = (hash ^ (c >= L'a' && c <= L'z' ? c - (L'a' - L'A') : c)) * 16777619u;
    // A record is never 0, the empty word.
    return static_cast<LONG64>((static_cast<uint64_t>(now) << 32) | hash | 1);
}

bool TakeCommandShown(const SelectionHead& head, DWORD process, DWORD now) noexcept {
    volatile LONG64* word = ReaderRecord();
    if (!word) return false;
    const LONG64 seen = *word;  // an aligned 64-bit read is atomic on x64 and ARM64
    const auto bits = static_cast<uint64_t>(seen);
    // An empty word (0) never matches: every record's hash is odd.
    if (now - static_cast<DWORD>(bits >> 32) > kCommandShownMs) return false;
    if (static_cast<uint32_t>(bits) != static_cast<uint32_t>(CommandShownWord(head, process, 0))) return false;
    // Taken by this menu alone; a record written meanwhile stays.
    return InterlockedCompareExchange64(word, 0, seen) == seen;
}

void ReleaseCommandShown() noexcept {
    if (!g_reader.view) return;
    UnmapViewOfFile(g_reader.view);
    CloseHandle(g_reader.mapping);  // the DLL goes next: nothing reads them again
}
