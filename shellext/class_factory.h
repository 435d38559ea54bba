#pragma once

#include <windows.h>
#include <unknwn.h>

#include "com.h"

// Makes the objects of the DLL's class. A fresh factory per DllGetClassObject call.
class CClassFactory final : public ComObject<IClassFactory> {
public:
    using CreateFn = HRESULT (*)(REFIID riid, void** ppv);
    explicit CClassFactory(CreateFn create) noexcept : m_create(create) {}

    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP LockServer(BOOL fLock) noexcept override;

private:
    CreateFn m_create;
};
