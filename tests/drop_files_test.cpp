// The one-pass drop-list reader gives what DragQueryFileW gives per index.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include "drop_files.h"
#include "shell_support.h"

namespace {

std::vector<std::wstring> PerIndex(HGLOBAL block) {
    const UINT count = DragQueryFileW(static_cast<HDROP>(block), 0xFFFFFFFF, nullptr, 0);
    std::vector<std::wstring> paths;
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(static_cast<HDROP>(block), i, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        DragQueryFileW(static_cast<HDROP>(block), i, path.data(), length + 1);
        path.resize(length);
        paths.push_back(path);
    }
    return paths;
}

TEST(DropFiles, SameAsThePlatformPerIndex) {
    const std::wstring longPath = L"C:\\" + std::wstring(700, L'n') + L".txt";
    struct Case {
        const char* name;
        std::vector<BYTE> list;
        bool wide;
    } cases[] = {
        {"one wide", WideList({L"C:\\In\\a.zip"}), true},
        {"several wide", WideList({L"C:\\a", L"C:\\b\\", L"\\\\server\\share\\c", longPath}), true},
        {"non-latin", WideList({L"C:\\\u00e9t\u00e9\\\u65e5\u672c.txt"}), true},
        {"empty list", {0, 0, 0, 0}, true},
        {"empty first item", WideList({L"", L"C:\\b"}), true},
        {"ansi", AnsiList({"C:\\a.txt", "C:\\caf\xe9.txt"}), false},
        {"ansi empty", {0, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HGLOBAL block = MakeDropBlock(c.list, c.wide);
        EXPECT_EQ(ReadDropFiles(block), PerIndex(block));
        GlobalFree(block);
    }
}

TEST(DropFiles, ManyItemsInOrder) {
    std::vector<std::wstring> paths;
    for (int i = 0; i < 20000; ++i) paths.push_back(L"C:\\In\\file" + std::to_wstring(i) + L".txt");
    HGLOBAL block = MakeDropBlock(WideList(paths), true);
    EXPECT_EQ(ReadDropFiles(block), paths);
    GlobalFree(block);
}

// A list whose last string runs into the end of the block is not read past
// the block: that item comes back empty.
TEST(DropFiles, UnterminatedItemIsEmpty) {
    std::vector<BYTE> list = WideList({L"C:\\a", L"C:\\b"});
    list.resize(list.size() - 4);  // cut the final terminators
    HGLOBAL block = MakeDropBlock(list, true);
    std::vector<std::wstring> paths = ReadDropFiles(block);
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths[0], L"C:\\a");
    if (paths.size() > 1) EXPECT_EQ(paths[1], L"");
    GlobalFree(block);
}

}  // namespace
