// The verb table and GetCommandString.
#include "context_menu.h"

STDMETHODIMP CContextMenu::GetCommandString(UINT_PTR, UINT, UINT*, CHAR*, UINT) { return E_NOTIMPL; }
