// One random call sequence against one handler, and the checks after each
// call: canaries around every buffer, results in their allowed sets, menu
// items inside the given range, no list file left behind.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "shell_support.h"
#include "stress.h"

namespace {

const char* const kVerbs[] = {"decompress", "compress", "unpackhere", "unpackto", "unpacktofolder",
                              "test",       "zip",      "zipto",      "zipwithmpw"};

struct Context {
    IContextMenu* handler;
    bool& mayStart;  // whether the handler's program folder may hold the receiver
    World& world;
    Pools& pools;
    Rng& rng;
    Counters& counters;
    std::map<std::wstring, uint32_t>& listFileOrigin;
    std::vector<IDataObject*> own;  // data objects made for this sequence
};

uint32_t PickOf(Rng& rng, std::initializer_list<uint32_t> values) {
    return *(values.begin() + rng.Below(static_cast<uint32_t>(values.size())));
}

std::string Narrow(const std::wstring& s) {
    std::string n;
    for (wchar_t c : s) n += static_cast<char>(c < 0x100 ? c : '?');
    return n;
}

// --- Initialize ---------------------------------------------------------

IDataObject* Keep(Context& c, IDataObject* data) {
    if (data) c.own.push_back(data);
    return data;
}

IDataObject* ChooseData(Context& c, std::string& what) {
    Rng& rng = c.rng;
    const uint32_t roll = rng.Below(100);
    if (roll < 5) {
        what = "null";
        return nullptr;
    }
    if (roll < 33 && !c.pools.shell.empty()) {
        what = "shell";
        return rng.Pick(c.pools.shell);
    }
    if (roll < 36) {
        what = "fresh shell";
        return Keep(c, ShellDataObject({rng.Pick(c.world.Items())}));
    }
    if (roll < 40) {
        what = "GetData fails";
        return Keep(c, StressData::Make(StressData::Kind::GetDataFails));
    }
    if (roll < 42) {
        what = "null HGLOBAL";
        return Keep(c, StressData::Make(StressData::Kind::NullGlobal));
    }
    if (roll < 44) {
        what = "TYMED_NULL";
        return Keep(c, StressData::Make(StressData::Kind::OtherMedium));
    }
    const bool ownReleaser = rng.Percent(70);
    const uint32_t gap = rng.Percent(90) ? 0 : rng.Below(9);  // odd gaps misalign a wide list
    if (roll < 49) {
        what = "ANSI list";
        std::vector<std::string> paths;
        for (uint32_t i = rng.Between(1, 4); i > 0; --i) {
            std::string p;
            for (uint32_t k = rng.Between(1, 60); k > 0; --k) p += static_cast<char>(rng.Between(1, 255));
            paths.push_back(rng.Percent(50) ? Narrow(OddPath(rng, c.world, c.pools)) : p);
        }
        return Keep(c, StressData::Make(StressData::Kind::List, AnsiList(paths), false, gap, ownReleaser));
    }
    if (roll >= 50 && roll < 54) {
        // The shell's ID list of existing items, sometimes cut short or with
        // offsets and counts that point past its end.
        what = "ID list";
        std::vector<std::wstring> items;
        for (uint32_t i = rng.Between(1, 4); i > 0; --i) items.push_back(rng.Pick(c.world.Items()));
        std::vector<BYTE> cida = IdListOf(items);
        if (!cida.empty() && rng.Percent(40)) {
            const uint32_t how = rng.Below(3);
            if (how == 0) {
                cida.resize(rng.Below(static_cast<uint32_t>(cida.size())));
            } else {
                const UINT at = how == 1 ? 0 : static_cast<UINT>(sizeof(UINT) * rng.Between(1, 2));
                const UINT value = how == 1 ? rng.Between(2, 0xFFFFFFFFu)
                                            : static_cast<UINT>(cida.size()) + rng.Below(0x10000);
                if (at + sizeof(UINT) <= cida.size()) std::memcpy(cida.data() + at, &value, sizeof(value));
            }
            what = "ID list, damaged";
        }
        return Keep(c, StressData::Make(StressData::Kind::IdList, std::move(cida), true, 0, ownReleaser));
    }
    std::vector<std::wstring> paths;
    if (roll < 50) {
        what = "large list";
        for (uint32_t i = rng.Between(500, 3000); i > 0; --i)
            paths.push_back(rng.Percent(50) ? rng.Pick(c.world.Items()) : L"C:\\In\\file" + std::to_wstring(i) + L".txt");
    } else {
        what = "odd paths";
        const uint32_t size = rng.Percent(60) ? 1 : rng.Percent(80) ? rng.Between(2, 4) : rng.Between(5, 40);
        for (uint32_t i = 0; i < size; ++i) paths.push_back(OddPath(rng, c.world, c.pools));
    }
    StressData* data = StressData::Make(StressData::Kind::List, WideList(paths), true, gap, ownReleaser);
    if (rng.Percent(30)) {  // what Explorer says of the items, for the right count or not
        std::vector<DWORD> attributes(rng.Percent(80) ? paths.size() : rng.Below(5));
        for (DWORD& a : attributes) a = rng.Percent(50) ? FILE_ATTRIBUTE_DIRECTORY : rng.U32();
        data->WithAttributes(AttributesBlock(attributes, rng.Percent(90) ? static_cast<UINT>(attributes.size())
                                                                          : rng.U32()));
    }
    return Keep(c, data);
}

void Initialize(Context& c) {
    std::string what;
    IDataObject* data = ChooseData(c, what);
    c.counters.Call("Initialize");
    c.counters.Note("data object: " + what);
    IShellExtInit* init = nullptr;
    if (FAILED(c.handler->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init))) || !init) {
        Fail("no IShellExtInit");
        return;
    }
    const HKEY progId = c.rng.Percent(80) ? nullptr : HKEY_CLASSES_ROOT;
    Trace("  Initialize(%s)\n", what.c_str());
    const HRESULT hr = init->Initialize(nullptr, data, progId);
    init->Release();
    if (hr != S_OK) Fail("Initialize(%s) returned 0x%08lx", what.c_str(), hr);
}

// --- QueryContextMenu -----------------------------------------------------

bool SameEntry(const MenuEntry& a, const MenuEntry& b) {
    return a.separator == b.separator && a.id == b.id && a.caption == b.caption;
}

// What is wrong with the menu after QueryContextMenu, or "": ours are one
// block framed by separators at the requested position (or at the end), the
// host's entries unchanged before and after it, every item's id inside the
// range and the count claimed, with a caption and a live bitmap.
std::string MenuProblem(const std::vector<MenuEntry>& before, const std::vector<MenuEntry>& after, UINT index,
                        UINT first, UINT last, HRESULT hr) {
    const UINT claimed = HRESULT_CODE(hr);
    if (after.size() < before.size()) return "entries removed";
    const size_t added = after.size() - before.size();
    if (added == 0) return claimed >= 2 ? "identifiers claimed, nothing inserted" : "";
    if (claimed < 2 || added != claimed + 1)
        return std::to_string(added) + " entries inserted, " + std::to_string(claimed) + " identifiers claimed";
    const size_t at = index < before.size() ? index : before.size();
    for (size_t i = 0; i < at; ++i)
        if (!SameEntry(before[i], after[i])) return "host entry " + std::to_string(i) + " changed";
    for (size_t i = at; i < before.size(); ++i)
        if (!SameEntry(before[i], after[i + added])) return "host entry " + std::to_string(i) + " moved or changed";
    const MenuEntry* block = after.data() + at;
    if (!block[0].separator || !block[added - 1].separator) return "block not framed by separators";
    for (size_t i = 1; i + 1 < added; ++i) {
        const MenuEntry& e = block[i];
        if (e.separator) return "separator inside the block";
        if (e.id < first || e.id > last || e.id - first >= claimed) return "item id outside the range or the claim";
        if (e.caption.empty()) return "item without a caption";
        if (!e.item || GetObjectType(e.item) != OBJ_BITMAP) return "item without a live bitmap";
    }
    return "";
}

void QueryContextMenu(Context& c) {
    Rng& rng = c.rng;
    c.counters.Call("QueryContextMenu");
    HMENU menu = nullptr;
    const uint32_t menuRoll = rng.Below(100);
    if (menuRoll < 88) {
        menu = HostMenu(static_cast<int>(rng.Below(6)));
    } else if (menuRoll < 94) {
        HMENU gone = CreatePopupMenu();
        DestroyMenu(gone);
        menu = gone;  // a stale handle: every insert fails
    }
    const bool live = menu && IsMenu(menu);
    const std::vector<MenuEntry> before = live ? ReadMenu(menu) : std::vector<MenuEntry>();

    const uint32_t first = rng.Percent(50) ? PickOf(rng, {0, 1, 100, 0x7000, 0x7FFF, 0xFFFF, 0x10000})
                           : rng.Percent(50) ? PickOf(rng, {0xFFFFFFF0u, 0xFFFFFFFCu, 0xFFFFFFFDu, 0xFFFFFFFEu, 0xFFFFFFFFu})
                                             : rng.U32();
    uint32_t last = 0;
    switch (rng.Below(6)) {
    case 0: last = first + rng.Below(8); break;  // wraps near the top
    case 1: last = first + 0x7FFF; break;
    case 2: last = 0xFFFFFFFFu; break;
    case 3: last = first - 1 - rng.Below(3); break;
    case 4: last = first; break;
    default: last = rng.U32(); break;
    }
    const uint32_t count = static_cast<uint32_t>(before.size());
    const uint32_t index = PickOf(rng, {0, 1, 2, rng.Below(10), count, count + 1, 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu,
                                        rng.U32()});
    uint32_t flags = 0;
    if (rng.Percent(70)) {
        static const uint32_t kFlags[] = {CMF_DEFAULTONLY, CMF_VERBSONLY,     CMF_EXPLORE,        CMF_NOVERBS,
                                          CMF_CANRENAME,   CMF_NODEFAULT,     CMF_EXTENDEDVERBS,  CMF_ASYNCVERBSTATE,
                                          CMF_OPTIMIZEFORINVOKE, CMF_DISABLEDVERBS, 0x00010000, 0x80000000u};
        for (uint32_t i = rng.Below(3); i > 0; --i) flags |= kFlags[rng.Below(ARRAYSIZE(kFlags))];
    } else if (rng.Percent(30)) {
        flags = rng.U32();
    }
    Trace("  QueryContextMenu(menu %s, index 0x%x, first 0x%x, last 0x%x, flags 0x%x)\n",
          live ? "live" : menu ? "stale" : "null", index, first, last, flags);
    const HRESULT hr = c.handler->QueryContextMenu(menu, index, first, last, flags);
    // A query for the default item or the verbs only reads nothing.
    if (!(flags & (CMF_DEFAULTONLY | CMF_VERBSONLY))) c.mayStart = c.world.MayStartAfterRead(c.mayStart);
    if (FAILED(hr) || HRESULT_CODE(hr) > 5) Fail("QueryContextMenu returned 0x%08lx", hr);
    if (!live) return;

    const std::vector<MenuEntry> after = ReadMenu(menu);
    DestroyMenu(menu);
    const std::string problem = MenuProblem(before, after, index, first, last, hr);
    if (!problem.empty())
        Fail("QueryContextMenu(index 0x%x, first 0x%x, last 0x%x, flags 0x%x) on %u host entries: %s", index, first,
             last, flags, count, problem.c_str());
    else if (after.size() > before.size())
        c.counters.Note("menu: items inserted");
    for (const MenuEntry& e : after)
        if (e.item) c.counters.itemBitmaps.insert(e.item);
}

// --- GetCommandString -------------------------------------------------------

constexpr size_t kGuard = 64;

BYTE Pattern(size_t i) { return static_cast<BYTE>(i * 31 + 7); }

// `asked` is how Explorer asks, item by item as the pointer moves: a wide
// verb or help text for an offset of the menu.
void GetCommandString(Context& c, bool asked = false) {
    Rng& rng = c.rng;
    c.counters.Call("GetCommandString");
    UINT_PTR idCmd = rng.Percent(85) ? rng.Below(8)
                                     : PickOf(rng, {0x10, 0xFFFF, 0x10000, 0xFFFFFFFFu, rng.U32()}) +
                                           (rng.Percent(30) ? static_cast<UINT_PTR>(static_cast<uint64_t>(rng.U32()) << 32) : 0);
    UINT type = rng.Percent(90) ? rng.Below(8) : PickOf(rng, {GCS_VERBICONW, 0x14, 0x100, rng.U32()});
    UINT cchMax = rng.Percent(70) ? PickOf(rng, {0, 1, 2, 5, 9, 14, 15, 16, 40, 80, 260}) : rng.Below(4097);
    if (asked) {
        idCmd = rng.Below(5);
        type = rng.Percent(50) ? GCS_VERBW : GCS_HELPTEXTW;
        cchMax = PickOf(rng, {1, 2, 14, 15, 16, 40, 260, 260, 260});
    }
    const size_t unit = (type & GCS_UNICODE) ? sizeof(wchar_t) : 1;
    const size_t bytes = cchMax * unit;
    const bool nullBuffer = rng.Percent(4);
    const size_t misalign = rng.Percent(10) ? 1 : 0;

    std::vector<BYTE> block(kGuard + misalign + bytes + kGuard);
    for (size_t i = 0; i < block.size(); ++i) block[i] = Pattern(i);
    BYTE* buffer = nullBuffer ? nullptr : block.data() + kGuard + misalign;
    Trace("  GetCommandString(%llu, type 0x%x, %s, cch %u)\n", static_cast<unsigned long long>(idCmd), type,
          nullBuffer ? "null" : "buffer", cchMax);
    const HRESULT hr = c.handler->GetCommandString(idCmd, type, nullptr, reinterpret_cast<CHAR*>(buffer), cchMax);

    const size_t begin = kGuard + misalign, end = begin + bytes;
    const bool wrote = SUCCEEDED(hr) && !nullBuffer;
    for (size_t i = 0; i < block.size(); ++i) {
        if (block[i] == Pattern(i)) continue;
        if (wrote && i >= begin && i < end) continue;
        Fail("GetCommandString(%llu, 0x%x, cch %u) wrote byte %zd of the %s buffer (result 0x%08lx)",
             static_cast<unsigned long long>(idCmd), type, cchMax, static_cast<ptrdiff_t>(i) - static_cast<ptrdiff_t>(begin),
             i < begin ? "front of the" : i >= end ? "back of the" : "failed call's", hr);
        return;
    }
    if (hr != S_OK && hr != E_INVALIDARG && hr != E_NOTIMPL && hr != E_FAIL &&
        hr != HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)) {
        Fail("GetCommandString returned 0x%08lx", hr);
        return;
    }
    if (hr != S_OK || nullBuffer || (type != GCS_VERBW && type != GCS_HELPTEXTW)) return;
    c.counters.Note(type == GCS_VERBW ? "GetCommandString: verb given" : "GetCommandString: help text given");
    std::wstring text;
    for (size_t i = 0;; ++i) {
        if (i >= cchMax) {
            Fail("GetCommandString(type %u, cch %u) left its text unterminated", type, cchMax);
            return;
        }
        wchar_t ch;
        std::memcpy(&ch, buffer + i * sizeof(wchar_t), sizeof(ch));
        if (ch == 0) break;
        text += ch;
    }
    if (type == GCS_VERBW) {
        bool known = false;
        for (const char* verb : kVerbs) known = known || Narrow(text) == verb;
        if (!known) Fail("GetCommandString gave the verb '%s'", Narrow(text).c_str());
    }
}

// --- InvokeCommand ----------------------------------------------------------

struct InvokeBlock {
    CMINVOKECOMMANDINFOEX ex;
    BYTE tail[64];
};

std::string RandomVerb(Rng& rng) {
    switch (rng.Below(8)) {
    case 0: return "";
    case 1: return "explore";
    case 2: return std::string(rng.Between(255, 265), 'v');  // around the 260-character buffer
    case 3: return std::string(rng.Between(1000, 40000), 'w');
    case 4: {
        std::string s;
        for (uint32_t i = rng.Between(1, 30); i > 0; --i) s += static_cast<char>(rng.Between(1, 255));
        return s;
    }
    default: {  // a real verb in random case
        std::string s = kVerbs[rng.Below(ARRAYSIZE(kVerbs))];
        for (char& ch : s)
            if (rng.Percent(30)) ch = static_cast<char>(ch - 'a' + 'A');
        return s;
    }
    }
}

void InvokeCommand(Context& c) {
    Rng& rng = c.rng;
    c.counters.Call("InvokeCommand");
    std::string verbA = RandomVerb(rng);
    std::wstring verbW(verbA.begin(), verbA.end());
    if (rng.Percent(20)) verbW = L"\u0416" + verbW;

    InvokeBlock b{};
    const DWORD cbSize = rng.Percent(70) ? PickOf(rng, {sizeof(CMINVOKECOMMANDINFOEX), sizeof(CMINVOKECOMMANDINFO)})
                                         : PickOf(rng, {0, 1, 55, 56, 57, 95, 96, 97, 103, 104, 105, 168, rng.U32()});
    b.ex.cbSize = cbSize;
    b.ex.fMask = rng.Percent(60) ? CMIC_MASK_UNICODE : 0;
    if (rng.Percent(30)) b.ex.fMask |= PickOf(rng, {CMIC_MASK_FLAG_NO_UI, CMIC_MASK_ASYNCOK, CMIC_MASK_PTINVOKE,
                                                    CMIC_MASK_NOASYNC, rng.U32()});
    b.ex.hwnd = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(PickOf(rng, {0, 0, 0, 0x1234, 0xFFFFFFFFu})));
    if (rng.Percent(10)) b.ex.hwnd = GetDesktopWindow();
    const char* how;
    if (rng.Percent(65)) {
        const uint32_t offset = rng.Percent(90) ? rng.Below(7) : rng.Below(0x10000);
        b.ex.lpVerb = MAKEINTRESOURCEA(offset);
        how = "offset";
    } else {
        b.ex.lpVerb = verbA.c_str();
        how = "verb";
    }
    switch (rng.Below(4)) {
    case 0: b.ex.lpVerbW = nullptr; break;
    case 1: b.ex.lpVerbW = MAKEINTRESOURCEW(rng.Below(8)); break;
    default: b.ex.lpVerbW = verbW.c_str(); break;
    }
    b.ex.nShow = SW_SHOWNORMAL;
    const InvokeBlock copy = b;
    const std::string verbACopy = verbA;
    const std::wstring verbWCopy = verbW;

    const std::set<std::wstring> listsBefore = c.world.ListFiles();
    Trace("  InvokeCommand(cbSize %lu, mask 0x%lx, %s %llu, verbW %s)\n", cbSize, b.ex.fMask, how,
          IS_INTRESOURCE(b.ex.lpVerb) ? static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(b.ex.lpVerb)) : 0ull,
          b.ex.lpVerbW ? "set" : "null");
    const HRESULT hr = c.handler->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&b.ex));
    const bool before = c.mayStart;
    c.mayStart = c.world.MayStartAfterRead(before);
    if (hr != S_OK) c.mayStart = c.mayStart || before;  // a refused call may not have read the setting

    if (std::memcmp(&b, &copy, sizeof(b)) != 0 || verbA != verbACopy || verbW != verbWCopy)
        Fail("InvokeCommand changed the caller's structure or verbs");
    // A caller that forbids UI learns of a failed start from the result.
    const bool quiet = (copy.ex.fMask & CMIC_MASK_FLAG_NO_UI) != 0 && cbSize >= sizeof(CMINVOKECOMMANDINFO);
    if (hr != S_OK && hr != E_INVALIDARG && !(quiet && FAILED(hr))) Fail("InvokeCommand returned 0x%08lx", hr);
    c.counters.Note(hr == S_OK ? "InvokeCommand: dispatched"
                    : hr == E_INVALIDARG ? "InvokeCommand: refused" : "InvokeCommand: failed, told the caller");

    const std::set<std::wstring> listsAfter = c.world.ListFiles();
    size_t fresh = 0;
    for (const std::wstring& path : listsAfter) {
        if (listsBefore.count(path)) continue;
        ++fresh;
        c.listFileOrigin[path] = g_where.sequence;
        if (hr != S_OK) Fail("a refused InvokeCommand left the list file %s", Narrow(path).c_str());
        else if (!c.mayStart) Fail("InvokeCommand left the list file %s with no program to hand it to", Narrow(path).c_str());
    }
    if (fresh > 1) Fail("one InvokeCommand wrote %zu list files", fresh);
}

// --- identity ---------------------------------------------------------------

void Identity(Context& c) {
    c.counters.Call("QueryInterface/AddRef/Release");
    IUnknown* unknown = nullptr;
    IShellExtInit* init = nullptr;
    IContextMenu2* menu2 = reinterpret_cast<IContextMenu2*>(1);
    if (c.handler->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)) != S_OK ||
        c.handler->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)) != S_OK) {
        Fail("QueryInterface refused an offered interface");
        return;
    }
    IUnknown* back = nullptr;
    init->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back));
    if (back != unknown) Fail("IUnknown differs between the faces");
    if (c.handler->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(&menu2)) != E_NOINTERFACE || menu2)
        Fail("IContextMenu2 offered, or the out-pointer left set");
    if (SUCCEEDED(c.handler->QueryInterface(IID_IContextMenu, nullptr))) Fail("QueryInterface with no out-pointer succeeded");
    const ULONG up = c.handler->AddRef();
    const ULONG down = c.handler->Release();
    if (up != down + 1) Fail("AddRef gave %lu, Release %lu", up, down);
    if (back) back->Release();
    init->Release();
    unknown->Release();
}

}  // namespace

void RunSequence(IContextMenu* handler, bool& mayStart, World& world, Pools& pools, Rng& rng, Counters& counters,
                 std::map<std::wstring, uint32_t>& listFileOrigin) {
    Context c{handler, mayStart, world, pools, rng, counters, listFileOrigin, {}};
    g_where.call = 0;
    // Most sequences begin as Explorer does: Initialize, then the menu.
    if (rng.Percent(70)) {
        ++g_where.call;
        Initialize(c);
        ++g_where.call;
        QueryContextMenu(c);
        for (uint32_t asks = rng.Percent(50) ? rng.Below(6) : 0; asks > 0; --asks) {
            ++g_where.call;
            GetCommandString(c, true);
        }
    }
    for (uint32_t calls = rng.Below(12); calls > 0; --calls) {
        ++g_where.call;
        const uint32_t roll = rng.Below(100);
        if (roll < 18) Initialize(c);
        else if (roll < 40) QueryContextMenu(c);
        else if (roll < 75) GetCommandString(c);
        else if (roll < 90) InvokeCommand(c);
        else Identity(c);
    }
    for (IDataObject* data : c.own) data->Release();
}
