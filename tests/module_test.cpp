// The COM server: class objects, handler identity and the DLL's lifetime.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <iterator>
#include <thread>
#include <vector>

#include "shell_support.h"
#include "support.h"

namespace {

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(dll.module, nullptr) << "quillshell.dll did not load";
        ASSERT_EQ(dll.canUnloadNow(), S_OK) << "a previous test leaked an object";
    }
    void TearDown() override { EXPECT_EQ(dll.canUnloadNow(), S_OK) << "objects still alive"; }

    IClassFactory* Factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(dll.getClassObject(kHandlerClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        return factory;
    }

    const Dll& dll = LoadDll();
};

TEST_F(ModuleTest, ClassObjectForOurClassKeepsTheDllLoadedUntilReleased) {
    for (REFIID iid : {IID_IClassFactory, IID_IUnknown}) {
        IUnknown* factory = nullptr;
        ASSERT_EQ(dll.getClassObject(kHandlerClsid, iid, reinterpret_cast<void**>(&factory)), S_OK);
        ASSERT_NE(factory, nullptr);
        EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
        EXPECT_EQ(factory->Release(), 0u);  // the caller held the only reference
        EXPECT_EQ(dll.canUnloadNow(), S_OK);
    }
}

TEST_F(ModuleTest, ClassObjectRefusals) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.getClassObject(kHandlerClsid, IID_IContextMenu, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    CLSID other = kHandlerClsid;
    other.Data4[7] ^= 1;  // differs in the last byte only
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.getClassObject(other, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(ModuleTest, EachCallGivesAFreshFactory) {
    IClassFactory* a = Factory();
    IClassFactory* b = Factory();
    EXPECT_NE(a, b);
    a->Release();
    EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
    b->Release();
}

TEST_F(ModuleTest, FactoryInterfacesAndLockServer) {
    IClassFactory* factory = Factory();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->QueryInterface(IID_IContextMenu, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(factory));
    EXPECT_EQ(unknown->Release(), 1u);
    EXPECT_EQ(factory->LockServer(TRUE), E_NOTIMPL);
    EXPECT_EQ(factory->LockServer(FALSE), E_NOTIMPL);
    EXPECT_EQ(factory->Release(), 0u);  // LockServer kept nothing alive
}

// The COM Surrogate that hosts the Windows 11 command may lock its server: a
// lock keeps the DLL loaded, as a live object does; an unlock without a lock
// changes nothing.
TEST_F(ModuleTest, TheCommandsServerCountsLocks) {
    const Dll& modern = LoadModernDll();
    IClassFactory* factory = nullptr;
    ASSERT_EQ(modern.getClassObject(kCommandClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    for (HRESULT expected : {S_FALSE, S_FALSE, S_OK, S_OK}) {
        EXPECT_EQ(modern.canUnloadNow(), expected);
        IClassFactory* again = nullptr;
        ASSERT_EQ(modern.getClassObject(kCommandClsid, IID_IClassFactory, reinterpret_cast<void**>(&again)), S_OK);
        EXPECT_EQ(again->LockServer(FALSE), S_OK);
        again->Release();
    }
}

TEST_F(ModuleTest, AggregationIsRefusedWhateverTheInterface) {
    IClassFactory* factory = Factory();
    void* outer[1] = {};  // never called: only its address matters
    for (REFIID iid : {IID_IUnknown, IID_IContextMenu, IID_IShellExtInit}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(&outer), iid, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
    }
    factory->Release();
}

TEST_F(ModuleTest, HandlerFacesShareOneCountAndOneIdentity) {
    IClassFactory* factory = Factory();
    IShellExtInit* init = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    factory->Release();
    EXPECT_EQ(dll.canUnloadNow(), S_FALSE);  // the handler alone keeps the DLL

    IContextMenu* menu = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    // The IShellExtInit face sits one table pointer after the IContextMenu face.
    EXPECT_EQ(reinterpret_cast<char*>(init), reinterpret_cast<char*>(menu) + sizeof(void*));

    IUnknown* fromInit = nullptr;
    IUnknown* fromMenu = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromInit)), S_OK);
    ASSERT_EQ(menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromMenu)), S_OK);
    EXPECT_EQ(fromInit, fromMenu);
    EXPECT_EQ(static_cast<void*>(fromInit), static_cast<void*>(menu));

    // 1 from CreateInstance, +1 menu, +2 unknowns: one count through every face.
    EXPECT_EQ(init->AddRef(), 5u);
    EXPECT_EQ(menu->Release(), 4u);
    EXPECT_EQ(fromInit->Release(), 3u);
    EXPECT_EQ(fromMenu->Release(), 2u);
    EXPECT_EQ(menu->Release(), 1u);
    EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
    EXPECT_EQ(init->Release(), 0u);
}

TEST_F(ModuleTest, HandlerRefusesOtherInterfaces) {
    IClassFactory* factory = Factory();
    IContextMenu* menu = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDataObject, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    factory->Release();
    for (REFIID iid : {IID_IDataObject, IID_IClassFactory, IID_IContextMenu2}) {
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(menu->QueryInterface(iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(menu->Release(), 0u);  // never initialised: destroys cleanly
}

// quillshell-modern.dll serves the Windows 11 command alone, quillshell.dll
// the context-menu handler alone; the command answers IExplorerCommand and
// IObjectWithSite with one identity, nothing of the classic handler's.
TEST_F(ModuleTest, EachDllServesItsOwnClass) {
    const Dll& modern = LoadModernDll();
    ASSERT_NE(modern.module, nullptr) << "quillshell-modern.dll did not load";
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(modern.getClassObject(kHandlerClsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(dll.getClassObject(kCommandClsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(modern.getClassObject(kCommandClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    void* outer[1] = {};
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(&outer), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    IUnknown* command = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&command)), S_OK);
    factory->Release();
    EXPECT_EQ(modern.canUnloadNow(), S_FALSE);  // the command alone keeps the DLL
    for (REFIID iid : {IID_IUnknown, IID_IExplorerCommand, IID_IObjectWithSite}) {
        IUnknown* face = nullptr;
        ASSERT_EQ(command->QueryInterface(iid, reinterpret_cast<void**>(&face)), S_OK);
        IUnknown* identity = nullptr;
        ASSERT_EQ(face->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
        EXPECT_EQ(identity, command);
        identity->Release();
        face->Release();
    }
    for (REFIID iid : {IID_IContextMenu, IID_IShellExtInit, IID_IEnumExplorerCommand, IID_IClassFactory}) {
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(command->QueryInterface(iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(command->Release(), 0u);
    EXPECT_EQ(modern.canUnloadNow(), S_OK);
}

// Every Explorer window is its own apartment: many threads create and free
// handlers at once, and the DLL must still know when it is unused.
TEST_F(ModuleTest, ConcurrentApartmentsKeepTheObjectCountExact) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 3000;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            for (int i = 0; i < kRounds; ++i) {
                IClassFactory* factory = nullptr;
                if (dll.getClassObject(kHandlerClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK) {
                    ++failures[t];
                    continue;
                }
                IContextMenu* a = nullptr;
                IShellExtInit* b = nullptr;
                if (factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&a)) != S_OK ||
                    factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&b)) != S_OK)
                    ++failures[t];
                factory->Release();
                if (a) a->Release();
                if (b) b->Release();
            }
            CoUninitialize();
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(dll.canUnloadNow(), S_OK);
}

// Stand-ins for the calls that give back what the module keeps: each records
// its bit (the item bitmap's deletion only for that bitmap); once the process
// is ending, any of them ends it with exit code 100 + its bit.
HBITMAP g_itemBitmap = nullptr;
unsigned g_freed = 0;
bool g_ending = false;
void Freed(unsigned bit) {
    if (g_ending) TerminateProcess(GetCurrentProcess(), 100 + bit);
    g_freed |= 1u << bit;
}
BOOL WINAPI FreeObject(HGDIOBJ object) {
    if (object == g_itemBitmap) Freed(0);
    return TRUE;
}
LONG WINAPI CloseKey(HKEY) { return Freed(1), ERROR_SUCCESS; }
void WINAPI ReleaseContext(HANDLE) { Freed(2); }
struct Free {
    const char* dll;
    const char* name;
    void* standIn;
} const kFrees[] = {{"gdi32.dll", "DeleteObject", reinterpret_cast<void*>(FreeObject)},  // the item bitmap
                    {"advapi32.dll", "RegCloseKey", reinterpret_cast<void*>(CloseKey)},  // the settings key
                    {"kernel32.dll", "ReleaseActCtx", reinterpret_cast<void*>(ReleaseContext)}};
constexpr int kAllFreed = (1 << std::size(kFrees)) - 1;

TEST(ModuleDetach, FreesAtAnUnloadButNotAtTheProcessEnd) {
    auto prepare = [] {
        // The setting in a key of this process's own: other tests write the real one.
        HKEY root = nullptr, settings = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QuillshellExitTest", 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &root, nullptr);
        RegCreateKeyExW(root, L"Software\\Osmund\\Brellow", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &settings, nullptr);
        const wchar_t folder[] = L"C:\\Tools";
        RegSetValueExW(settings, L"Directory", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder), sizeof(folder));
        RegCloseKey(settings);
        if (RegOverridePredefKey(HKEY_CURRENT_USER, root) != ERROR_SUCCESS) std::exit(4);
        RegCloseKey(root);

        SetThreadDpiAwareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        IContextMenu* handler = CreateHandler();
        TestDataObject* data = TestDataObject::Wide({L"C:\\In\\notes.txt"});
        InitializeHandler(handler, data);
        HMENU menu = CreatePopupMenu();
        handler->QueryContextMenu(menu, 0, 1, 0x7FFF, CMF_NORMAL);
        if (ReadMenu(menu).size() != 5 || !ReadMenu(menu)[1].item) std::exit(5);
        g_itemBitmap = ReadMenu(menu)[1].item;
        handler->Release();
        data->Release();
        const HMODULE dll = LoadDll().module;
        for (const Free& f : kFrees)
            if (!RedirectImport(dll, f.dll, f.name, f.standIn)) std::exit(6);
        return dll;
    };
    EXPECT_EXIT(
        {
            FreeLibrary(prepare());
            ExitProcess(g_freed);
        },
        ::testing::ExitedWithCode(kAllFreed), "");
    EXPECT_EXIT(
        {
            prepare();
            g_ending = true;
            ExitProcess(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
