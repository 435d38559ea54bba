#include "class_factory.h"

#include <new>

#include "module.h"

CClassFactory::CClassFactory(CreateFn create) noexcept : m_cRef(1), m_create(create) { ++g_cDllObjects; }

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() { return ++m_cRef; }

STDMETHODIMP_(ULONG) CClassFactory::Release() {
    ULONG cRef = --m_cRef;
    if (cRef == 0) {
        --g_cDllObjects;
        delete this;
    }
    return cRef;
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    ModuleStateGuard state;
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    return m_create(riid, ppv);
}

STDMETHODIMP CClassFactory::LockServer(BOOL fLock) {
    return g_serverClass.lockServer ? g_serverClass.lockServer(fLock) : E_NOTIMPL;
}
