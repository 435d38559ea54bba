// From a picked item or a named verb to TarnwickUnzip.exe: the receiver,
// installed in the folder of the real HKCU setting, records how it was started.
#include <gtest/gtest.h>

#include "command_support.h"
#include "program_start.h"
#include "shell_support.h"
#include "support.h"

namespace {

constexpr UINT kFirst = 100;

// What one start handed to the program.
struct Start {
    std::wstring token, listFile, zipName;
    std::string list;  // the list file's bytes, as the program read them
};

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        setting.Set(program.dir());
    }
    void TearDown() override {
        if (handler) handler->Release();
        EXPECT_EQ(LoadDll().canUnloadNow(), S_OK) << "an object leaked";
        EXPECT_EQ(LoadModernDll().canUnloadNow(), S_OK) << "a command leaked";
        CoUninitialize();
    }

    // A handler initialised with items on disk, with or without its menu.
    void Select(const std::vector<std::wstring>& paths, bool buildMenu = true) {
        IDataObject* data = ShellDataObject(paths);
        ASSERT_NE(data, nullptr);
        handler = CreateHandler();
        ASSERT_NE(handler, nullptr);
        ASSERT_EQ(InitializeHandler(handler, data), S_OK);
        data->Release();
        if (buildMenu) Menu();
    }
    void Menu() {
        HMENU menu = HostMenu(2);
        ASSERT_TRUE(SUCCEEDED(handler->QueryContextMenu(menu, 2, kFirst, kFirst + 50, CMF_NORMAL)));
        DestroyMenu(menu);
    }

    // The call must have started the program; its command line is taken apart.
    Start Started(HRESULT hr) {
        Start start;
        EXPECT_EQ(hr, S_OK);
        Record record;
        if (hr != S_OK || !program.Wait(&record)) {
            ADD_FAILURE() << "the program was not started";
            return start;
        }
        EXPECT_TRUE(record.listRead) << "the list file was not there";
        start.list = record.list;

        // "<dir>\TarnwickUnzip.exe", the space the shell puts after the
        // program, then the parameters exactly as passed:
        // " <token> "<list file>" "<zip name>"".
        const std::wstring& line = record.commandLine;
        const std::wstring program = Quote(this->program.dir() + L"\\TarnwickUnzip.exe") + L" ";
        EXPECT_EQ(line.compare(0, program.size(), program), 0) << line;
        const std::wstring params = line.substr(program.size());
        const size_t tokenEnd = params.find(L' ', 1);
        const size_t listEnd = params.find(L'"', tokenEnd + 2);
        if (params.compare(0, 1, L" ") != 0 || tokenEnd == std::wstring::npos || listEnd == std::wstring::npos) {
            ADD_FAILURE() << "unexpected parameters: " << line;
            return start;
        }
        start.token = params.substr(1, tokenEnd - 1);
        start.listFile = params.substr(tokenEnd + 2, listEnd - tokenEnd - 2);
        start.zipName = params.substr(listEnd + 3, params.size() - listEnd - 4);
        EXPECT_EQ(params, L" " + start.token + L" " + Quote(start.listFile) + L" " + Quote(start.zipName)) << line;
        EXPECT_EQ(start.listFile.compare(0, temp.dir().size(), temp.dir()), 0) << start.listFile;
        EXPECT_TRUE(IsListFileName(start.listFile.substr(temp.dir().size()))) << start.listFile;
        return start;
    }

    // Refused: nothing written, nothing started.
    void Refused(HRESULT hr) {
        EXPECT_EQ(hr, E_INVALIDARG);
        EXPECT_TRUE(temp.Files().empty()) << "a list file was written";
        EXPECT_FALSE(program.WasStarted()) << "the program was started";
    }

    PrivateTemp temp;  // first: everything below lives in it
    Scratch scratch;
    ProgramFolder program{temp.dir()};
    DirectorySetting setting;
    IContextMenu* handler = nullptr;
};

TEST_F(DispatchTest, ArchiveMenuItems) {
    const std::wstring archive = scratch.File(L"Photos.zip");
    Select({archive});
    const wchar_t* const tokens[] = {L"?UnpackTo?", L"?UnpackHere?", L"?UnpackToFolder?", L"?Test?"};
    for (UINT offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(offset);
        Start start = Started(InvokeOffset(handler, offset));
        EXPECT_EQ(start.token, tokens[offset]);
        EXPECT_EQ(start.zipName, L"NULL");
        EXPECT_EQ(start.list, Latin1(archive) + "*");
    }
    // No item stands there: before, 4 ran "?UnpackToFolder?" on the archive.
    for (UINT offset : {4u, 5u, 0x7FFFu}) Refused(InvokeOffset(handler, offset));
    // The Windows 11 menu's subcommands, in the same order, do the same.
    IShellItemArray* items = ShellItems({archive});
    ASSERT_NE(items, nullptr);
    for (size_t index = 0; index < 4; ++index) {
        SCOPED_TRACE(testing::Message() << "subcommand " << index);
        Start start = Started(InvokeCommandAt(items, index));
        EXPECT_EQ(start.token, tokens[index]);
        EXPECT_EQ(start.zipName, L"NULL");
        EXPECT_EQ(start.list, Latin1(archive) + "*");
    }
    items->Release();
}

TEST_F(DispatchTest, ZipMenuItems) {
    const std::wstring folder = scratch.Folder(L"In");
    const std::wstring a = scratch.File(L"In\\a.txt"), b = scratch.File(L"In\\b.txt");
    Select({a, b});
    const wchar_t* const tokens[] = {L"?ZipTo?", L"?Zip?", L"?ZipWithMPW?"};
    for (UINT offset = 0; offset < 3; ++offset) {
        SCOPED_TRACE(offset);
        Start start = Started(InvokeOffset(handler, offset, sizeof(CMINVOKECOMMANDINFO), false));
        EXPECT_EQ(start.token, tokens[offset]);
        EXPECT_EQ(start.zipName, folder + L"\\In.zip");
        EXPECT_EQ(start.list, Latin1(a) + "*" + Latin1(b) + "*");
    }
    // Before, 3 ran "?UnpackTo?" on files that are no archive.
    for (UINT offset : {3u, 4u}) Refused(InvokeOffset(handler, offset));
    IShellItemArray* items = ShellItems({a, b});
    ASSERT_NE(items, nullptr);
    for (size_t index = 0; index < 3; ++index) {
        SCOPED_TRACE(testing::Message() << "subcommand " << index);
        Start start = Started(InvokeCommandAt(items, index));
        EXPECT_EQ(start.token, tokens[index]);
        EXPECT_EQ(start.zipName, folder + L"\\In.zip");
        EXPECT_EQ(start.list, Latin1(a) + "*" + Latin1(b) + "*");
    }
    items->Release();
}

// A click reads the whole selection, in the array's order; a subcommand asked
// with an array whose group lacks it (or that is invalid) starts nothing.
TEST_F(DispatchTest, CommandTakesTheWholeArray) {
    auto* many = new TestItemArray(
        1000, [](DWORD i) { return L"C:\\Many\\file" + std::to_wstring(i) + L".txt"; }, SFGAO_FILESYSTEM);
    Start start = Started(InvokeCommandAt(many, 1));
    EXPECT_EQ(start.token, L"?Zip?");
    EXPECT_EQ(start.zipName, L"C:\\Many\\Many.zip");
    std::string expected;
    for (DWORD i = 0; i < 1000; ++i) expected += "C:\\Many\\file" + std::to_string(i) + ".txt*";
    EXPECT_EQ(start.list, expected);
    EXPECT_EQ(many->highestItem(), 999u);
    many->Release();

    // "Extract here" of an archive's menu, invoked for a text file.
    IShellItemArray* archive = ShellItems({scratch.File(L"Photos.zip")});
    IShellItemArray* text = ShellItems({scratch.File(L"notes.txt")});
    IExplorerCommand* root = CreateCommand();
    ASSERT_TRUE(archive && text && root);
    EXPECT_EQ(InvokeCommandAt(nullptr, 0), E_INVALIDARG);
    EXPECT_TRUE(temp.Files().empty());
    EXPECT_FALSE(program.WasStarted()) << "the program was started";
    EXPCMDSTATE state = ECS_HIDDEN;
    ASSERT_EQ(root->GetState(archive, TRUE, &state), S_OK);
    IEnumExplorerCommand* children = nullptr;
    ASSERT_EQ(root->EnumSubCommands(&children), S_OK);
    IExplorerCommand* commands[2] = {};
    ULONG fetched = 0;
    ASSERT_EQ(children->Next(2, commands, &fetched), S_OK);
    EXPECT_EQ(commands[1]->GetState(text, FALSE, &state), S_OK);
    EXPECT_EQ(state, DWORD(ECS_HIDDEN));
    Refused(commands[1]->Invoke(text, nullptr));
    Refused(commands[1]->Invoke(nullptr, nullptr));
    EXPECT_EQ(commands[1]->GetState(archive, FALSE, &state), S_OK);
    EXPECT_EQ(state, DWORD(ECS_ENABLED));
    EXPECT_EQ(Started(commands[1]->Invoke(archive, nullptr)).token, L"?UnpackHere?");
    for (IExplorerCommand* child : commands) child->Release();
    children->Release();
    root->Release();
    archive->Release();
    text->Release();
}

// A click reads the paths in one call, the array's data object's drop list,
// where the command runs (the COM Surrogate: each item read is two calls into
// Explorer); item by item when the array gives no data object or no drop list
// that names every item.
TEST_F(DispatchTest, CommandReadsTheArrayInOneCall) {
    using Data = TestItemArray::Data;
    const struct {
        const char* name;
        Data data;
        DWORD highest;  // the highest item read
    } cases[] = {
        {"a drop list", Data::kDropList, 0},
        {"no data object", Data::kNone, 999},
        {"a data object without a drop list", Data::kNoDropList, 999},
        {"a drop list short of one item", Data::kDropListShortOfOne, 999},
    };
    std::string expected;
    for (DWORD i = 0; i < 1000; ++i) expected += "C:\\Many\\file" + std::to_string(i) + ".txt*";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto* items = new TestItemArray(
            1000, [](DWORD i) { return L"C:\\Many\\file" + std::to_wstring(i) + L".txt"; }, SFGAO_FILESYSTEM, c.data);
        const Start start = Started(InvokeCommandAt(items, 1));
        EXPECT_EQ(start.list, expected);
        EXPECT_EQ(items->highestItem(), c.highest);
        items->Release();
    }
}

// From a process with a package's identity the program is created outside the
// package, by CreateProcessW: with the command line and the errors that the
// shell's start gives. Wine knows no desktop-app policy, so the same creation
// runs here without it; StartOutsidePackage adds the policy where Windows has it.
TEST_F(DispatchTest, StartOutsideThePackageAsTheShellStarts) {
    EXPECT_FALSE(HasPackageIdentity());
    const std::wstring parameters = L" ?Test? \"C:\\In\\list.txt\" \"NULL\"";
    auto created = [&](const std::wstring& exe) {
        std::wstring commandLine = ProgramCommandLine(exe, parameters);
        SetLastError(ERROR_SUCCESS);
        return CreateProgramProcess(commandLine, nullptr) ? ERROR_SUCCESS : GetLastError();
    };
    auto shell = [&](const std::wstring& exe) {
        SetLastError(ERROR_SUCCESS);
        const auto result = reinterpret_cast<INT_PTR>(
            ShellExecuteW(nullptr, L"open", exe.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL));
        return result > 32 ? ERROR_SUCCESS : GetLastError();
    };
    const std::wstring exe = Quote(program.dir() + L"\\TarnwickUnzip.exe");
    Record ours, theShells;
    ASSERT_EQ(created(exe), DWORD(ERROR_SUCCESS));
    ASSERT_TRUE(program.Wait(&ours));
    ASSERT_EQ(shell(exe), DWORD(ERROR_SUCCESS));
    ASSERT_TRUE(program.Wait(&theShells));
    EXPECT_EQ(ours.commandLine, theShells.commandLine);
    // A creation that fails is left to the shell, whose errors are then the user's.
    for (const wchar_t* missing : {L"\\gone\\TarnwickUnzip.exe", L"\\TarnwickUnzip2.exe"}) {
        SCOPED_TRACE(missing);
        const std::wstring path = Quote(program.dir() + missing);
        EXPECT_NE(created(path), DWORD(ERROR_SUCCESS));
        EXPECT_NE(shell(path), DWORD(ERROR_SUCCESS));
    }
    if (StartOutsidePackage(exe, parameters)) {
        ASSERT_TRUE(program.Wait(&ours));
        EXPECT_EQ(ours.commandLine, theShells.commandLine);
    } else {
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED)) << "the shell must start it instead";
    }
}

// Before any menu, no offset names an item: offset 0 ran "?Decompress?".
TEST_F(DispatchTest, NoMenuNoOffsets) {
    Select({scratch.File(L"notes.txt")}, false);
    Refused(InvokeOffset(handler, 0));
    Refused(InvokeOffset(handler, 1));
}

// A verb runs its own command with or without a menu, in both structures.
TEST_F(DispatchTest, EveryVerbWithoutAMenu) {
    const struct {
        const char* verb;
        const wchar_t* token;
    } verbs[] = {
        {"decompress", L"?Decompress?"}, {"compress", L"?Compress?"},   {"unpackhere", L"?UnpackHere?"},
        {"unpackto", L"?UnpackTo?"},     {"unpacktofolder", L"?UnpackToFolder?"},
        {"test", L"?Test?"},             {"zip", L"?Zip?"},             {"zipto", L"?ZipTo?"},
        {"zipwithmpw", L"?ZipWithMPW?"},
    };
    const std::wstring archive = scratch.File(L"Photos.zip");
    Select({archive}, false);
    for (const auto& v : verbs) {
        SCOPED_TRACE(v.verb);
        Start ansi = Started(InvokeVerbA(handler, v.verb, sizeof(CMINVOKECOMMANDINFO)));
        EXPECT_EQ(ansi.token, v.token);
        EXPECT_EQ(ansi.zipName, L"NULL");
        EXPECT_EQ(ansi.list, Latin1(archive) + "*");
        const std::wstring wide = Widen(v.verb);
        Start unicode = Started(InvokeVerbs(handler, "explore", wide.c_str(), sizeof(CMINVOKECOMMANDINFOEX), true));
        EXPECT_EQ(unicode.token, v.token);
    }
}

// Which verb counts: the wide one only in the extended structure (up to
// lpTitleW: 96 bytes and more on 64-bit Windows, 56 on x86) with
// CMIC_MASK_UNICODE; case never matters.
TEST_F(DispatchTest, VerbChoiceAndSize) {
    const DWORD base = sizeof(CMINVOKECOMMANDINFO);             // 56 (x86: 36)
    const DWORD ex = offsetof(CMINVOKECOMMANDINFOEX, ptInvoke);  // 96 (x86: 56)
    const struct {
        DWORD cbSize;
        bool unicode;
        const char* verbA;
        const wchar_t* verbW;
        const wchar_t* token;  // null: refused
    } cases[] = {
        {base, false, "TEST", nullptr, L"?Test?"},
        {base, true, "Test", L"unpackhere", L"?Test?"},
        {ex - 1, true, "test", L"UnpackHere", L"?Test?"},
        {ex, true, "test", L"UnpackHere", L"?UnpackHere?"},
        {ex, false, "test", L"UnpackHere", L"?Test?"},
        {ex, true, "unpackto", nullptr, L"?UnpackTo?"},
        {ex, true, nullptr, L"unpackhere", L"?UnpackHere?"},  // no ANSI verb: not offset 0
        {sizeof(CMINVOKECOMMANDINFOEX), true, "test", L"UNPACKHERE", L"?UnpackHere?"},
        {base - 1, false, "test", nullptr, nullptr},
        {base - 1, true, "test", L"test", nullptr},
        {ex, true, "test", L"explore", nullptr},
        {ex, true, "test", L"", nullptr},
        {base, false, "explore", nullptr, nullptr},
        {base, false, "", nullptr, nullptr},
        {base, false, "unpack", nullptr, nullptr},
        {base, false, "testx", nullptr, nullptr},
    };
    Select({scratch.File(L"Photos.zip")});
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cbSize << (c.unicode ? " unicode " : " ") << (c.verbA ? c.verbA : "(null)"));
        const HRESULT hr = InvokeVerbs(handler, c.verbA, c.verbW, c.cbSize, c.unicode);
        if (c.token)
            EXPECT_EQ(Started(hr).token, c.token);
        else
            Refused(hr);
    }
    Refused(InvokeOffset(handler, 0, base - 1));
}

// The zip menu's proposal stays the third argument for whatever runs next.
TEST_F(DispatchTest, VerbAfterTheZipMenu) {
    const std::wstring notes = scratch.File(L"notes.txt");
    Select({notes});
    Start start = Started(InvokeVerbA(handler, "unpackto"));
    EXPECT_EQ(start.token, L"?UnpackTo?");
    EXPECT_EQ(start.zipName, scratch.dir() + L"\\notes.zip");
}

TEST_F(DispatchTest, EmptySelectionDoesNothing) {
    handler = CreateHandler();
    ASSERT_NE(handler, nullptr);
    ASSERT_EQ(InitializeHandler(handler, nullptr), S_OK);
    EXPECT_EQ(InvokeVerbA(handler, "zip"), S_OK);
    EXPECT_TRUE(temp.Files().empty());
    EXPECT_FALSE(program.WasStarted()) << "the program was started";
}

// Latin-1 as single bytes; anything beyond as the item's short name.
TEST_F(DispatchTest, ListFileCarriesEveryName) {
    scratch.Folder(L"In");
    const std::wstring latin = scratch.File(L"In\\caf\u00e9.txt");
    const std::wstring cyrillic = scratch.File(L"In\\\u0416\u0443\u043A.txt");
    Select({latin, cyrillic});
    Start start = Started(InvokeVerbA(handler, "zip"));
    const std::string expectedFirst = Latin1(latin) + "*";
    ASSERT_EQ(start.list.compare(0, expectedFirst.size(), expectedFirst), 0);
    EXPECT_NE(start.list.find("caf\xE9.txt*"), std::string::npos);
    std::string second = start.list.substr(expectedFirst.size());
    ASSERT_FALSE(second.empty());
    ASSERT_EQ(second.back(), '*');
    second.pop_back();
    EXPECT_EQ(second.find('*'), std::string::npos);
    wchar_t longName[MAX_PATH];
    ASSERT_GT(GetLongPathNameW(Widen(second).c_str(), longName, MAX_PATH), 0u) << second;
    EXPECT_EQ(lstrcmpiW(longName, cyrillic.c_str()), 0);
}

// The folder is used as configured: a trailing backslash gives two in a row.
TEST_F(DispatchTest, FolderWithTrailingBackslash) {
    setting.Set(program.dir() + L"\\");
    Select({scratch.File(L"Photos.zip")});
    EXPECT_EQ(InvokeOffset(handler, 1), S_OK);
    Record record;
    ASSERT_TRUE(program.Wait(&record));
    const std::wstring expected = Quote(program.dir() + L"\\\\TarnwickUnzip.exe");
    EXPECT_EQ(record.commandLine.compare(0, expected.size(), expected), 0) << record.commandLine;
}

}  // namespace
