// ReadSettings: the folder that holds TarnwickUnzip.exe.
#include "context_menu.h"

void CContextMenu::ReadSettings() {}
