// QueryContextMenu: the groups, their captions and the proposed zip name.
#include "context_menu.h"

STDMETHODIMP CContextMenu::QueryContextMenu(HMENU, UINT, UINT, UINT, UINT) { return E_NOTIMPL; }
