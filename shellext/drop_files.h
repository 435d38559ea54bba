// Reads the selection out of a data object's formats: the drop-file list
// (CF_HDROP) in one pass, the shell's ID list (CFSTR_SHELLIDLIST) and the
// items' attributes (CFSTR_FILE_ATTRIBUTES_ARRAY). Every block is untrusted:
// nothing is read beyond its GlobalSize.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The paths of the drop list, in order, exactly as DragQueryFileW would give
// them one index at a time (an ANSI list converted with the ANSI code page),
// but whole and in linear time: DragQueryFileW walks the list from its start
// at every index. A list that runs past the end of its block (an item or the
// final empty string without its terminator, an offset beyond the block) ends
// in an empty path: the items it would hold there cannot be read. Nothing for
// a block too short for its header.
std::vector<std::wstring> ReadDropFiles(HGLOBAL hDrop);

// The file-system path of each item of an ID list block (a CIDA), in order,
// with a \\?\ prefix dropped where the path does not need it. An item without
// one (not in the file system, or an ID list that runs past the block) gives
// an empty path. Nothing when the block holds no items.
std::vector<std::wstring> ReadIdListPaths(HGLOBAL hIda);

// The attributes of the `items` items of a FILE_ATTRIBUTES_ARRAY block; nothing
// when the block is short or counts another number of items.
std::vector<DWORD> ReadFileAttributes(HGLOBAL hArray, size_t items);
