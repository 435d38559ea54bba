// quillshell.dll serves the context-menu handler alone.
#include "context_menu.h"
#include "module.h"
#include "program_start.h"

const ServerClass g_serverClass = {CLSID_QuillShellContextMenu, CreateContextMenu, nullptr, StartWithShell};
