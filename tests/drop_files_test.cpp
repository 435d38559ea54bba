// The one-pass drop-list reader gives what DragQueryFileW gives per index;
// the ID-list and attribute readers never read past their block.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

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
        {"ansi", AnsiList({"C:\\a.txt", "C:\\caf\xe9.txt"}), false},
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

// A list that runs into the end of its block is read up to the block's end
// and no further: what would lie beyond comes back as one empty path. The
// blocks are as small as their bytes (DragQueryFileW would read past them).
TEST(DropFiles, ListsEndAtTheirEmptyStringOrInAnEmptyPathAtTheBlockEnd) {
    auto block = [](UINT pFiles, bool wide, std::vector<BYTE> list) {
        DROPFILES header{};
        header.pFiles = pFiles;
        header.fWide = wide;
        std::vector<BYTE> bytes(reinterpret_cast<BYTE*>(&header), reinterpret_cast<BYTE*>(&header + 1));
        bytes.insert(bytes.end(), list.begin(), list.end());
        return bytes;
    };
    auto cut = [](std::vector<BYTE> bytes, size_t n) {
        bytes.resize(bytes.size() - n);
        return bytes;
    };
    const std::vector<BYTE> two = WideList({L"C:\\a", L"C:\\b"});
    const UINT start = sizeof(DROPFILES);
    struct Case {
        const char* name;
        std::vector<BYTE> bytes;
        std::vector<std::wstring> paths;
    } cases[] = {
        {"whole", block(start, true, two), {L"C:\\a", L"C:\\b"}},
        // An empty first string ends the list; Wine's DragQueryFileW counts it as an item.
        {"empty list", block(start, true, {0, 0}), {}},
        {"ansi, empty list", block(start, false, {0}), {}},
        {"empty first item", block(start, true, WideList({L"", L"C:\\b"})), {}},
        {"last item unterminated", block(start, true, cut(two, 4)), {L"C:\\a", L""}},
        {"no final empty string", block(start, true, cut(two, 2)), {L"C:\\a", L"C:\\b", L""}},
        {"half a character at the end", block(start, true, cut(two, 1)), {L"C:\\a", L"C:\\b", L""}},
        {"ansi, no final empty string", block(start, false, cut(AnsiList({"C:\\a"}), 1)), {L"C:\\a", L""}},
        {"offset at the block's end", block(start + UINT(two.size()), true, two), {L""}},
        {"offset far out", block(0xFFFFFFF0u, true, two), {L""}},
        {"header only", block(start, true, {}), {L""}},
        {"short of a header", cut(block(start, true, {}), 1), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HGLOBAL h = GlobalCopy(c.bytes);
        ASSERT_EQ(GlobalSize(h), c.bytes.size());
        EXPECT_EQ(ReadDropFiles(h), c.paths);
        GlobalFree(h);
    }
}

void PutUint(std::vector<BYTE>& bytes, size_t at, UINT value) { std::memcpy(bytes.data() + at, &value, sizeof(value)); }

// Offsets and lengths in a CIDA are the data object's word: every one that
// points or runs past the block gives an empty path (an invalid selection),
// never a read beyond it.
TEST(IdLists, ItemsOutsideTheBlockGiveNoPath) {
    Scratch scratch;
    const std::wstring a = scratch.File(L"a.zip"), b = scratch.File(L"b.txt");
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    const std::vector<BYTE> good = IdListOf({a, b});
    ASSERT_FALSE(good.empty());
    UINT bOffset = 0;
    std::memcpy(&bOffset, good.data() + 3 * sizeof(UINT), sizeof(bOffset));
    const size_t size = good.size();
    auto with = [&](auto change) {
        std::vector<BYTE> bytes = good;
        change(bytes);
        return bytes;
    };
    struct Case {
        const char* name;
        std::vector<BYTE> bytes;
        std::vector<std::wstring> paths;
    } cases[] = {
        {"whole", good, {a, b}},
        {"no bytes", {}, {}},
        {"count only", {1, 0, 0}, {}},
        {"no items", with([](std::vector<BYTE>& v) { PutUint(v, 0, 0); }), {}},
        {"offsets past the block", with([](std::vector<BYTE>& v) { PutUint(v, 0, 0x40000000); }), {}},
        {"item offset at the end", with([&](std::vector<BYTE>& v) { PutUint(v, 12, UINT(size)); }), {a, L""}},
        {"item offset far out", with([](std::vector<BYTE>& v) { PutUint(v, 12, 0xFFFFFFF0u); }), {a, L""}},
        {"parent offset out", with([&](std::vector<BYTE>& v) { PutUint(v, 4, UINT(size - 1)); }), {L"", L""}},
        {"item without its terminator", with([](std::vector<BYTE>& v) { v.resize(v.size() - 2); }), {a, L""}},
        {"length past the block", with([&](std::vector<BYTE>& v) { v[bOffset] = 0xFF; v[bOffset + 1] = 0xFF; }),
         {a, L""}},
        {"length of one byte", with([&](std::vector<BYTE>& v) { v[bOffset] = 1; v[bOffset + 1] = 0; }), {a, L""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HGLOBAL block = GlobalCopy(c.bytes);
        EXPECT_EQ(ReadIdListPaths(block), c.paths);
        GlobalFree(block);
    }
    CoUninitialize();
}

TEST(IdLists, AttributesOnlyForTheRightCount) {
    const std::vector<DWORD> two = {FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_ARCHIVE};
    struct Case {
        const char* name;
        std::vector<BYTE> bytes;
        size_t items;
        std::vector<DWORD> attributes;
    } cases[] = {
        {"two", AttributesBlock(two, 2), 2, two},
        {"other count", AttributesBlock(two, 2), 1, {}},
        {"count above the block", AttributesBlock(two, 3), 3, {}},
        {"short block", {2, 0, 0, 0, 0x10, 0}, 2, {}},
        {"no items", AttributesBlock({}, 0), 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HGLOBAL block = GlobalCopy(c.bytes);
        EXPECT_EQ(ReadFileAttributes(block, c.items), c.attributes);
        GlobalFree(block);
    }
}

}  // namespace
