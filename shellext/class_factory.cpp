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

STDMETHODIMP CClassFactory::LockServer(BOOL fLock) noexcept {
    return g_serverClass.lockServer ? g_serverClass.lockServer(fLock) : E_NOTIMPL;
}
