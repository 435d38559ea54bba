// CContextMenu's identity, lifetime and construction.
#include "context_menu.h"

#include <new>

#include "module.h"

HRESULT CreateContextMenu(REFIID riid, void** ppv) {
    auto* handler = new (std::nothrow) CContextMenu();
    if (!handler) return E_OUTOFMEMORY;
    HRESULT hr = handler->QueryInterface(riid, ppv);
    handler->Release();
    return hr;
}

CContextMenu::CContextMenu() noexcept {
    ++g_cDllObjects;
    // The 13x13 picture fits the check-mark column of Windows XP; later
    // systems get an item bitmap, sized when the menu is built.
    if (!m_util.IsVistaOrLater()) m_menuBitmap = CheckMarkBitmap();
    m_zipName = L"NULL";  // fits the string's inline buffer: cannot throw
}

CContextMenu::~CContextMenu() {
    --g_cDllObjects;
    if (m_pDataObject) m_pDataObject->Release();
}

STDMETHODIMP CContextMenu::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IContextMenu)) {
        *ppv = static_cast<IContextMenu*>(this);
    } else if (IsEqualIID(riid, IID_IShellExtInit)) {
        *ppv = static_cast<IShellExtInit*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CContextMenu::AddRef() { return ++m_cRef; }

STDMETHODIMP_(ULONG) CContextMenu::Release() {
    ULONG cRef = --m_cRef;
    if (cRef == 0) delete this;
    return cRef;
}
