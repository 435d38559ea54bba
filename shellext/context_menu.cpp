// CContextMenu's construction and destruction.
#include "context_menu.h"

HRESULT CreateContextMenu(REFIID riid, void** ppv) { return CreateComObject<CContextMenu>(riid, ppv); }

CContextMenu::CContextMenu() noexcept {
    // The 13x13 picture fits the check-mark column of Windows XP; later
    // systems get an item bitmap, sized when the menu is built.
    if (!m_util.IsVistaOrLater()) m_menuBitmap = CheckMarkBitmap();
    m_zipName = L"NULL";  // fits the string's inline buffer: cannot throw
}

CContextMenu::~CContextMenu() {
    if (m_pDataObject) m_pDataObject->Release();
}
