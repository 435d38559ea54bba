// The core that both handlers share: the selection's classification, the group
// of commands with its captions, the proposed zip, the setting and the start of
// TarnwickUnzip.exe. The classic handler (CContextMenu) feeds it from a data
// object, the Windows 11 command (explorer_command.cpp) from an IShellItemArray.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "shell_util.h"

// Command indexes, shared with the verb table.
enum Command : int {
    kDecompress = 0,
    kCompress = 1,
    kUnpackHere = 2,
    kUnpackTo = 3,
    kUnpackToFolder = 4,
    kTest = 6,
    kZip = 7,
    kZipTo = 8,
    kZipWithMPW = 9,
};

// All that the group depends on: how many items there are and the first one.
// Both surfaces know it without reading the whole selection.
struct SelectionHead {
    enum Folder { kAskDisk, kNoFolder, kFolder };
    size_t count = 0;
    std::wstring first;            // the first item's path
    Folder firstFolder = kAskDisk;  // as the shell already says, or unknown
};

// The first item is a folder: as the shell says, else as the disk says.
bool IsFolderItem(const CShellUtil& util, const std::wstring& path, SelectionHead::Folder known);

// One item whose name is an archive's (.zip, .rar, .000, .001) and that is no folder.
bool IsArchiveSelection(const CShellUtil& util, const SelectionHead& head);

// The zip proposed for the selection: for one item, named after it beside it;
// for several, named after their folder inside it (in a drive root, after the
// first item). Only the first path is looked at.
std::wstring MakeZipName(const CShellUtil& util, const SelectionHead& head);

struct GroupItem {
    std::wstring strCaption;
    int nCommand;
};
struct CommandGroup {
    std::vector<GroupItem> items;  // in menu order
    std::wstring zipName;          // the third argument of every command: the zip's path, or "NULL"
};
// The extract group for an archive, else the create group.
CommandGroup MakeGroup(const CShellUtil& util, const SelectionHead& head, bool archive);

// A caption as a menu item's text: menus read "&" as the mark of the next
// letter's shortcut, so each "&" of a name is doubled to show as itself.
std::wstring MenuText(const std::wstring& caption);

// settings.cpp: the folder that holds TarnwickUnzip.exe. A read that fails in
// any way leaves `directory` as it was.
void ReadProgramFolder(std::wstring& directory);

// dispatch.cpp: one command on the whole selection.
struct CommandRun {
    UINT nCommand;
    const std::vector<std::wstring>& files;  // every selected path, in selection order
    const std::wstring& zipName;             // the proposed zip's path, or "NULL"
    const std::wstring& currentFile;         // the item an error box names
    const std::wstring& directory;           // the setting, as read
};
// Writes the list file and starts the program. S_OK once it is started (or
// when there is nothing to do); else the status that the error box, owned by
// hwnd's top-level window, shows (or would show, with bNoUI).
HRESULT StartCommand(const CommandRun& run, HWND hwnd, bool bNoUI);
