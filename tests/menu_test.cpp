// What a right-click shows: the archive menu, the zip menu, the zip names,
// refused ranges and flags, and selections that get no menu.
#include <gtest/gtest.h>
#include <shellscalingapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

#include "command_shown.h"
#include "shell_support.h"
#include "support.h"

namespace {

constexpr UINT kFirst = 100;
constexpr UINT kLast = 0x7FFF;
constexpr int kHostItems = 3;

const std::wstring Q = L"\"";

// An ID list of an existing item and of My Computer, which has no path.
std::vector<BYTE> WithMyComputer(const std::wstring& file) {
    PIDLIST_ABSOLUTE computer = nullptr, item = nullptr;
    std::vector<BYTE> block;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer)) &&
        SUCCEEDED(SHParseDisplayName(file.c_str(), nullptr, &item, 0, nullptr))) {
        ITEMIDLIST desktop{};
        block = IdListBlock(&desktop, {item, computer});
    }
    CoTaskMemFree(computer);
    CoTaskMemFree(item);
    return block;
}

// Runs this program's DISABLED_ClassicGroupOf for `path` in a process of its own.
bool ClassicGroupInAnotherProcess(const std::wstring& path) {
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    SetEnvironmentVariableW(L"QUILL_CLASSIC_OF", path.c_str());
    const ProcessResult result = RunProcess(
        Quote(self) + L" --gtest_also_run_disabled_tests --gtest_filter=MenuTest.DISABLED_ClassicGroupOf");
    SetEnvironmentVariableW(L"QUILL_CLASSIC_OF", nullptr);
    if (result.exitCode != 0) ADD_FAILURE() << result.out;
    return result.exitCode == 0;
}

struct Shown {
    HRESULT hr;
    std::vector<MenuEntry> ours;  // the entries inserted after the host's own
};

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
    void TearDown() override {
        EXPECT_EQ(LoadDll().canUnloadNow(), S_OK) << "an object leaked";
        EXPECT_EQ(LoadModernDll().canUnloadNow(), S_OK) << "a command leaked";
        CoUninitialize();
    }

    // One right-click: a fresh handler, Initialize, QueryContextMenu at the
    // end of a menu that holds the host's items already.
    static Shown RightClick(IDataObject* data, UINT first = kFirst, UINT last = kLast, UINT flags = CMF_NORMAL) {
        IContextMenu* handler = CreateHandler();
        EXPECT_NE(handler, nullptr);
        EXPECT_EQ(InitializeHandler(handler, data), S_OK);
        Shown shown = Query(handler, first, last, flags);
        handler->Release();
        return shown;
    }

    static Shown Query(IContextMenu* handler, UINT first = kFirst, UINT last = kLast, UINT flags = CMF_NORMAL,
                       UINT index = kHostItems) {
        HMENU menu = HostMenu(kHostItems);
        Shown shown;
        shown.hr = handler->QueryContextMenu(menu, index, first, last, flags);
        std::vector<MenuEntry> all = ReadMenu(menu);
        shown.ours.assign(all.begin() + kHostItems, all.end());
        DestroyMenu(menu);
        return shown;
    }

    static Shown RightClickPaths(const std::vector<std::wstring>& paths) {
        IDataObject* data = ShellDataObject(paths);
        EXPECT_NE(data, nullptr);
        Shown shown = RightClick(data);
        if (data) data->Release();
        return shown;
    }

    // The captions between the two separators, checked for the shape that
    // every group shares: separators around items with consecutive ids, each
    // with the one item bitmap and no check-mark bitmaps.
    static std::vector<std::wstring> Captions(const Shown& shown, UINT first = kFirst) {
        std::vector<std::wstring> captions;
        if (shown.ours.size() < 2) return captions;
        EXPECT_TRUE(shown.ours.front().separator);
        EXPECT_TRUE(shown.ours.back().separator);
        for (size_t i = 1; i + 1 < shown.ours.size(); ++i) {
            const MenuEntry& e = shown.ours[i];
            EXPECT_FALSE(e.separator);
            EXPECT_EQ(e.id, first + i - 1);
            EXPECT_NE(e.item, nullptr);
            EXPECT_EQ(e.item, shown.ours[1].item);
            EXPECT_EQ(e.checked, nullptr);
            EXPECT_EQ(e.unchecked, nullptr);
            captions.push_back(e.caption);
        }
        return captions;
    }

    // The Windows 11 menu of the same selection: the root "Quillshell" with
    // the extension's icon and subcommands, each enabled, with the same icon,
    // the classic item's help text and a canonical name that stays with its
    // command whatever the selection.
    static std::vector<std::wstring> CommandCaptions(IShellItemArray* items) {
        const CommandMenu menu = RightClickCommand(items);
        std::vector<std::wstring> captions;
        EXPECT_EQ(menu.hr, S_OK);
        EXPECT_EQ(menu.root.state, DWORD(ECS_ENABLED));
        EXPECT_EQ(menu.root.flags, DWORD(ECF_HASSUBCOMMANDS));
        EXPECT_EQ(menu.root.title, L"Quillshell");
        EXPECT_EQ(lstrcmpiW(menu.root.icon.c_str(), (ModernDllPath() + L",-1040").c_str()), 0) << menu.root.icon.c_str();
        const std::vector<std::wstring> extractHelp = {L"Decompress to a location of your choice", L"Decompress here",
                                                       L"Decompress to given folder", L"Test this file"};
        const std::vector<std::wstring> zipHelp = {L"Create zip in a location of yous choice",
                                                   L"Create zip from selected files/folders",
                                                   L"Create zip protected with the master password"};
        const std::vector<std::wstring>& help = menu.items.size() == 4 ? extractHelp : zipHelp;
        static std::map<std::wstring, GUID> names;  // by help text, over every selection of the run
        for (size_t i = 0; i < menu.items.size(); ++i) {
            const CommandItem& item = menu.items[i];
            EXPECT_EQ(item.state, DWORD(ECS_ENABLED));
            EXPECT_EQ(item.flags, DWORD(ECF_DEFAULT));
            EXPECT_EQ(item.icon, menu.root.icon);
            if (i < help.size()) {
                EXPECT_EQ(item.toolTip, help[i]);
            }
            EXPECT_FALSE(IsEqualGUID(item.name, GUID_NULL));
            const auto [known, added] = names.emplace(item.toolTip, item.name);
            EXPECT_TRUE(IsEqualGUID(known->second, item.name)) << "the name changed";
            for (const auto& [other, name] : names) {
                if (other != item.toolTip) {
                    EXPECT_FALSE(IsEqualGUID(name, item.name)) << "a name shared";
                }
            }
            captions.push_back(item.title);
        }
        return captions;
    }
    static std::vector<std::wstring> CommandCaptions(const std::vector<std::wstring>& paths) {
        IShellItemArray* items = ShellItems(paths);
        EXPECT_NE(items, nullptr);
        if (!items) return {};
        std::vector<std::wstring> captions = CommandCaptions(items);
        items->Release();
        return captions;
    }

    static std::vector<std::wstring> ZipGroup(const std::wstring& zip) {
        return {L"Create zip ....", L"Create " + Q + zip + Q, L"Create " + Q + zip + Q + L" with saved password"};
    }
    static std::vector<std::wstring> ExtractGroup(const std::wstring& folder) {
        return {L"Extract to ....", L"Extract here", L"Extract to " + Q + folder + L"\\" + Q, L"Test archived files"};
    }

    Scratch scratch;
};

TEST_F(MenuTest, OneArchiveGetsTheExtractGroup) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"Photos.zip", L"Photos"},          {L"CAPS.Zip", L"CAPS"},  {L"disk.001", L"disk"},
        {L"disk.000", L"disk"},              {L"Backup.part2.rar", L"Backup"},
        {L"Backup.part02.rar", L"Backup"},   {L"a.tar.zip", L"a.tar"},    {L"R&D.zip", L"R&D"},
    };
    for (auto [name, folder] : cases) {
        SCOPED_TRACE(name);
        const std::wstring archive = scratch.File(name);
        Shown shown = RightClickPaths({archive});
        EXPECT_EQ(shown.hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 5));
        EXPECT_EQ(Captions(shown), ExtractGroup(folder));
        EXPECT_EQ(CommandCaptions({archive}), ExtractGroup(folder));
    }
}

TEST_F(MenuTest, AnythingElseGetsTheZipGroup) {
    const std::pair<std::vector<std::wstring>, const wchar_t*> cases[] = {
        {{scratch.File(L"notes.txt")}, L"notes.zip"},
        {{scratch.File(L"disk.002")}, L"disk.zip"},
        {{scratch.File(L"x.ar")}, L"x.zip"},
        {{scratch.File(L"readme")}, L"readme.zip"},
        {{scratch.File(L"R&D.txt")}, L"R&D.zip"},  // shown as typed, not as a shortcut
        {{scratch.Folder(L"Archive.zip")}, L"Archive.zip.zip"},  // folders are never archives
        {{scratch.Folder(L"Photos")}, L"Photos.zip"},
        {{scratch.File(L"x.zip"), scratch.File(L"y.rar")}, nullptr},  // two archives: named after their folder
        {{scratch.File(L"a.txt"), scratch.File(L"b.txt")}, nullptr},
    };
    const std::wstring folderZip = scratch.dir().substr(scratch.dir().rfind(L'\\') + 1) + L".zip";
    for (const auto& [paths, zip] : cases) {
        SCOPED_TRACE(testing::Message() << paths.size() << " items, first " << paths.front().c_str());
        Shown shown = RightClickPaths(paths);
        EXPECT_EQ(shown.hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 4));
        EXPECT_EQ(Captions(shown), ZipGroup(zip ? zip : folderZip));
        EXPECT_EQ(CommandCaptions(paths), ZipGroup(zip ? zip : folderZip));
    }
}

// The zip name of a multi-item selection in a drive root follows the first
// item, a folder by its whole name (qs.Data.zip, where a file would give
// qs.zip); a folder handed over with its trailing backslash names the same zip.
TEST_F(MenuTest, ZipNamesInTheDriveRootAndWithTrailingBackslash) {
    struct RootItems {
        RootItems() {
            CreateDirectoryW(L"C:\\qs.Data", nullptr);
            for (const wchar_t* f : {L"C:\\qsa.txt", L"C:\\qsb.txt"}) CloseHandle(CreateFileW(f, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        }
        ~RootItems() {
            RemoveDirectoryW(L"C:\\qs.Data");
            DeleteFileW(L"C:\\qsa.txt");
            DeleteFileW(L"C:\\qsb.txt");
        }
    } root;
    EXPECT_EQ(Captions(RightClickPaths({L"C:\\qsa.txt", L"C:\\qsb.txt"})), ZipGroup(L"qsa.zip"));
    EXPECT_EQ(Captions(RightClickPaths({L"C:\\qs.Data", L"C:\\qsb.txt"})), ZipGroup(L"qs.Data.zip"));
    EXPECT_EQ(CommandCaptions({L"C:\\qsa.txt", L"C:\\qsb.txt"}), ZipGroup(L"qsa.zip"));
    EXPECT_EQ(CommandCaptions({L"C:\\qs.Data", L"C:\\qsb.txt"}), ZipGroup(L"qs.Data.zip"));

    const std::wstring photos = scratch.Folder(L"Photos");
    TestDataObject* data = TestDataObject::Wide({photos + L"\\"});
    EXPECT_EQ(Captions(RightClick(data)), ZipGroup(L"Photos.zip"));
    data->Release();
}

TEST_F(MenuTest, FlagsAndRanges) {
    const std::wstring file = scratch.File(L"notes.txt");
    struct Case {
        const char* name;
        UINT flags, first, last;
        USHORT code;
        size_t entries;  // ours, separators included
    } cases[] = {
        {"default only", CMF_DEFAULTONLY, kFirst, kLast, 0, 0},
        {"verbs only", CMF_VERBSONLY, kFirst, kLast, 0, 0},
        {"explore, can rename", CMF_EXPLORE | CMF_CANRENAME, kFirst, kLast, 4, 5},
        {"last below first", CMF_NORMAL, kFirst, kFirst - 1, 0, 0},
        {"one identifier", CMF_NORMAL, kFirst, kFirst, 0, 0},
        {"two identifiers", CMF_NORMAL, kFirst, kFirst + 1, 0, 0},
        {"exactly three", CMF_NORMAL, kFirst, kFirst + 2, 4, 5},
        {"at the top of the range", CMF_NORMAL, 0xFFFFFFFE, 0xFFFFFFFF, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IDataObject* data = ShellDataObject({file});
        Shown shown = RightClick(data, c.first, c.last, c.flags);
        data->Release();
        EXPECT_EQ(shown.hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, c.code));
        EXPECT_EQ(shown.ours.size(), c.entries);
    }
}

// Any position at or past the end appends the group after the host's items.
TEST_F(MenuTest, PositionsPastTheEndAppend) {
    IContextMenu* handler = CreateHandler();
    IDataObject* data = ShellDataObject({scratch.File(L"notes.txt")});
    ASSERT_EQ(InitializeHandler(handler, data), S_OK);
    data->Release();
    for (UINT index : {UINT(kHostItems), UINT(kHostItems + 1), 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(Captions(Query(handler, kFirst, kLast, CMF_NORMAL, index)), ZipGroup(L"notes.zip"));
    }
    handler->Release();
}

TEST_F(MenuTest, SelectionsThatGetNoMenu) {
    struct Case {
        const char* name;
        IDataObject* data;
    } cases[] = {
        {"no data object", nullptr},
        {"no drop list", TestDataObject::Failing()},
        {"empty path", TestDataObject::Wide({L""})},
        {"one empty path among others", TestDataObject::Wide({L"", scratch.File(L"b.txt")})},
        {"an ID list that runs past its block", TestDataObject::IdListOnly({1, 0, 0, 0, 8, 0, 0, 0, 0x40, 0, 0, 0})},
        {"an item without a file-system path", TestDataObject::IdListOnly(WithMyComputer(scratch.File(L"c.txt")))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shown shown = RightClick(c.data);
        EXPECT_EQ(shown.hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
        EXPECT_TRUE(shown.ours.empty());
        if (c.data) c.data->Release();
    }
}

// The Windows 11 menu hides the command where the classic one adds nothing:
// no array, no items, an item without a file-system path.
TEST_F(MenuTest, SelectionsThatHideTheCommand) {
    PIDLIST_ABSOLUTE computer = nullptr, file = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer), S_OK);
    ASSERT_EQ(SHParseDisplayName(scratch.File(L"c.txt").c_str(), nullptr, &file, 0, nullptr), S_OK);
    PCIDLIST_ABSOLUTE lists[] = {file, computer};
    IShellItemArray* withComputer = nullptr;
    ASSERT_EQ(SHCreateShellItemArrayFromIDLists(2, lists, &withComputer), S_OK);
    struct Case {
        const char* name;
        IShellItemArray* items;
    } cases[] = {
        {"no array", nullptr},
        {"no items", new TestItemArray(0, [](DWORD) { return L"C:\\In\\a.txt"; }, SFGAO_FILESYSTEM)},
        {"My Computer beside a file", withComputer},
        {"items outside the file system", new TestItemArray(2, [](DWORD) { return L"::{x}"; }, SFGAO_FOLDER)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandMenu menu = RightClickCommand(c.items);
        EXPECT_EQ(menu.hr, S_OK);
        EXPECT_EQ(menu.root.state, DWORD(ECS_HIDDEN));
        EXPECT_TRUE(menu.items.empty());
        if (c.items) c.items->Release();
    }
    CoTaskMemFree(computer);
    CoTaskMemFree(file);
}

// Paths are read whole: nothing is cut at 260 characters, and captions are
// not cut either.
TEST_F(MenuTest, LongAndAnsiPathsAreReadWhole) {
    const std::wstring name(300, L'n');
    TestDataObject* data = TestDataObject::Wide({L"C:\\In\\" + name + L".txt"});
    EXPECT_EQ(Captions(RightClick(data)), ZipGroup(name + L".zip"));
    data->Release();

    const std::string ansi = "C:\\In\\caf\xe9.txt";
    data = TestDataObject::Ansi({ansi});
    EXPECT_EQ(Captions(RightClick(data)), ZipGroup(Widen("caf\xe9") + L".zip"));
    data->Release();
}

// The item bitmap as Vista and later blend it: the small-icon size at the DPI
// of the monitor under the click, 32 bpp, top down, premultiplied, clear in its
// corners, the red cap at the upper right. Wine draws it without its alpha, so
// its pixels are checked rather than the screen; tests/dpi_test.sh runs this
// at 144 and 192. Wine has one monitor, of the system DPI: a per-monitor aware
// host (Explorer) gets the system DPI's size there, as a system-aware one does
// (the next test gives it two monitors).
TEST_F(MenuTest, ItemBitmapFitsTheDisplay) {
    SetProcessDPIAware();
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (const char* expected = getenv("QUILL_DPI")) {
        ASSERT_EQ(dpi, atoi(expected)) << "LogPixels not applied";
    }
    const std::map<int, int> sizes = {{96, 16}, {120, 20}, {144, 24}, {192, 32}};
    ASSERT_EQ(sizes.count(dpi), 1u) << dpi;
    const int size = sizes.at(dpi);

    // Each awareness in turn, in one process: each size made once and shared.
    struct Case {
        const char* name;
        DPI_AWARENESS_CONTEXT awareness;
        int size;
    } cases[] = {
        {"per-monitor aware (Wine 8 refuses the V2 context)", DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE, size},
        {"unaware: Windows stretches the menu", DPI_AWARENESS_CONTEXT_UNAWARE, 16},
        {"system aware", DPI_AWARENESS_CONTEXT_SYSTEM_AWARE, size},
    };
    std::map<int, HBITMAP> bySize;
    HBITMAP bitmap = nullptr;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(SetThreadDpiAwareness(c.awareness), nullptr);
        std::vector<HBITMAP> seen;
        for (const wchar_t* name : {L"notes.txt", L"Photos.zip"}) {
            Shown shown = RightClickPaths({scratch.File(name)});
            ASSERT_GE(shown.ours.size(), 3u);
            seen.push_back(shown.ours[1].item);
        }
        EXPECT_EQ(seen[0], seen[1]) << "made once and shared";
        BITMAP bm{};
        ASSERT_EQ(GetObjectW(seen[0], sizeof(bm), &bm), int(sizeof(bm)));
        EXPECT_EQ(bm.bmWidth, c.size);
        if (bySize.count(c.size)) {
            EXPECT_EQ(bySize[c.size], seen[0]) << "the same size again";
        }
        bySize[c.size] = seen[0];
        bitmap = seen[0];
    }
    for (auto [s, b] : bySize) EXPECT_NE(GetObjectType(b), 0u) << s << " px: every size stays alive";
    EXPECT_EQ(bySize.size(), size == 16 ? 1u : 2u);
    // Another window's thread draws its own: a bitmap is selected into one DC at a time.
    HBITMAP other = nullptr;
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        SetThreadDpiAwareness(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE);
        Shown shown = RightClickPaths({scratch.File(L"notes.txt")});
        if (shown.ours.size() >= 3) other = shown.ours[1].item;
        CoUninitialize();
    }).join();
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, bitmap) << "one bitmap for two threads";

    DIBSECTION dib{};
    ASSERT_EQ(GetObjectW(bitmap, sizeof(dib), &dib), int(sizeof(dib))) << "not a DIB section";
    EXPECT_EQ(dib.dsBm.bmWidth, size);
    EXPECT_EQ(dib.dsBm.bmHeight, size);
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 32);
    ASSERT_NE(dib.dsBm.bmBits, nullptr);
    auto pixel = [&](int x, int y) { return static_cast<const BYTE*>(dib.dsBm.bmBits) + (y * size + x) * 4; };
    for (auto [x, y] : {std::pair{0, 0}, {size - 1, 0}, {0, size - 1}, {size - 1, size - 1}})
        EXPECT_EQ(pixel(x, y)[3], 0) << x << "," << y;
    int opaque = 0, partly = 0, overflow = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const BYTE* p = pixel(x, y);
            overflow += p[0] > p[3] || p[1] > p[3] || p[2] > p[3];
            opaque += p[3] == 255;
            partly += p[3] > 0 && p[3] < 255;
        }
    EXPECT_EQ(overflow, 0) << "colour above alpha: not premultiplied";
    EXPECT_GT(opaque, size * size / 5);
    EXPECT_GT(partly, 0) << "edges not smoothed";
    const BYTE* cap = pixel(size * 3 / 4, size / 4);
    const BYTE* body = pixel(size / 3, size * 2 / 3);
    EXPECT_GT(cap[2], cap[0]) << "red cap at the upper right";
    EXPECT_GT(body[0], body[2]) << "blue body at the lower left";
}

// Two monitors side by side, as Wine cannot show them: the primary one at
// (0,0)-(1024,768) at 100 %, the other at (1024,0)-(3072,1536) at 200 %.
// Stand-ins for the DLL's calls, written from their documentation.
POINT g_clickedAt;
const HMONITOR kPrimary = reinterpret_cast<HMONITOR>(0x4D01), kSecond = reinterpret_cast<HMONITOR>(0x4D02);
DWORD WINAPI MessagePos() { return MAKELONG(LOWORD(g_clickedAt.x), LOWORD(g_clickedAt.y)); }
HMONITOR WINAPI MonitorAt(POINT p, DWORD flags) {
    if (p.y >= 0 && p.x >= 0 && p.x < 1024 && p.y < 768) return kPrimary;
    if (p.y >= 0 && p.x >= 1024 && p.x < 3072 && p.y < 1536) return kSecond;
    if (flags == MONITOR_DEFAULTTONULL) return nullptr;
    if (flags == MONITOR_DEFAULTTOPRIMARY) return kPrimary;
    return p.x < 1024 ? kPrimary : kSecond;  // nearest, for the points used here
}
// MDT_EFFECTIVE_DPI is the one a menu's scale follows; the raw DPI differs.
HRESULT WINAPI DpiOfMonitor(HMONITOR monitor, MONITOR_DPI_TYPE type, UINT* x, UINT* y) {
    if (monitor != kPrimary && monitor != kSecond) return E_INVALIDARG;
    *x = *y = (monitor == kPrimary ? 96 : 192) + (type == MDT_EFFECTIVE_DPI ? 0 : 13);
    return S_OK;
}
FARPROC WINAPI ProcAddress(HMODULE module, LPCSTR name) {
    if (!IS_INTRESOURCE(name) && std::strcmp(name, "GetDpiForMonitor") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(DpiOfMonitor));
    return GetProcAddress(module, name);
}

// A per-monitor aware host gets the scale of the monitor under the click,
// also for a click beside every monitor (the nearest one). In a process of
// its own: the DLL looks GetDpiForMonitor up at its first menu.
TEST_F(MenuTest, ItemBitmapFitsTheMonitorUnderTheClick) {
    const std::wstring file = scratch.File(L"notes.txt");
    EXPECT_EXIT(
        {
            const HMODULE dll = LoadDll().module;
            if (!RedirectImport(dll, "kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(ProcAddress)) ||
                !RedirectImport(dll, "user32.dll", "GetMessagePos", reinterpret_cast<void*>(MessagePos)) ||
                !RedirectImport(dll, "user32.dll", "MonitorFromPoint", reinterpret_cast<void*>(MonitorAt)))
                std::exit(6);
            SetThreadDpiAwareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
            std::string sizes = "sizes";
            for (POINT at : {POINT{500, 300}, POINT{2000, 300}, POINT{2000, 3000}, POINT{-500, 300}, POINT{1023, 0}}) {
                g_clickedAt = at;
                Shown shown = RightClickPaths({file});
                BITMAP bm{};
                GetObjectW(shown.ours.size() > 1 ? shown.ours[1].item : nullptr, sizeof(bm), &bm);
                sizes += " " + std::to_string(bm.bmWidth);
            }
            std::fprintf(stderr, "%s.\n", sizes.c_str());
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "sizes 16 32 32 16 16\\.");
}

// Windows 10 and later refuse the drop list when a path has MAX_PATH
// characters or more; then the items come from the shell's ID list.
TEST_F(MenuTest, SelectionsFromTheIdListAlone) {
    const std::wstring folderZip = scratch.dir().substr(scratch.dir().rfind(L'\\') + 1) + L".zip";
    const std::pair<std::vector<std::wstring>, std::vector<std::wstring>> cases[] = {
        {{scratch.File(L"Photos.zip")}, ExtractGroup(L"Photos")},
        {{scratch.Folder(L"Archive.zip")}, ZipGroup(L"Archive.zip.zip")},
        {{scratch.File(L"a.txt"), scratch.File(L"b.txt")}, ZipGroup(folderZip)},
    };
    for (const auto& [paths, captions] : cases) {
        SCOPED_TRACE(testing::Message() << paths.size() << " items, first " << paths.front().c_str());
        TestDataObject* data = TestDataObject::IdListOnly(IdListOf(paths));
        EXPECT_EQ(Captions(RightClick(data)), captions);
        data->Release();
    }
}

// Explorer's data objects say which items are folders; the disk is asked only
// when they do not. The shares do not exist: asked, they would be no folders.
TEST_F(MenuTest, FoldersAsTheDataObjectSays) {
    const std::wstring file = scratch.File(L"x.zip"), folder = scratch.Folder(L"y.zip");
    const DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY, kFile = FILE_ATTRIBUTE_ARCHIVE;
    struct Case {
        std::wstring path;
        std::vector<DWORD> attributes;
        UINT count;
        std::vector<std::wstring> captions;
        std::wstring idListOf = {};  // the item of the ID list, when it has one
    } cases[] = {
        {L"\\\\nosuchserver\\share\\x.zip", {kFolder}, 1, ZipGroup(L"x.zip.zip")},
        {L"\\\\nosuchserver\\share\\x.zip", {kFile}, 1, ExtractGroup(L"x")},
        {L"\\\\nosuchserver\\share\\notes.txt", {kFolder}, 1, ZipGroup(L"notes.txt.zip")},
        {L"\\\\nosuchserver\\share\\notes.txt", {kFile}, 1, ZipGroup(L"notes.zip")},
        {file, {kFolder | FILE_ATTRIBUTE_READONLY}, 1, ZipGroup(L"x.zip.zip")},  // the data object wins
        {folder, {kFile}, 1, ExtractGroup(L"y")},
        {file, {kFolder, kFolder}, 2, ExtractGroup(L"x")},  // counts another selection: the disk decides
        {folder, {}, 0, ZipGroup(L"y.zip.zip")},
        // Without attributes the shell answers for a share from the ID list, not the disk.
        {L"\\\\nosuchserver\\share\\x.zip", {}, 0, ZipGroup(L"x.zip.zip"), folder},
        {L"\\\\nosuchserver\\share\\notes.txt", {}, 0, ZipGroup(L"notes.txt.zip"), folder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path.c_str() << " " << c.attributes.size() << " " << c.idListOf.c_str());
        TestDataObject* data = TestDataObject::Wide({c.path})->WithAttributes(AttributesBlock(c.attributes, c.count));
        if (!c.idListOf.empty()) data->WithIdList(IdListOf({c.idListOf}));
        EXPECT_EQ(Captions(RightClick(data)), c.captions);
        data->Release();
    }
}

// The Windows 11 menu takes folders from the items' attributes: a .zip is a
// shell folder too, with a stream; a file-system folder has none. The shares
// do not exist: asked, they would be no folders.
TEST_F(MenuTest, FoldersAsTheShellItemsSay) {
    const SFGAOF kFile = SFGAO_FILESYSTEM | SFGAO_STREAM, kFolder = SFGAO_FILESYSTEM | SFGAO_FOLDER;
    const struct {
        const wchar_t* path;
        SFGAOF attributes;
        std::vector<std::wstring> captions;
    } cases[] = {
        {L"\\\\nosuchserver\\share\\x.zip", kFile | SFGAO_FOLDER, ExtractGroup(L"x")},
        {L"\\\\nosuchserver\\share\\x.zip", kFile, ExtractGroup(L"x")},
        {L"\\\\nosuchserver\\share\\x.zip", kFolder, ZipGroup(L"x.zip.zip")},
        {L"\\\\nosuchserver\\share\\notes.txt", kFolder, ZipGroup(L"notes.txt.zip")},
        {L"\\\\nosuchserver\\share\\notes.txt", kFile, ZipGroup(L"notes.zip")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path << " " << std::hex << c.attributes);
        const std::wstring path = c.path;
        auto* items = new TestItemArray(1, [&](DWORD) { return path; }, c.attributes);
        EXPECT_EQ(CommandCaptions(items), c.captions);
        items->Release();
    }
}

// Explorer asks at every right-click, on its own thread: before the click the
// command reads the count, the attributes and the first item, never another.
TEST_F(MenuTest, TheCommandReadsOnlyTheFirstItem) {
    auto* items = new TestItemArray(
        100000, [](DWORD i) { return L"C:\\Many\\file" + std::to_wstring(i) + L".txt"; }, SFGAO_FILESYSTEM);
    EXPECT_EQ(CommandCaptions(items), ZipGroup(L"Many.zip"));
    EXPECT_GT(items->itemsMade(), 0u);
    EXPECT_EQ(items->highestItem(), 0u);
    items->Release();
}

// Windows 11 puts the command into its full menu too ("Show more options"),
// asking its state first: the classic group that follows for the same
// selection in the same process adds nothing. In every other case it shows.
TEST_F(MenuTest, OneGroupPerMenu) {
    // Windows 11 is 64-bit only: a 32-bit handler never hides its group.
    const bool hides = sizeof(void*) == 8;
    auto command = [](const std::vector<std::wstring>& paths) {
        IShellItemArray* items = ShellItems(paths);
        ASSERT_NE(items, nullptr);
        EXPECT_EQ(RightClickCommand(items).root.state, DWORD(ECS_ENABLED));
        items->Release();
    };
    auto record = [](const std::wstring& path, DWORD age) {
        SelectionHead head;
        head.count = 1;
        head.first = path;
        WriteCommandShown(head, GetCurrentProcessId(), GetTickCount() - age);
    };
    // Until the command has made the record, the classic handler looks for it
    // at most once a second, and earlier menus of this process may just have.
    command({scratch.File(L"first.txt")});
    Sleep(1100);
    std::vector<std::wstring> sixteen;
    for (int i = 0; i < 16; ++i) sixteen.push_back(scratch.File(L"many" + std::to_wstring(i + 10) + L".txt"));
    const std::wstring a = scratch.File(L"a.txt"), b = scratch.File(L"b.txt"), c = scratch.File(L"c.txt"),
                       d = scratch.File(L"d.txt"), e = scratch.File(L"e.txt"), f = scratch.File(L"f.txt"),
                       g = scratch.File(L"g.txt");
    const struct {
        const char* name;
        std::function<void()> before;
        std::vector<std::wstring> classic;
        bool otherProcess;
        bool hidden;
    } cases[] = {
        {"the command asked first", [&] { command({a}); }, {a}, false, hides},
        {"the next menu of that selection", [] {}, {a}, false, false},
        {"another selection", [&] { command({b}); }, {c}, false, false},
        {"more items with the same first one", [&] { command({d}); }, {d, e}, false, false},
        {"the first 16 of a larger selection",
         [&] {
             auto* items = new TestItemArray(40, [&](DWORD i) { return sixteen[i % 16]; }, SFGAO_FILESYSTEM);
             EXPECT_EQ(RightClickCommand(items).root.state, DWORD(ECS_ENABLED));
             items->Release();
         },
         sixteen, false, hides},
        {"another process", [&] { command({e}); }, {e}, true, false},
        {"a record just written", [&] { record(f, 0); }, {f}, false, hides},
        {"a record too old", [&] { record(g, kCommandShownMs + 1); }, {g}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        if (c.otherProcess) {
            EXPECT_TRUE(ClassicGroupInAnotherProcess(c.classic.front()));
            continue;
        }
        const Shown shown = RightClickPaths(c.classic);
        EXPECT_EQ(shown.ours.empty(), c.hidden);
        if (c.hidden) {
            EXPECT_EQ(shown.hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0));
        }
    }
}

// The other process of OneGroupPerMenu: the classic menu of the file that
// QUILL_CLASSIC_OF names holds the group.
TEST_F(MenuTest, DISABLED_ClassicGroupOf) {
    wchar_t path[MAX_PATH] = L"";
    ASSERT_GT(GetEnvironmentVariableW(L"QUILL_CLASSIC_OF", path, MAX_PATH), 0u);
    EXPECT_FALSE(RightClickPaths({path}).ours.empty());
}

// Each menu's offsets name its own items; a query for verbs only keeps them.
TEST_F(MenuTest, EachQueryInsertsOnlyItsOwnGroup) {
    IContextMenu* handler = CreateHandler();
    IDataObject* data = ShellDataObject({scratch.File(L"notes.txt")});
    ASSERT_EQ(InitializeHandler(handler, data), S_OK);
    data->Release();
    EXPECT_EQ(Captions(Query(handler, 100), 100), ZipGroup(L"notes.zip"));
    // A caller asking only for the default item or the verbs gets nothing,
    // and the menu already shown keeps its items.
    for (UINT flags : {UINT(CMF_DEFAULTONLY), UINT(CMF_VERBSONLY)}) {
        SCOPED_TRACE(flags);
        Shown none = Query(handler, 200, kLast, flags);
        EXPECT_EQ(none.hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0));
        EXPECT_TRUE(none.ours.empty());
        wchar_t verb[32] = L"";
        EXPECT_EQ(handler->GetCommandString(2, GCS_VERBW, nullptr, reinterpret_cast<char*>(verb), 32), S_OK);
        EXPECT_STREQ(verb, L"zipwithmpw");
    }
    Shown again = Query(handler, 300);
    EXPECT_EQ(again.hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 4));
    EXPECT_EQ(Captions(again, 300), ZipGroup(L"notes.zip"));
    handler->Release();
}

// A handler initialised again forgets the old selection, archive flag included,
// and gives back the old data object.
TEST_F(MenuTest, InitializeStartsAFreshSelection) {
    IContextMenu* handler = CreateHandler();
    TestDataObject* archive = TestDataObject::Wide({scratch.File(L"Photos.zip")});
    TestDataObject* text = TestDataObject::Wide({scratch.File(L"notes.txt")});
    ASSERT_EQ(InitializeHandler(handler, archive), S_OK);
    EXPECT_EQ(archive->refs(), 2u);
    EXPECT_EQ(Captions(Query(handler)), ExtractGroup(L"Photos"));

    ASSERT_EQ(InitializeHandler(handler, text), S_OK);
    EXPECT_EQ(archive->refs(), 1u);
    EXPECT_EQ(text->refs(), 2u);
    EXPECT_EQ(Captions(Query(handler)), ZipGroup(L"notes.zip"));

    ASSERT_EQ(InitializeHandler(handler, nullptr), S_OK);
    EXPECT_EQ(text->refs(), 1u);
    EXPECT_TRUE(Query(handler).ours.empty());

    ASSERT_EQ(InitializeHandler(handler, text), S_OK);
    EXPECT_EQ(handler->Release(), 0u);
    EXPECT_EQ(text->refs(), 1u);  // exactly the one reference it took
    archive->Release();
    text->Release();
}

}  // namespace
