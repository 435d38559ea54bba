// Reads the selection out of an IShellItemArray, as the Windows 11 menu hands
// it over: the counterpart of drop_files.h for the classic handler.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "core.h"

// The count and the first item, from the array's count, its attributes for all
// items at once and its first item, never from any other item: Explorer asks
// at every right-click, on its own thread. False for a selection that gets no
// commands: no array, no items, or an item without a file-system path.
bool ReadSelectionHead(IShellItemArray* items, SelectionHead* head);

// Every item's path, in the array's order, from the array's data object when
// it gives a drop list, else item by item; false when one has none.
bool ReadSelectionPaths(IShellItemArray* items, std::vector<std::wstring>* paths);
