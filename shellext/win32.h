// Owners for the few Win32 handles the extension holds. Each closes its handle
// exactly once; none of them throws.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <objidl.h>

#include <utility>

// One owner template over a close function: HKEY, HANDLE, HBITMAP, HANDLE of an
// activation context. Traits give the handle type, the "no handle" value and
// how to close it.
template <typename Traits>
class Unique {
public:
    using Handle = typename Traits::Handle;

    Unique() noexcept = default;
    explicit Unique(Handle h) noexcept : m_h(h) {}
    Unique(Unique&& other) noexcept : m_h(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    ~Unique() { reset(); }

    Handle get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != Traits::Invalid(); }
    Handle release() noexcept { return std::exchange(m_h, Traits::Invalid()); }
    void reset(Handle h = Traits::Invalid()) noexcept {
        Handle old = std::exchange(m_h, h);
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    // For out-parameters: closes what is held and hands out the slot.
    Handle* put() noexcept {
        reset();
        return &m_h;
    }

private:
    Handle m_h = Traits::Invalid();
};

struct HKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { RegCloseKey(h); }
};
struct FileTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};
struct BitmapTraits {
    using Handle = HBITMAP;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { DeleteObject(h); }
};
struct ActCtxTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ReleaseActCtx(h); }
};

struct CoTaskStringTraits {
    using Handle = PWSTR;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { CoTaskMemFree(h); }
};

using UniqueHKey = Unique<HKeyTraits>;
using UniqueFile = Unique<FileTraits>;
using UniqueBitmap = Unique<BitmapTraits>;
using UniqueActCtx = Unique<ActCtxTraits>;
using UniqueCoTaskString = Unique<CoTaskStringTraits>;  // a string the shell allocated

// A storage medium filled by IDataObject::GetData; released once.
class UniqueStgMedium {
public:
    UniqueStgMedium() noexcept = default;
    UniqueStgMedium(const UniqueStgMedium&) = delete;
    UniqueStgMedium& operator=(const UniqueStgMedium&) = delete;
    ~UniqueStgMedium() {
        if (m_medium.tymed != TYMED_NULL) ReleaseStgMedium(&m_medium);
    }
    STGMEDIUM* put() noexcept { return &m_medium; }
    const STGMEDIUM& get() const noexcept { return m_medium; }

private:
    STGMEDIUM m_medium{};  // tymed TYMED_NULL (0) until filled
};

// A counted interface pointer: one reference, released once.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        reset();
        m_p = std::exchange(other.m_p, nullptr);
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    void reset() noexcept {
        if (m_p) std::exchange(m_p, nullptr)->Release();
    }
    T** put() noexcept {
        reset();
        return &m_p;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    T* detach() noexcept { return std::exchange(m_p, nullptr); }  // the caller owns the reference
    template <typename U>
    HRESULT As(ComPtr<U>* out) const noexcept {
        return m_p->QueryInterface(__uuidof(U), out->put_void());
    }

private:
    T* m_p = nullptr;
};

// Global memory locked for the lifetime of the owner.
class LockedGlobal {
public:
    explicit LockedGlobal(HGLOBAL h) noexcept : m_h(h), m_p(h ? GlobalLock(h) : nullptr) {}
    LockedGlobal(const LockedGlobal&) = delete;
    LockedGlobal& operator=(const LockedGlobal&) = delete;
    ~LockedGlobal() {
        if (m_p) GlobalUnlock(m_h);
    }
    void* get() const noexcept { return m_p; }
    SIZE_T size() const noexcept { return m_p ? GlobalSize(m_h) : 0; }

private:
    HGLOBAL m_h;
    void* m_p;
};

// Activates an activation context for one scope; a context that could not be
// made is simply not activated.
class ActCtxActivation {
public:
    explicit ActCtxActivation(HANDLE ctx) noexcept {
        if (ctx != INVALID_HANDLE_VALUE && !ActivateActCtx(ctx, &m_cookie)) m_cookie = 0;
    }
    ActCtxActivation(const ActCtxActivation&) = delete;
    ActCtxActivation& operator=(const ActCtxActivation&) = delete;
    ~ActCtxActivation() {
        if (m_cookie) DeactivateActCtx(0, m_cookie);
    }

private:
    ULONG_PTR m_cookie = 0;
};
