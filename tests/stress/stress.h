// The stress program: seeded random call sequences against the handler, with
// the shell's data objects and our own, odd settings and temp folders, and
// checks after every call and at the end.
#pragma once

#include "shell_support.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// splitmix64: the same numbers from every compiler and library, so a seed
// replays the same sequences anywhere.
class Rng {
public:
    explicit Rng(uint64_t seed) : m_state(seed) {}
    uint64_t Next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t U32() { return static_cast<uint32_t>(Next()); }
    uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>(Next() % n) : 0; }
    uint32_t Between(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }  // both ends included
    bool Percent(uint32_t p) { return Below(100) < p; }
    bool PerMille(uint32_t p) { return Below(1000) < p; }
    template <typename T>
    const T& Pick(const std::vector<T>& v) { return v[Below(static_cast<uint32_t>(v.size()))]; }

private:
    uint64_t m_state;
};

// The seed of sequence `index`: any one sequence can be replayed on its own.
uint64_t SequenceSeed(uint64_t seed, uint32_t index);

// Failures are printed with the sequence and call that found them.
struct Where {
    uint32_t sequence = 0;
    uint32_t call = 0;
};
extern Where g_where;
extern bool g_verbose;
void Fail(const char* format, ...);
void Trace(const char* format, ...);
unsigned FailureCount();

struct Counters {
    std::map<std::string, uint64_t> calls;  // "QueryContextMenu" -> count
    std::map<std::string, uint64_t> notes;  // "setting: huge REG_SZ" -> count
    void Call(const std::string& name) { ++calls[name]; }
    void Note(const std::string& name) { ++notes[name]; }
    std::set<HBITMAP> itemBitmaps;  // every item bitmap a menu showed
};

// Our own data object: CF_HDROP as a DROPFILES block, or only the shell's ID
// list (a CIDA, as Windows offers for long paths), or one of the ways a data
// object can fail; optionally the items' attributes. Every medium it hands out comes back through its
// releaser, so a medium the handler never releases shows up in the count.
class StressData final : public ComObject<IDataObject, IID_IDataObject> {
public:
    enum class Kind { List, IdList, GetDataFails, NullGlobal, OtherMedium };
    // `list` is the bytes after the header; `gap` bytes of junk stand between
    // the header and the list (pFiles points past them).
    static StressData* Make(Kind kind, std::vector<BYTE> list = {}, bool wide = true, uint32_t gap = 0,
                            bool ownReleaser = true);

    StressData* WithAttributes(std::vector<BYTE> array) {
        m_attributes = std::move(array);
        return this;
    }
    static long Live() { return s_live; }
    static long MediaOut() { return s_mediaOut; }

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_NOCONNECTION; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    StressData(Kind kind, std::vector<BYTE> list, bool wide, uint32_t gap, bool ownReleaser);
    ~StressData() { --s_live; }
    static long s_live;
    static long s_mediaOut;
    friend class MediumReleaser;

    Kind m_kind;
    std::vector<BYTE> m_list;  // the DROPFILES list, or the whole CIDA
    std::vector<BYTE> m_attributes;
    bool m_wide;
    uint32_t m_gap;
    bool m_ownReleaser;
};

// DROPFILES list bytes come from WideList and AnsiList (shell_support.h); an
// empty path ends the list early, as it does for every reader of the format.

// The folders, files and settings the sequences play with.
class World {
public:
    World();
    ~World();
    bool Ready() const { return m_ready; }
    // Faults whose name holds one of these texts are not injected (while a
    // fix for what they find is pending, the others can still be run).
    void Skip(std::vector<std::string> names) { m_skip = std::move(names); }

    // Per sequence: where the list files go and which program folder is set.
    void ChooseTemp(Rng& rng, Counters& counters);
    void ChooseSetting(Rng& rng, Counters& counters);
    // Whether a handler may start the receiver after it read the setting,
    // given whether it might before.
    bool MayStartAfterRead(bool before) const;

    // Every list file (<GUID>.txt, full path) in every folder a list file could land in.
    std::set<std::wstring> ListFiles() const;
    // Files that the receiver was handed and moved aside.
    size_t HandedCount() const;
    // Paths that exist: files and folders of every kind of name.
    const std::vector<std::wstring>& Items() const { return m_items; }
    const std::wstring& Root() const { return m_root; }

private:
    void SetTemp(const std::wstring& dir);
    bool Skipped(const std::string& name) const;
    std::vector<std::string> m_skip;
    bool m_ready = false;
    std::wstring m_root;       // private temp folder; removed at the end
    std::wstring m_program;    // holds the receiver as TarnwickUnzip.exe
    std::wstring m_noProgram;  // exists, without the program
    std::wstring m_handed;     // the receiver moves its list file here
    std::wstring m_longTemp;   // too long for a list file's name
    std::wstring m_edgeTemp;   // a list file's name just fits
    std::wstring m_notAFolder; // a file
    std::vector<std::wstring> m_items;
    std::wstring m_oldTmp, m_oldTemp;
    bool m_hadTmp = false, m_hadTemp = false;
    // The user's setting as it was, put back at the end.
    bool m_hadValue = false;
    DWORD m_oldType = 0;
    std::vector<BYTE> m_oldValue;
    enum Reads { Replaces, Keeps, Unknown };
    Reads m_settingReads = Keeps;
    bool m_settingStarts = false;
};

// Handles and GDI objects of this process. Wine 8 answers 0 to both
// GetProcessHandleCount and GetGuiResources; there the counts come from the
// system's handle list and from asking the type of every GDI handle index.
struct ResourceCount {
    unsigned long handles = 0;
    unsigned long gdi = 0;
    size_t privateBytes = 0;
    const char* how = "";
};
ResourceCount CountResources();

// Closes the message boxes of this process if a display shows them; without
// one MessageBoxW returns at once and the watcher finds nothing.
class BoxCloser {
public:
    BoxCloser();
    ~BoxCloser();

private:
    static DWORD WINAPI Run(void* self);
    HANDLE m_thread = nullptr;
    volatile LONG m_stop = 0;
};

// Data objects the sequences draw from.
struct Pools {
    std::vector<IDataObject*> shell;  // the shell's own, over existing items
    std::vector<std::wstring> uncPaths;
};

// One random call sequence against one handler.
// `mayStart` is the handler's own: whether the program folder it last read
// may hold the receiver. `listFileOrigin` learns which sequence wrote each
// list file seen.
void RunSequence(IContextMenu* handler, bool& mayStart, World& world, Pools& pools, Rng& rng, Counters& counters,
                 std::map<std::wstring, uint32_t>& listFileOrigin);

// A path of an odd kind (empty, huge, beyond U+00FF, trailing backslashes,
// UNC, existing items...).
std::wstring OddPath(Rng& rng, const World& world, const Pools& pools);
