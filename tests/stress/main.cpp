// stress.exe [--sequences N] [--seed S] [--first K] [--skip FAULT]... [--verbose]
//
// Runs N seeded random call sequences (K to K+N-1) against one long-lived
// handler and against fresh ones, then checks that nothing was left behind:
// no list file except those handed to the receiver, no object alive
// (DllCanUnloadNow), no data object or medium still referenced, no growth in
// handles or GDI objects. Sequence i draws from its own seed, so
// `--first i --sequences 1 --verbose` shows one sequence's calls.
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell_support.h"
#include "stress.h"
#include "support.h"

Where g_where;
bool g_verbose = false;

namespace {

unsigned g_failures = 0;
std::map<std::string, unsigned> g_failuresByKind;  // a few of each kind are shown
constexpr unsigned kShownPerKind = 5;

struct Options {
    uint32_t sequences = 2000;
    uint64_t seed = 1;
    uint32_t first = 0;
    std::vector<std::string> skip;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--verbose") == 0) {
            g_verbose = true;
        } else if (value && std::strcmp(arg, "--sequences") == 0) {
            options.sequences = static_cast<uint32_t>(std::strtoul(value, nullptr, 0));
            ++i;
        } else if (value && std::strcmp(arg, "--seed") == 0) {
            options.seed = std::strtoull(value, nullptr, 0);
            ++i;
        } else if (value && std::strcmp(arg, "--first") == 0) {
            options.first = static_cast<uint32_t>(std::strtoul(value, nullptr, 0));
            ++i;
        } else if (value && std::strcmp(arg, "--skip") == 0) {
            options.skip.push_back(value);
            ++i;
        } else {
            std::fprintf(stderr, "usage: stress [--sequences N] [--seed S] [--first K] [--skip FAULT]... [--verbose]\n");
            return false;
        }
    }
    return true;
}

Pools MakePools(const World& world) {
    Pools pools;
    const std::wstring items = world.Root() + L"\\items\\";
    auto add = [&](std::vector<std::wstring> names) {
        for (std::wstring& name : names)
            if (name.size() < 3 || name[1] != L':') name = items + name;
        if (IDataObject* data = ShellDataObject(names)) pools.shell.push_back(data);
        else Fail("no shell data object for %zu items", names.size());
    };
    for (const wchar_t* single : {L"a.zip", L"Photos.ZIP", L"Backup.part02.rar", L"disk.001", L"disk.002", L"notes.txt",
                                  L"readme", L"\u03A9mega.zip", L"\u65E5\u672C.rar", L"na\u00EFve \u00E9.txt",
                                  L"Folder.zip", L"Docs", L"\u0416\u0443\u043A"})
        add({single});
    add({L"a.zip", L"notes.txt"});
    add({L"Docs", L"a.zip", L"\u03A9mega.zip", L"b.rar"});
    add({L"C:\\"});
    add({world.Root() + L"\\items"});
    pools.uncPaths = {L"\\\\server\\share", L"\\\\server\\share\\", L"\\\\server\\share\\a.zip",
                      L"\\\\?\\UNC\\server\\share\\b.rar", L"\\\\127.0.0.1\\c$\\x.zip", L"\\\\server",
                      L"\\\\server\\share\\dir.zip\\"};
    return pools;
}

IContextMenu* NewHandler(Rng& rng) {
    IClassFactory* factory = nullptr;
    if (LoadDll().getClassObject(kHandlerClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK) {
        Fail("DllGetClassObject failed");
        return nullptr;
    }
    if (rng.Percent(5)) {
        IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
        void* object = reinterpret_cast<void*>(1);
        if (factory->CreateInstance(outer, IID_IUnknown, &object) != CLASS_E_NOAGGREGATION || object)
            Fail("aggregation not refused");
    }
    static const IID* const kIids[] = {&IID_IContextMenu, &IID_IShellExtInit, &IID_IUnknown};
    IUnknown* object = nullptr;
    const HRESULT hr = factory->CreateInstance(nullptr, *kIids[rng.Below(3)], reinterpret_cast<void**>(&object));
    factory->Release();
    if (hr != S_OK || !object) {
        Fail("CreateInstance failed: 0x%08lx", hr);
        return nullptr;
    }
    IContextMenu* handler = nullptr;
    object->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&handler));
    object->Release();
    return handler;
}

// Receivers may still be on their way: give them time to take their files.
std::set<std::wstring> ListFilesLeft(const World& world) {
    std::set<std::wstring> left = world.ListFiles();
    for (int waited = 0; !left.empty() && waited < 300; ++waited) {
        Sleep(100);
        left = world.ListFiles();
    }
    return left;
}

ULONG RefsOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

}  // namespace

uint64_t SequenceSeed(uint64_t seed, uint32_t index) {
    Rng mix(seed ^ (0xD1B54A32D192ED03ull * (static_cast<uint64_t>(index) + 1)));
    return mix.Next();
}

// The message with its numbers taken out: failures of one kind share it.
std::string KindOf(const std::string& message) {
    std::string kind;
    for (size_t i = 0; i < message.size(); ++i) {
        const bool hex = message.compare(i, 2, "0x") == 0;
        if (!hex && !std::isdigit(static_cast<unsigned char>(message[i]))) {
            kind += message[i];
            continue;
        }
        i += hex ? 2 : 0;
        while (i < message.size() && std::isxdigit(static_cast<unsigned char>(message[i]))) ++i;
        --i;
        kind += '#';
    }
    return kind;
}

void Fail(const char* format, ...) {
    ++g_failures;
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    if (++g_failuresByKind[KindOf(message)] > kShownPerKind) return;
    std::printf("FAIL (sequence %u, call %u): %s\n", g_where.sequence, g_where.call, message);
    std::fflush(stdout);
}

void Trace(const char* format, ...) {
    if (!g_verbose) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}

unsigned FailureCount() { return g_failures; }

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return 2;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    if (!LoadDll().module) {
        std::printf("cannot load %ls\n", DllPath().c_str());
        return 2;
    }
    const DWORD started = GetTickCount();
    int status = 0;
    {
        World world;
        if (!world.Ready()) {
            std::printf("cannot prepare the temp folder, the receiver or the items\n");
            return 2;
        }
        world.Skip(options.skip);
        BoxCloser closer;
        Pools pools = MakePools(world);
        Counters counters;
        std::map<std::wstring, uint32_t> listFileOrigin;
        Rng setup(options.seed);
        IContextMenu* longLived = NewHandler(setup);
        if (!longLived) return 1;
        bool longLivedMayStart = false;

        // Wine and the shell open what they keep (keys, caches) on first use:
        // the counts are taken once every kind of call has run for a while.
        const uint32_t warmUp = options.sequences / 10 < 200 ? options.sequences / 10 : 200;
        ResourceCount baseline{}, peak{};
        for (uint32_t n = 0; n < options.sequences; ++n) {
            if (n == warmUp) baseline = peak = CountResources();
            const uint32_t index = options.first + n;
            g_where = {index, 0};
            Rng rng(SequenceSeed(options.seed, index));
            world.ChooseTemp(rng, counters);
            world.ChooseSetting(rng, counters);
            const bool fresh = rng.Percent(70);
            Trace("sequence %u (%s handler)\n", index, fresh ? "fresh" : "long-lived");
            if (!fresh) {
                RunSequence(longLived, longLivedMayStart, world, pools, rng, counters, listFileOrigin);
            } else if (IContextMenu* handler = NewHandler(rng)) {
                bool mayStart = false;
                RunSequence(handler, mayStart, world, pools, rng, counters, listFileOrigin);
                const ULONG left = handler->Release();
                if (left != 0) Fail("the last Release of a fresh handler left %lu references", left);
            }
            if (n > warmUp && n % 500 == 0) {
                const ResourceCount now = CountResources();
                if (now.handles > peak.handles) peak.handles = now.handles;
                if (now.gdi > peak.gdi) peak.gdi = now.gdi;
            }
            if ((n + 1) % 10000 == 0)
                std::printf("%u sequences, %lu s, %zu list files handed over\n", n + 1,
                            (GetTickCount() - started) / 1000, world.HandedCount());
        }
        g_where = {options.first + options.sequences, 0};

        const std::set<std::wstring> left = ListFilesLeft(world);
        for (const std::wstring& path : left) {
            auto origin = listFileOrigin.find(path);
            Fail("list file left behind by sequence %s: %ls",
                 origin == listFileOrigin.end() ? "?" : std::to_string(origin->second).c_str(), path.c_str());
        }
        const ResourceCount end = CountResources();
        const uint32_t measured = options.sequences > warmUp ? options.sequences - warmUp : 0;
        // The heap keeps what the largest selections needed: measured, up to
        // 0.9 MB after the warm-up whatever the length (1,000 to 20,000
        // sequences). A leak of 1 KB per sequence goes past this in 5,000
        // sequences, one of 150 bytes in 100,000.
        constexpr size_t kMemoryBase = 3u << 20, kMemoryPerSequence = 64;
        const size_t memorySlack = kMemoryBase + kMemoryPerSequence * measured;
        if (measured) {
            // A count that could not be taken reads 0 at both ends and would hide any growth.
            for (const ResourceCount& c : {baseline, end})
                if (c.handles == 0 || c.gdi == 0 || c.privateBytes == 0)
                    Fail("cannot count: handles %lu, GDI objects %lu, private bytes %zu", c.handles, c.gdi,
                         c.privateBytes);
            // Wine keeps a few handles for the shell's own use (registry keys
            // of file types, the process-launch machinery) and opens some of
            // them only on the first use of a rare path: a leak grows with
            // the number of calls, these do not.
            constexpr unsigned long kSlack = 8;
            if (end.handles > baseline.handles + kSlack)
                Fail("handles grew from %lu to %lu", baseline.handles, end.handles);
            if (end.gdi > baseline.gdi + kSlack) Fail("GDI objects grew from %lu to %lu", baseline.gdi, end.gdi);
            if (end.privateBytes > baseline.privateBytes + memorySlack)
                Fail("private memory grew from %zu KB to %zu KB", baseline.privateBytes >> 10, end.privateBytes >> 10);
        }

        const ULONG longLivedRefs = longLived->Release();
        if (longLivedRefs != 0) Fail("the long-lived handler kept %lu references", longLivedRefs);
        for (IDataObject* data : pools.shell) {
            const ULONG refs = RefsOf(data);
            if (refs != 1) Fail("a shell data object holds %lu references, not only ours", refs);
            data->Release();
        }
        if (StressData::Live() != 0) Fail("%ld of our data objects still referenced", StressData::Live());
        if (StressData::MediaOut() != 0) Fail("%ld storage media never released", StressData::MediaOut());
        const HRESULT unload = LoadDll().canUnloadNow();
        if (unload != S_OK) Fail("DllCanUnloadNow returned 0x%08lx", unload);
        // An unload gives back what the DLL kept for the whole process: its
        // menu bitmaps, its settings key.
        // The last menu finds the settings key, whatever the last sequence did
        // to it: the DLL keeps it open from then on.
        ResourceCount held{}, unloaded{};
        size_t liveBitmaps = 0;
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Osmund\\Brellow", 0, nullptr, 0, KEY_READ, nullptr, &key,
                            nullptr) == ERROR_SUCCESS)
            RegCloseKey(key);
        if (IContextMenu* last = CreateHandler()) {
            TestDataObject* data = TestDataObject::Wide({L"C:\\In\\notes.txt"});
            HMENU menu = CreatePopupMenu();
            if (InitializeHandler(last, data) != S_OK || FAILED(last->QueryContextMenu(menu, 0, 1, 0x7FFF, CMF_NORMAL)))
                Fail("the last menu failed");
            DestroyMenu(menu);
            last->Release();
            data->Release();
        }
        for (HBITMAP bitmap : counters.itemBitmaps) liveBitmaps += GetObjectType(bitmap) != 0;
        if (unload == S_OK) {
            held = CountResources();
            if (!FreeLibrary(LoadDll().module)) Fail("FreeLibrary failed: %lu", GetLastError());
            unloaded = CountResources();
            if (GetModuleHandleW(DllPath().c_str())) Fail("FreeLibrary left the DLL loaded");
            for (HBITMAP bitmap : counters.itemBitmaps)
                if (GetObjectType(bitmap)) Fail("an item bitmap outlived the unload");
            // What it kept is given back: the settings key and every item bitmap.
            if (unloaded.handles >= held.handles) Fail("the unload closed no handle (%lu -> %lu)", held.handles, unloaded.handles);
            if (unloaded.gdi + liveBitmaps > held.gdi)
                Fail("GDI objects %lu -> %lu after the unload, with %zu item bitmaps", held.gdi, unloaded.gdi, liveBitmaps);
        }

        const size_t handed = world.HandedCount();
        std::printf("seed %llu, sequences %u to %u, %lu s\n", static_cast<unsigned long long>(options.seed),
                    options.first, options.first + options.sequences - 1, (GetTickCount() - started) / 1000);
        for (const auto& call : counters.calls) std::printf("  %-32s %llu\n", call.first.c_str(),
                                                            static_cast<unsigned long long>(call.second));
        for (const auto& note : counters.notes) std::printf("  %-48s %llu\n", note.first.c_str(),
                                                            static_cast<unsigned long long>(note.second));
        std::printf("  list files handed to the receiver: %zu, left behind: %zu\n", handed, left.size());
        std::printf("  handles %lu -> %lu (peak %lu), GDI objects %lu -> %lu (peak %lu), counted by %s\n",
                    baseline.handles, end.handles, peak.handles, baseline.gdi, end.gdi, peak.gdi, end.how);
        const long long grown = static_cast<long long>(end.privateBytes) - static_cast<long long>(baseline.privateBytes);
        std::printf("  private memory %zu KB -> %zu KB: %lld bytes over %u sequences (%lld each), %zu KB allowed\n",
                    baseline.privateBytes / 1024, end.privateBytes / 1024, grown, measured,
                    measured ? grown / measured : 0, memorySlack / 1024);
        std::printf("  unload: handles %lu -> %lu, GDI objects %lu -> %lu, item bitmaps shown %zu (%zu alive before)\n",
                    held.handles, unloaded.handles, held.gdi, unloaded.gdi, counters.itemBitmaps.size(), liveBitmaps);
        if (FailureCount()) {
            std::printf("%u failure(s) of %zu kind(s). Replay one sequence with --seed %llu --first <sequence> --sequences 1 --verbose\n",
                        FailureCount(), g_failuresByKind.size(), static_cast<unsigned long long>(options.seed));
            status = 1;
        } else {
            std::printf("stress OK\n");
        }
    }
    CoUninitialize();
    return status;
}
