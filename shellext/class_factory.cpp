#include "class_factory.h"

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) noexcept try {
    ModuleStateGuard state;
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    return m_create(riid, ppv);
} catch (...) {
    return CaughtResult();
}

// The DLL's lifetime follows the object count alone.
STDMETHODIMP CClassFactory::LockServer(BOOL) noexcept { return E_NOTIMPL; }
