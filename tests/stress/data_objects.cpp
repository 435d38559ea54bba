// Our own data objects and the odd paths they carry.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

#include "stress.h"

long StressData::s_live = 0;
long StressData::s_mediaOut = 0;

// Frees one medium's memory when the handler releases the medium: with
// pUnkForRelease set, ReleaseStgMedium calls Release instead of GlobalFree.
class MediumReleaser final : public IUnknown {
public:
    explicit MediumReleaser(HGLOBAL memory) : m_memory(memory) { ++StressData::s_mediaOut; }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG refs = --m_refs;
        if (refs == 0) {
            GlobalFree(m_memory);
            --StressData::s_mediaOut;
            delete this;
        }
        return refs;
    }

private:
    ULONG m_refs = 1;
    HGLOBAL m_memory;
};

StressData::StressData(Kind kind, std::vector<BYTE> list, bool wide, uint32_t gap, bool ownReleaser)
    : m_kind(kind), m_list(std::move(list)), m_wide(wide), m_gap(gap), m_ownReleaser(ownReleaser) {
    ++s_live;
}

StressData* StressData::Make(Kind kind, std::vector<BYTE> list, bool wide, uint32_t gap, bool ownReleaser) {
    return new StressData(kind, std::move(list), wide, gap, ownReleaser);
}

STDMETHODIMP StressData::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (!format || !medium) return E_INVALIDARG;
    if (m_kind == Kind::GetDataFails) return E_FAIL;
    if (!(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
    static const CLIPFORMAT kIdList = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST));
    static const CLIPFORMAT kAttributes =
        static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_FILE_ATTRIBUTES_ARRAY));
    const bool attributes = format->cfFormat == kAttributes && !m_attributes.empty();
    const bool ids = m_kind == Kind::IdList;
    if (!attributes && format->cfFormat != (ids ? kIdList : CF_HDROP)) return DV_E_FORMATETC;
    *medium = STGMEDIUM{};
    if (m_kind == Kind::NullGlobal) {
        medium->tymed = TYMED_HGLOBAL;  // and no memory: GlobalFree(nullptr) is harmless
        return S_OK;
    }
    if (m_kind == Kind::OtherMedium) {
        medium->tymed = TYMED_NULL;  // claims success, hands nothing
        return S_OK;
    }
    const bool drop = !attributes && !ids;
    const std::vector<BYTE>& bytes = attributes ? m_attributes : m_list;
    const size_t head = drop ? sizeof(DROPFILES) + m_gap : 0;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, head + bytes.size() + (bytes.empty() && !drop));
    if (!memory) return E_OUTOFMEMORY;
    auto* block = static_cast<BYTE*>(GlobalLock(memory));
    if (drop) {
        DROPFILES header{};
        header.pFiles = static_cast<DWORD>(sizeof(DROPFILES) + m_gap);
        header.fWide = m_wide;
        std::memcpy(block, &header, sizeof(header));
        std::memset(block + sizeof(DROPFILES), 0x5A, m_gap);
    }
    if (!bytes.empty()) std::memcpy(block + head, bytes.data(), bytes.size());
    GlobalUnlock(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = m_ownReleaser ? new MediumReleaser(memory) : nullptr;
    return S_OK;
}

namespace {

std::wstring Units(Rng& rng, uint32_t count, uint32_t lo, uint32_t hi) {
    std::wstring s;
    for (uint32_t i = 0; i < count; ++i) s += static_cast<wchar_t>(rng.Between(lo, hi));
    return s;
}

std::wstring Extension(Rng& rng) {
    static const std::vector<std::wstring> kExtensions = {
        L".zip", L".ZIP", L".Zip", L".rar", L".RAR", L".000", L".001", L".002", L".txt", L"", L".",
        L".part1.rar", L".part0001.rar", L".PART12.RAR", L".part12345.rar", L".partA.rar", L".tar.zip", L".zip ",
    };
    return rng.Pick(kExtensions);
}

// ASCII with the characters a path may not hold but a data object can carry.
std::wstring Junk(Rng& rng, uint32_t count) {
    static const wchar_t kChars[] = L"abcXYZ019 ._-\\\\\\/:*?\"<>|%$~";
    std::wstring s;
    for (uint32_t i = 0; i < count; ++i) s += kChars[rng.Below(ARRAYSIZE(kChars) - 1)];
    return s;
}

std::wstring Drive(Rng& rng) { return rng.Percent(80) ? L"C:\\In\\" : L"Z:\\tmp\\"; }

}  // namespace

std::wstring OddPath(Rng& rng, const World& world, const Pools& pools) {
    switch (rng.Below(18)) {
    case 0:
        return L"";  // an empty entry ends a DROPFILES list
    case 1: {  // 32,000 characters, the longest a Win32 path can be
        std::wstring s = Drive(rng);
        while (s.size() < 32000 - 12) s += L"deep\\";
        s.resize(32000 - 4);
        return s + Extension(rng).substr(0, 4);
    }
    case 2: {  // around MAX_PATH
        std::wstring s = Drive(rng) + std::wstring(rng.Between(240, 270), L'n');
        return s + Extension(rng);
    }
    case 3:  // names above U+00FF
        return Drive(rng) + Units(rng, rng.Between(1, 20), 0x100, 0xD7FF) + Extension(rng);
    case 4:  // Latin-1: fits the list file byte for byte
        return Drive(rng) + L"na\u00EFve \u00E9t\u00E9 \u00FF" + Extension(rng);
    case 5: {  // trailing backslashes
        static const std::vector<std::wstring> kPaths = {L"C:\\", L"\\", L"\\\\", L"C:\\In\\Fotos\\",
                                                         L"C:\\In\\Fotos\\\\\\", L"C:\\In\\a.zip\\", L"Z:\\"};
        return rng.Pick(kPaths);
    }
    case 6:
        return rng.Pick(pools.uncPaths);
    case 7:
    case 8: {  // items that exist, sometimes with a backslash after them
        std::wstring s = rng.Pick(world.Items());
        if (rng.Percent(20)) s += L"\\";
        return s;
    }
    case 9:
        return Junk(rng, rng.Between(1, 80));
    case 10:  // control characters
        return Drive(rng) + Units(rng, rng.Between(1, 8), 1, 0x1F) + Extension(rng);
    case 11: {  // whitespace around names and dots
        static const std::vector<std::wstring> kPaths = {L"C:\\In\\   .zip", L"  ", L" ", L"C:\\In\\ a .zip",
                                                         L"C:\\In\\\t\r\n.rar", L"C:\\In\\x .part1 .rar",
                                                         L"C:\\my.docs\\readme", L".part1.rar", L".zip", L"."};
        return rng.Pick(kPaths);
    }
    case 12: {  // devices, prefixes and streams
        static const std::vector<std::wstring> kPaths = {
            L"\\\\.\\NUL", L"CON", L"NUL.zip", L"\\\\?\\C:\\In\\a.zip", L"\\\\?\\", L"C:\\In\\a.zip:stream",
            L"C:", L"C:a.zip", L"..\\..\\a.zip", L"\\\\.\\pipe\\quill", L"C:/In/a.zip", L"\\\\?\\GLOBALROOT"};
        return rng.Pick(kPaths);
    }
    case 13: {  // unpaired surrogates, U+FFFF, U+FEFF
        static const wchar_t kOdd[] = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFF, 0xFEFF, 0xFFFE, 0x0100};
        std::wstring s = Drive(rng);
        for (uint32_t i = rng.Between(1, 6); i > 0; --i) s += kOdd[rng.Below(ARRAYSIZE(kOdd))];
        return s + Extension(rng);
    }
    default:
        return Drive(rng) + Junk(rng, rng.Between(1, 12)) + Extension(rng);
    }
}
