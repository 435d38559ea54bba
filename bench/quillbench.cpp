// Benchmarks of the extension against floors measured in the same run and
// process. Prints a table of figures, each with its floor, the ratio and the
// goal. Not a test: the figures depend on the machine.
//
//   quillbench [rounds]
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "minimal_handler.h"
#include "shell_support.h"
#include "support.h"

namespace {

int g_rounds = 9;

// A timed call that failed did no work and would read as fast: the run stops.
[[noreturn]] void Failed(const char* what, long code) {
    std::printf("FAILED: %s (0x%08lx); no figures from a call that did not do its work\n", what, code);
    std::fflush(stdout);
    ExitProcess(1);
}
void Check(HRESULT hr, const char* what) {
    if (hr != S_OK) Failed(what, hr);
}

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Pair {
    double ours;
    double floor;
};

// Runs ours and the floor alternately, `rounds` times each, `batch` calls per
// round; the medians of the per-call times are compared, which keeps a noisy
// machine from favouring either side.
// `settle`, untimed, runs after each batch: it waits for what a batch started
// to end, so that neither side runs beside the other's leftovers.
Pair Measure(int batch, const std::function<void()>& ours, const std::function<void()>& floor,
             const std::function<void()>& settle = [] {}) {
    std::vector<double> a, b;
    auto timed = [&](const std::function<void()>& f) {
        const double t0 = Now();
        for (int i = 0; i < batch; ++i) f();
        const double t = (Now() - t0) / batch;
        settle();
        return t;
    };
    timed(ours);  // warm both paths once
    timed(floor);
    for (int r = 0; r < g_rounds; ++r) {
        a.push_back(timed(ours));
        b.push_back(timed(floor));
    }
    return {Median(a), Median(b)};
}

// Waits until no started program is left running.
void WaitForPrograms(const wchar_t* name) {
    for (int tries = 0; tries < 100; ++tries) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        DWORD running = 0;
        for (BOOL ok = Process32FirstW(snapshot, &entry); ok && !running; ok = Process32NextW(snapshot, &entry))
            if (lstrcmpiW(entry.szExeFile, name) == 0) running = entry.th32ProcessID;
        CloseHandle(snapshot);
        if (!running) return;
        if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, running)) {
            WaitForSingleObject(process, 1000);
            CloseHandle(process);
        } else {
            Sleep(10);
        }
    }
}

void PrintRow(const char* name, const char* floorName, Pair p, double goal) {
    const double ratio = p.ours / p.floor;
    std::printf("%-44s %10.3f ms %10.3f ms %7.2f   <= %.1f  %s\n", name, p.ours * 1e3, p.floor * 1e3, ratio, goal,
                ratio <= goal ? "met" : "MISSED");
    std::printf("    floor: %s\n", floorName);
}

// One right-click as Explorer makes it: handler, selection, menu, the help
// text of every item as the pointer passes, release.
void RightClick(IContextMenu* handler, IDataObject* data, UINT items) {
    Check(InitializeHandler(handler, data), "Initialize");
    HMENU menu = CreatePopupMenu();
    const HRESULT added = handler->QueryContextMenu(menu, 0, 1, 0x7FFF, CMF_NORMAL);
    if (FAILED(added) || HRESULT_CODE(added) <= items) Failed("QueryContextMenu: too few items", added);
    wchar_t help[256];
    for (UINT i = 0; i < items; ++i)
        Check(handler->GetCommandString(i, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(help), ARRAYSIZE(help)),
              "GetCommandString");
    DestroyMenu(menu);
}

void OursRightClick(IDataObject* data) {
    IContextMenu* handler = CreateHandler();
    if (!handler) Failed("creating the handler", 0);
    RightClick(handler, data, 3);
    handler->Release();
}

void FloorRightClick(IDataObject* data) {
    IContextMenu* handler = new MinimalHandler();
    RightClick(handler, data, 3);
    handler->Release();
}

// The linear floor of reading a selection: one walk of the drop list that
// copies every path into a string of its own.
std::vector<std::wstring> WalkDropList(IDataObject* data) {
    std::vector<std::wstring> paths;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    Check(data->GetData(&format, &medium), "GetData of the drop list");
    const auto* header = static_cast<const DROPFILES*>(GlobalLock(medium.hGlobal));
    const wchar_t* p = reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(header) + header->pFiles);
    while (*p) {
        size_t n = wcslen(p);
        paths.emplace_back(p, n);
        p += n + 1;
    }
    GlobalUnlock(medium.hGlobal);
    ReleaseStgMedium(&medium);
    return paths;
}

std::vector<std::wstring> ManyPaths(size_t count) {
    std::vector<std::wstring> paths;
    paths.reserve(count);
    for (size_t i = 0; i < count; ++i)
        paths.push_back(L"C:\\Users\\someone\\Documents\\Projects\\Spring\\photo" + std::to_wstring(100000 + i) +
                        L".jpg");
    return paths;
}

std::wstring TempDir() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return temp;
}

// List files that the runs leave for the program: removed between rounds.
// Out: how many there were.
size_t RemoveListFiles() {
    const std::wstring dir = TempDir();
    WIN32_FIND_DATAW found;
    const std::wstring guidName = std::wstring(8, L'?') + L'-' + std::wstring(4, L'?') + L'-' + std::wstring(4, L'?') +
                                  L'-' + std::wstring(4, L'?') + L'-' + std::wstring(12, L'?') + L".txt";
    HANDLE h = FindFirstFileW((dir + guidName).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return 0;
    size_t count = 0;
    do count += DeleteFileW((dir + found.cFileName).c_str()) != 0;
    while (FindNextFileW(h, &found));
    FindClose(h);
    return count;
}

void SetProgramFolder(const std::wstring& folder) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Osmund\\Brellow", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExW(key, L"Directory", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void LoadFigure() {
    // Explorer has these loaded long before any extension: keep them loaded
    // here too, so that the figure is the extension's own cost.
    for (const wchar_t* system : {L"comctl32.dll", L"shell32.dll", L"shlwapi.dll", L"ole32.dll", L"user32.dll",
                                  L"gdi32.dll", L"advapi32.dll"})
        LoadLibraryW(system);
    const std::wstring dll = DllPath();
    const std::wstring empty = BinDir() + L"\\bench_empty.dll";
    const GUID clsid = kHandlerClsid;
    auto ours = [&] {
        HMODULE module = LoadLibraryW(dll.c_str());
        if (!module) Failed("loading the DLL", static_cast<long>(GetLastError()));
        auto get = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        IClassFactory* factory = nullptr;
        Check(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), "DllGetClassObject");
        IContextMenu* handler = nullptr;
        Check(factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&handler)), "CreateInstance");
        factory->Release();
        handler->Release();
        FreeLibrary(module);
    };
    auto floor = [&] {
        HMODULE module = LoadLibraryW(empty.c_str());
        if (!module) Failed("loading the empty DLL", static_cast<long>(GetLastError()));
        FreeLibrary(module);
    };
    Pair p = Measure(20, ours, floor);
    PrintRow("4 load the DLL, create the first handler", "LoadLibrary + FreeLibrary of a DLL that exports nothing", p,
             2.0);
    if (GetModuleHandleW(dll.c_str())) std::printf("    note: the DLL stayed loaded between rounds\n");
}

// 6: what Windows 11 Explorer asks of the command at every right-click, on its
// own thread: the root's flags, state, title and icon, then each subcommand's.
// An array of our own makes its items on demand, so the figure is the
// command's cost: 100,000 selected items against one.
void CommandFigure() {
    auto path = [](DWORD i) { return L"C:\\Users\\someone\\Documents\\photo" + std::to_wstring(100000 + i) + L".jpg"; };
    auto* many = new TestItemArray(100000, path, SFGAO_FILESYSTEM | SFGAO_STREAM);
    auto* one = new TestItemArray(1, path, SFGAO_FILESYSTEM | SFGAO_STREAM);
    auto rightClick = [](IShellItemArray* items) { Check(RightClickCommand(items).hr, "the Windows 11 menu's calls"); };
    Pair p = Measure(300, [&] { rightClick(many); }, [&] { rightClick(one); });
    PrintRow("6 Windows 11 menu, 100,000 items", "the same calls on one item", p, 1.5);
    many->ResetCounts();
    RightClickCommand(many);
    std::printf("    items made of the 100,000 in one right-click: %lu, none above index %lu\n",
                static_cast<unsigned long>(many->itemsMade()), static_cast<unsigned long>(many->highestItem()));
    many->Release();
    one->Release();
}

// 7: a click on the Windows 11 menu's "Create ..." for 100,000 items, up to
// the started program: the paths read through the array's data object (one
// call where the command runs, in the COM Surrogate) against item by item
// (two calls per item there). Both run in this process here, so the figure is
// our own cost of each way, not the 200,000 calls between processes it saves.
void CommandInvokeFigure() {
    auto path = [](DWORD i) { return L"C:\\Users\\someone\\Documents\\photo" + std::to_wstring(100000 + i) + L".jpg"; };
    using Data = TestItemArray::Data;
    auto* throughData = new TestItemArray(100000, path, SFGAO_FILESYSTEM | SFGAO_STREAM, Data::kDropList);
    auto* itemByItem = new TestItemArray(100000, path, SFGAO_FILESYSTEM | SFGAO_STREAM, Data::kNone);
    auto click = [](IShellItemArray* items) { Check(InvokeCommandAt(items, 1), "the Windows 11 menu's Invoke"); };
    Pair p = Measure(1, [&] { click(throughData); }, [&] { click(itemByItem); }, [] {
        WaitForPrograms(L"TarnwickUnzip.exe");
        if (RemoveListFiles() == 0) Failed("Invoke started no program", 0);
    });
    PrintRow("7 Windows 11 invoke, 100,000 items", "the same click reading the array item by item", p, 1.0);
    throughData->ResetCounts();
    itemByItem->ResetCounts();
    click(throughData);
    click(itemByItem);
    WaitForPrograms(L"TarnwickUnzip.exe");
    RemoveListFiles();
    std::printf("    items read in one click: %lu through the data object, %lu item by item\n",
                static_cast<unsigned long>(throughData->itemsMade()), static_cast<unsigned long>(itemByItem->itemsMade()));
    throughData->Release();
    itemByItem->Release();
}

void SizeFigure() {
    const std::wstring dll = DllPath();
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    GetFileAttributesExW(dll.c_str(), GetFileExInfoStandard, &attributes);
    const double kb = attributes.nFileSizeLow / 1024.0;
    // Of it, about 26 KB is the menu icon's art in six sizes, 16 to 48 px.
    std::printf("%-44s %10.1f KB %13s %7s   <= 200 KB  %s\n", "5 DLL size", kb, "", "", kb <= 200 ? "met" : "MISSED");
    WIN32_FILE_ATTRIBUTE_DATA modern{};
    GetFileAttributesExW(ModernDllPath().c_str(), GetFileExInfoStandard, &modern);
    std::printf("    quillshell-modern.dll: %.1f KB\n", modern.nFileSizeLow / 1024.0);

    HMODULE image = LoadLibraryExW(dll.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    auto* base = reinterpret_cast<const BYTE*>(image);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::printf("    imports:");
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d)
        std::printf(" %s", reinterpret_cast<const char*>(base + d->Name));
    std::printf("\n");
    FreeLibrary(image);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) g_rounds = std::max(3, _wtoi(argv[1]));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::printf("%-44s %13s %13s %7s   %s\n", "figure", "ours", "floor", "ratio", "goal");

    LoadFigure();  // first: afterwards the DLL stays loaded for the others

    Scratch scratch;
    const std::wstring file = scratch.File(L"notes.txt");
    IDataObject* one = ShellDataObject({file});
    Pair p = Measure(300, [&] { OursRightClick(one); }, [&] { FloorRightClick(one); });
    PrintRow("1 right-click, one item", "minimal handler: reads the path, one folder query, same items", p, 1.5);
    one->Release();

    const std::vector<std::wstring> paths = ManyPaths(100000);
    TestDataObject* many = TestDataObject::Wide(paths);
    p = Measure(1, [&] { OursRightClick(many); }, [&] { WalkDropList(many); });
    PrintRow("2 right-click, 100,000 items", "one walk of the drop list into a vector of strings", p, 1.3);

    // 3: up to the started program, which exits at once.
    const std::wstring folder = scratch.Folder(L"program");
    CopyFileW((BinDir() + L"\\bench_exit.exe").c_str(), (folder + L"\\TarnwickUnzip.exe").c_str(), FALSE);
    SetProgramFolder(folder);
    const std::wstring program = L"\"" + folder + L"\\TarnwickUnzip.exe\"";
    std::string bytes;
    for (const std::wstring& path : paths) {
        for (wchar_t c : path) bytes += static_cast<char>(c);
        bytes += '*';
    }
    auto ours = [&] {
        IContextMenu* handler = CreateHandler();
        if (!handler) Failed("creating the handler", 0);
        Check(InitializeHandler(handler, many), "Initialize");
        HMENU menu = CreatePopupMenu();
        const HRESULT added = handler->QueryContextMenu(menu, 0, 1, 0x7FFF, CMF_NORMAL);
        if (FAILED(added) || HRESULT_CODE(added) < 2) Failed("QueryContextMenu: no item 1", added);
        CMINVOKECOMMANDINFOEX info{};
        info.cbSize = sizeof(info);
        info.fMask = CMIC_MASK_UNICODE;
        info.lpVerb = MAKEINTRESOURCEA(1);
        info.lpVerbW = MAKEINTRESOURCEW(1);
        Check(handler->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info)), "InvokeCommand");
        DestroyMenu(menu);
        handler->Release();
    };
    auto floor = [&] {
        WalkDropList(many);
        const std::wstring name = TempDir() + L"00000000-0000-0000-0000-000000000000.txt";
        HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        if (h == INVALID_HANDLE_VALUE || !WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
            Failed("writing the floor's list file", static_cast<long>(GetLastError()));
        CloseHandle(h);
        const auto started = reinterpret_cast<INT_PTR>(ShellExecuteW(
            nullptr, L"open", program.c_str(), (L" ?Zip? \"" + name + L"\" \"C:\\x.zip\"").c_str(), nullptr, SW_SHOWNORMAL));
        if (started <= 32) Failed("the floor's ShellExecuteW", static_cast<long>(started));
    };
    // The handler keeps its list file only for a program it started (a start
    // that fails shows a box and still answers S_OK, as Explorer asks it).
    p = Measure(1, ours, floor, [] {
        WaitForPrograms(L"TarnwickUnzip.exe");
        if (RemoveListFiles() == 0) Failed("InvokeCommand started no program", 0);
    });
    PrintRow("3 invoke on 100,000 items, up to the start", "walk + one WriteFile of the same bytes + one ShellExecuteW",
             p, 1.5);
    RemoveListFiles();
    many->Release();

    CommandFigure();
    CommandInvokeFigure();  // the program folder of figure 3
    SizeFigure();
    CoUninitialize();
    return 0;
}
