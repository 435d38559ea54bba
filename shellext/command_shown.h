// The record that Windows 11's command has just shown its group for a
// selection. Windows 11 puts a package's commands into its full menu ("Show
// more options") too, asking the command first; the classic handler, built in
// the same menu right after, reads the record and adds no second group.
#pragma once

#include <windows.h>

#include "core.h"

// How long a record holds. Explorer asks the command's state and then builds
// the classic handlers into the same menu, one pass on one thread: a pass
// slower than this gets both groups, the harmless way to fail. A record that
// outlives the menu it was meant for could only hide the group of a later menu
// of the same selection in the same Explorer whose command was not asked,
// and the first classic menu that matches consumes it.
constexpr DWORD kCommandShownMs = 3000;

// The command answered visible for this selection, asked by `process` at
// `now` (GetTickCount).
void WriteCommandShown(const SelectionHead& head, DWORD process, DWORD now) noexcept;
// True, once, when the record names this selection and `process` and is at
// most kCommandShownMs old; the record is then cleared. False on any failure.
bool TakeCommandShown(const SelectionHead& head, DWORD process, DWORD now) noexcept;

// The command's side: the process that asked (Explorer, across the COM
// Surrogate's boundary), now.
void RecordCommandShown(const SelectionHead& head) noexcept;
// A command of the menu ran: that menu is closed, and no later one may lose
// its group to its record.
void ForgetCommandShown() noexcept;
// The classic handler's side: this process, now.
inline bool CommandJustShown(const SelectionHead& head) noexcept {
    return TakeCommandShown(head, GetCurrentProcessId(), GetTickCount());
}

// Gives back the classic side's view when FreeLibrary unloads the DLL.
void ReleaseCommandShown() noexcept;

// Shared by both sides.
#ifdef _WIN64
// Windows 11 runs on x64 and ARM64 only, and so do its Explorer and the
// surrogate that hosts the command: a 32-bit process is never the one the
// command answered, so 32-bit builds neither write nor read the record.
constexpr bool kCommandShownRecordExists = true;
#else
constexpr bool kCommandShownRecordExists = false;
#endif
constexpr wchar_t kCommandShownName[] = L"Local\\Quillshell.CommandShown";
// The record's word for this selection, process and time.
LONG64 CommandShownWord(const SelectionHead& head, DWORD process, DWORD now) noexcept;
// The user this process runs as.
class CurrentUser {
public:
    bool Read() noexcept;
    PSID Sid() noexcept { return m_info.user.User.Sid; }

private:
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } m_info;
};
// Whether the mapping's owner is `user`.
bool OwnedByUser(HANDLE mapping, PSID user) noexcept;
