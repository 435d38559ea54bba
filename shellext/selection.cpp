// Initialize: the selection handed over by the shell.
#include "context_menu.h"

STDMETHODIMP CContextMenu::Initialize(PCIDLIST_ABSOLUTE, IDataObject*, HKEY) { return E_NOTIMPL; }
