#pragma once

#include <windows.h>
#include <unknwn.h>

// Makes CContextMenu objects. A fresh factory per DllGetClassObject call.
class CClassFactory final : public IClassFactory {
public:
    CClassFactory() noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

private:
    ~CClassFactory() = default;
    ULONG m_cRef;
};
