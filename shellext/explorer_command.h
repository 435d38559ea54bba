// The Windows 11 menu's command: one root, "Quillshell", whose subcommands are
// the group the classic menu shows for the same selection.
#pragma once

#include <windows.h>

// {3C79CCA4-8665-480D-B49E-041DB86690E3}
extern const CLSID CLSID_QuillShellExplorerCommand;

// A new root command (IExplorerCommand, IObjectWithSite), asked for riid.
HRESULT CreateExplorerCommand(REFIID riid, void** ppv);
