// A failed start, as the user sees it: the real message box, found, read and
// closed by the test. Needs a display.
#include <gtest/gtest.h>

#include "command_support.h"
#include "shell_support.h"
#include "support.h"

namespace {

class ErrorBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        setting.Set(program.dir());
        archive = scratch.File(L"Photos.zip");
    }
    void TearDown() override {
        if (handler) handler->Release();
        if (items) items->Release();
        EXPECT_EQ(LoadDll().canUnloadNow(), S_OK) << "an object leaked";
        EXPECT_EQ(LoadModernDll().canUnloadNow(), S_OK) << "a command leaked";
        CoUninitialize();
    }

    void Select(const std::vector<std::wstring>& paths) {
        IDataObject* data = ShellDataObject(paths);
        ASSERT_NE(data, nullptr);
        handler = CreateHandler();
        ASSERT_NE(handler, nullptr);
        ASSERT_EQ(InitializeHandler(handler, data), S_OK);
        data->Release();
        if (items) items->Release();
        items = ShellItems(paths);  // for the Windows 11 menu's "Extract here"
        ASSERT_NE(items, nullptr);
        HMENU menu = HostMenu(0);
        ASSERT_TRUE(SUCCEEDED(handler->QueryContextMenu(menu, 0, 100, 200, CMF_NORMAL)));
        DestroyMenu(menu);
    }

    // "Extract here" must show one box naming the code's description and the
    // item, and leave no list file and no started program behind. A caller
    // that forbids any user interface gets no box but the code as the result.
    void ExpectBox(HRESULT code, const std::wstring& item) {
        BoxWatcher quiet;
        EXPECT_EQ(InvokeOffset(handler, 1, sizeof(CMINVOKECOMMANDINFOEX), true, CMIC_MASK_FLAG_NO_UI), code);
        EXPECT_TRUE(quiet.Stop().empty()) << "a box despite CMIC_MASK_FLAG_NO_UI";
        EXPECT_TRUE(temp.Files().empty()) << "a list file was left behind";
        EXPECT_FALSE(program.WasStarted()) << "the program was started";

        // The classic item, then the Windows 11 menu's: the same box.
        for (bool command : {false, true}) {
            SCOPED_TRACE(command ? "the Windows 11 menu" : "the classic menu");
            BoxWatcher watcher;
            EXPECT_EQ(command ? InvokeCommandAt(items, 1) : InvokeOffset(handler, 1), S_OK);
            const std::vector<BoxWatcher::Box> boxes = watcher.Stop();
            ASSERT_EQ(boxes.size(), 1u) << "no error box";
            EXPECT_EQ(boxes[0].caption, L"QUILLSHELL");
            const std::wstring description = SystemText(code);
            ASSERT_FALSE(description.empty());
            const std::wstring& text = boxes[0].text;
            EXPECT_NE(text.find(description), std::wstring::npos) << text;
            EXPECT_NE(text.find(item, text.find(description) + description.size()), std::wstring::npos) << text;
            EXPECT_TRUE(temp.Files().empty()) << "a list file was left behind";
            EXPECT_FALSE(program.WasStarted()) << "the program was started";
        }
    }

    PrivateTemp temp;
    Scratch scratch;
    ProgramFolder program{temp.dir()};
    DirectorySetting setting;
    std::wstring archive;
    IContextMenu* handler = nullptr;
    IShellItemArray* items = nullptr;
};

// The list file written for a start that failed is removed again.
TEST_F(ErrorBoxTest, FolderWithoutTheProgram) {
    setting.Set(scratch.Folder(L"Empty"));
    Select({archive});
    ExpectBox(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), archive);
}

// Without a fully qualified folder nothing is written or started: the
// program would be looked for in the current drive's root or below the
// current folder. Here the current folder holds Tools\TarnwickUnzip.exe.
TEST_F(ErrorBoxTest, UnsetOrRelativeSetting) {
    wchar_t old[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, old);
    ASSERT_TRUE(SetCurrentDirectoryW(temp.dir().c_str()));
    const std::wstring drive = temp.dir().substr(0, 2);
    for (const std::wstring& value : {std::wstring(), std::wstring(L"Tools"), L"." + std::wstring(L"\\Tools"),
                                      drive + L"Tools", temp.dir().substr(2) + L"Tools"}) {
        SCOPED_TRACE(testing::Message() << "Directory = [" << Latin1(value) << "]");
        setting.Set(value);
        Select({archive});
        ExpectBox(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), archive);
        handler->Release();
        handler = nullptr;
    }
    setting.Remove();
    Select({archive});
    ExpectBox(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), archive);

    // The failure changed nothing: the same handler starts the program once
    // the setting names its folder.
    setting.Set(program.dir());
    EXPECT_EQ(InvokeOffset(handler, 1), S_OK);
    Record record;
    EXPECT_TRUE(program.Wait(&record));
    SetCurrentDirectoryW(old);
}

// A name beyond Latin-1 whose item has no short form (it is gone) cannot be
// written: no list file, no start, and the box names that item.
TEST_F(ErrorBoxTest, NameWithoutShortForm) {
    const std::wstring wide = scratch.File(L"\u0416\u0443\u043A.zip");
    Select({wide});
    ASSERT_TRUE(DeleteFileW(wide.c_str()));
    ExpectBox(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION), wide);
}

// A list file that cannot be written is reported like a failed start.
TEST_F(ErrorBoxTest, TempFolderTooLongForTheListFile) {
    std::wstring longTemp = temp.dir();
    longTemp.resize(219, L'x');  // with its backslash 220: the full name would reach MAX_PATH
    ASSERT_TRUE(CreateDirectoryW(longTemp.c_str(), nullptr));
    SetEnvironmentVariableW(L"TMP", (longTemp + L"\\").c_str());
    Select({archive});
    ExpectBox(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), archive);
    SetEnvironmentVariableW(L"TMP", temp.dir().c_str());
}

// Only a failed start shows a box; a silent caller's command still runs.
TEST_F(ErrorBoxTest, SuccessShowsNothing) {
    Select({archive});
    for (DWORD mask : {0ul, DWORD(CMIC_MASK_FLAG_NO_UI)}) {
        BoxWatcher watcher;
        EXPECT_EQ(InvokeOffset(handler, 1, sizeof(CMINVOKECOMMANDINFOEX), true, mask), S_OK);
        Record record;
        EXPECT_TRUE(program.Wait(&record));
        EXPECT_TRUE(watcher.Stop().empty());
    }
}

// The box belongs to the top-level window of the window passed, which stays
// disabled while it is up: the folder window cannot be closed or clicked
// again while the handler is still inside InvokeCommand.
TEST_F(ErrorBoxTest, BoxBelongsToTheCallersWindow) {
    setting.Set(scratch.Folder(L"Empty"));
    Select({archive});
    HWND top = CreateWindowExW(0, L"STATIC", L"folder", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, nullptr,
                               nullptr, nullptr, nullptr);
    HWND view = CreateWindowExW(0, L"STATIC", L"view", WS_CHILD | WS_VISIBLE, 0, 0, 100, 100, top, nullptr, nullptr,
                                nullptr);
    ASSERT_TRUE(top && view);
    for (HWND passed : {view, top, HWND(nullptr)}) {
        SCOPED_TRACE(passed == view ? "a child window" : passed ? "the top-level window" : "no window");
        BoxWatcher watcher;
        EXPECT_EQ(InvokeOffset(handler, 1, sizeof(CMINVOKECOMMANDINFOEX), true, 0, passed), S_OK);
        const std::vector<BoxWatcher::Box> boxes = watcher.Stop();
        ASSERT_EQ(boxes.size(), 1u);
        if (passed) {
            EXPECT_EQ(boxes[0].owner, top);
            EXPECT_FALSE(boxes[0].ownerEnabled) << "the window stayed enabled under its box";
        } else {
            EXPECT_TRUE(!boxes[0].owner || boxes[0].owner == GetDesktopWindow()) << boxes[0].owner;
        }
        EXPECT_TRUE(IsWindowEnabled(top)) << "the window was left disabled";
    }
    // The Windows 11 menu: the window of the site Explorer sets on the root,
    // or of the subcommand's own site.
    TestSite* viewSite = new TestSite(view);
    TestSite* topSite = new TestSite(top);
    const struct {
        const char* name;
        IUnknown *rootSite, *ownSite;
        HWND owner;
    } sites[] = {
        {"the root's site: the view", viewSite, nullptr, top},
        {"the root's site: the top-level window", topSite, nullptr, top},
        {"the subcommand's own site", nullptr, viewSite, top},
        {"no site", nullptr, nullptr, nullptr},
    };
    for (const auto& c : sites) {
        SCOPED_TRACE(c.name);
        BoxWatcher watcher;
        EXPECT_EQ(InvokeCommandAt(items, 1, c.rootSite, c.ownSite), S_OK);
        const std::vector<BoxWatcher::Box> boxes = watcher.Stop();
        ASSERT_EQ(boxes.size(), 1u);
        if (c.owner) {
            EXPECT_EQ(boxes[0].owner, c.owner);
            EXPECT_FALSE(boxes[0].ownerEnabled) << "the window stayed enabled under its box";
        } else {
            EXPECT_TRUE(!boxes[0].owner || boxes[0].owner == GetDesktopWindow()) << boxes[0].owner;
        }
    }
    EXPECT_EQ(viewSite->Release(), 0u) << "a site was kept";
    EXPECT_EQ(topSite->Release(), 0u) << "a site was kept";
    DestroyWindow(top);
}

}  // namespace
