// InvokeCommand: from an offset or a verb to a started program.
#include "context_menu.h"

STDMETHODIMP CContextMenu::InvokeCommand(CMINVOKECOMMANDINFO*) { return E_NOTIMPL; }
