// Every COM object of the DLL: one interface map, one reference count, one
// place that counts the module's live objects, and one boundary for methods.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>
#include <tuple>
#include <utility>

#include "module.h"

// Holds the module's object count up while an object lives. As the first
// base it is destroyed last, after the object's own destructor and members:
// once the count falls, DllCanUnloadNow may let another thread unload the DLL.
class ModuleObject {
protected:
    ModuleObject() noexcept { ++g_cDllObjects; }
    ~ModuleObject() { --g_cDllObjects; }
    ModuleObject(const ModuleObject&) = delete;
    ModuleObject& operator=(const ModuleObject&) = delete;
};

// IUnknown for an object of the interfaces Interfaces...: QueryInterface
// answers IUnknown (the first interface, the object's identity) and each of
// them; the count starts at 1, the creator's reference. An object lives in one
// apartment, so its own count needs no interlocked operations.
template <class... Interfaces>
class ComObject : private ModuleObject, public Interfaces... {
    using Identity = std::tuple_element_t<0, std::tuple<Interfaces...>>;

public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(static_cast<Identity*>(this));
        } else {
            ((IsEqualIID(riid, __uuidof(Interfaces)) && (*ppv = static_cast<Interfaces*>(this))) || ...);
        }
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() noexcept override {
        const ULONG cRef = --m_cRef;
        if (cRef == 0) delete this;
        return cRef;
    }

protected:
    ComObject() noexcept = default;
    virtual ~ComObject() = default;

private:
    ULONG m_cRef = 1;
};

// A new T(args...), asked for riid; the creator's reference is given up, so
// the caller holds the only one.
template <class T, class... Args>
HRESULT CreateComObject(REFIID riid, void** ppv, Args&&... args) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    T* object = new (std::nothrow) T(std::forward<Args>(args)...);
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

// Called in the catch-all of a COM method's function-try-block: no exception
// leaves it; out of memory becomes E_OUTOFMEMORY, anything else E_UNEXPECTED.
//     STDMETHODIMP C::Method(...) noexcept try { ModuleStateGuard state; ... }
//     catch (...) { return CaughtResult(); }
HRESULT CaughtResult() noexcept;
