// Reads the paths of a drop-file list (CF_HDROP) in one pass.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The paths of the drop list, in order, exactly as DragQueryFileW would give
// them one index at a time (an ANSI list converted with the ANSI code page),
// but whole and in linear time: DragQueryFileW walks the list from its start
// at every index. An item that cannot be read (it would run past the end of
// the block) gives an empty path.
std::vector<std::wstring> ReadDropFiles(HGLOBAL hDrop);
