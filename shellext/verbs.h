// The verb table: every command the handler knows, with its language-independent
// verb and the id of its help text. The command index is the number shared by
// the menu records, the dispatch and this table.
#pragma once

#include <windows.h>

struct VerbInfo {
    wchar_t szVerb[100];  // lower case, as the shell and hosts see it
    int nHelpStringId;    // string table id of the help text
    int nCommand;         // command index; -1 ends the table
};

// Rows in command order; index 5 has no row. Read-only.
extern const VerbInfo g_verbTable[];

// The first row whose command is nCommand, or null. The row's command is read
// as an unsigned 32-bit value and widened, so no value from the shell can
// match the terminator.
const VerbInfo* FindVerbByCommand(UINT_PTR nCommand) noexcept;

// The command of the first row whose verb equals verb, ignoring case by the
// user's locale; -1 when there is none.
int FindCommandByVerb(const wchar_t* verb) noexcept;
