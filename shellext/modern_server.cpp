// quillshell-modern.dll serves the Windows 11 menu's command alone.
#include "explorer_command.h"
#include "module.h"

const ServerClass g_serverClass = {CLSID_QuillShellExplorerCommand, CreateExplorerCommand};
