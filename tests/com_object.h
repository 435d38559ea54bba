// The COM plumbing of the tests' own objects (data objects, item arrays,
// sites), in one place.
#pragma once

#include <windows.h>

#include <string>

// An object of one interface I (whose IID is `iid`): QueryInterface answers
// IUnknown and I, the count starts at 1 (the creator's reference), and the
// last Release deletes the object through its virtual destructor.
template <class I, const IID& iid>
class ComObject : public I {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, iid)) return E_NOINTERFACE;
        *ppv = static_cast<I*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG refs = --m_refs;
        if (refs == 0) delete this;
        return refs;
    }
    ULONG refs() const { return m_refs; }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    ULONG m_refs = 1;
};

// A string the callee allocated with CoTaskMemAlloc, taken over and freed.
inline std::wstring TakeString(LPWSTR text) {
    std::wstring s = text ? text : L"";
    CoTaskMemFree(text);
    return s;
}
