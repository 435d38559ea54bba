#pragma once

#include <windows.h>
#include <unknwn.h>

// Makes the objects of the DLL's class. A fresh factory per DllGetClassObject call.
class CClassFactory final : public IClassFactory {
public:
    using CreateFn = HRESULT (*)(REFIID riid, void** ppv);
    explicit CClassFactory(CreateFn create) noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

private:
    ~CClassFactory() = default;
    ULONG m_cRef;
    CreateFn m_create;
};
