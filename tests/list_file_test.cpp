// The list file: where it goes, its name and its bytes.
#include <gtest/gtest.h>

#include "command_support.h"
#include "shell_util.h"

namespace {

class ListFileTest : public ::testing::Test {
protected:
    std::wstring Write(const std::vector<std::wstring>& files) { return util.WriteSelectionList(files, &failure); }

    PrivateTemp temp;
    CShellUtil util;
    CShellUtil::ListFileFailure failure;
};

TEST_F(ListFileTest, OneBytePerCharacterAndAStarAfterEachEntry) {
    const std::vector<std::wstring> files = {L"C:\\In\\a.zip", L"C:\\In\\Fotos", L"C:\\In\\caf\u00e9 \u00ff\u0080.txt"};
    const std::wstring path = Write(files);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(failure.code, 0);

    ASSERT_EQ(path.compare(0, temp.dir().size(), temp.dir()), 0) << "not in the temp folder";
    EXPECT_TRUE(IsListFileName(path.substr(temp.dir().size())));
    EXPECT_EQ(path.find_first_of(L"{}"), std::wstring::npos);

    // Latin-1 bytes whatever the ANSI code page: no UTF-8, no BOM, no line break.
    EXPECT_EQ(ReadBytes(path), std::string("C:\\In\\a.zip*C:\\In\\Fotos*C:\\In\\caf\xE9 \xFF\x80.txt*"));
}

TEST_F(ListFileTest, EveryCallMakesAFileOfItsOwn) {
    const std::vector<std::wstring> files = {L"C:\\a"};
    const std::wstring first = Write(files), second = Write(files);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(ReadBytes(first), "C:\\a*");
    EXPECT_EQ(ReadBytes(second), "C:\\a*");
    EXPECT_EQ(temp.Files().size(), 2u);
}

TEST_F(ListFileTest, EmptySelectionWritesNothing) {
    EXPECT_EQ(Write({}), L"");
    EXPECT_EQ(failure.code, 0);
    EXPECT_TRUE(temp.Files().empty());
}

TEST_F(ListFileTest, LargeSelectionKeepsItsOrder) {
    std::vector<std::wstring> files;
    std::string expected;
    for (int i = 0; i < 100000; ++i) {
        files.push_back(L"C:\\Data\\photo" + std::to_wstring(i) + L".jpg");
        expected += "C:\\Data\\photo" + std::to_string(i) + ".jpg*";
    }
    const std::wstring path = Write(files);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(ReadBytes(path), expected);
}

// A character above U+00FF has no byte of its own: written as it stood, the
// entry would be cut or mangled. The item's short name takes its place.
TEST_F(ListFileTest, NameBeyondLatin1IsWrittenAsItsShortName) {
    const std::wstring folder = NewFolder(temp.dir(), L"In");
    const std::wstring wide = folder + L"\\\u0416\u0443\u043A \u20AC.zip";
    ASSERT_TRUE(WriteBytes(wide, "PK"));
    const std::wstring path = Write({L"C:\\first", wide, L"C:\\last"});
    ASSERT_FALSE(path.empty());

    const std::string bytes = ReadBytes(path);
    ASSERT_EQ(bytes.compare(0, 9, "C:\\first*"), 0);
    ASSERT_GE(bytes.size(), 9u + 8u);
    ASSERT_EQ(bytes.substr(bytes.size() - 8), "C:\\last*");
    const std::string middle = bytes.substr(9, bytes.size() - 17);
    ASSERT_FALSE(middle.empty());
    ASSERT_EQ(middle.back(), '*');
    EXPECT_EQ(std::count(middle.begin(), middle.end(), '*'), 1);

    // The written name opens the same file.
    std::wstring shortName;
    for (char c : middle.substr(0, middle.size() - 1)) shortName += static_cast<wchar_t>(static_cast<unsigned char>(c));
    wchar_t longName[MAX_PATH];
    ASSERT_GT(GetLongPathNameW(shortName.c_str(), longName, MAX_PATH), 0u) << "no such item: " << shortName;
    EXPECT_EQ(lstrcmpiW(longName, wide.c_str()), 0);
}

TEST_F(ListFileTest, NameWithoutShortFormWritesNoFileAndNamesThePath) {
    // The short form needs the item on disk; this one is not there.
    const std::wstring wide = temp.dir() + L"gone \u0416.zip";
    EXPECT_EQ(Write({L"C:\\a.txt", wide}), L"");
    EXPECT_EQ(failure.code, HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(failure.path, wide);
    EXPECT_TRUE(temp.Files().empty());
}

// The reader keeps paths below MAX_PATH: the temp folder with its backslash
// may take 219 characters, since the name adds 40.
TEST_F(ListFileTest, FullPathMustStayBelowMaxPath) {
    std::wstring longest = temp.dir();
    longest.resize(218, L'x');
    ASSERT_TRUE(CreateDirectoryW(longest.c_str(), nullptr));
    longest += L'\\';
    ASSERT_EQ(longest.size(), 219u);
    std::wstring tooLong = longest.substr(0, 218);
    tooLong.back() = L'y';
    tooLong += L"z";
    ASSERT_TRUE(CreateDirectoryW(tooLong.c_str(), nullptr));
    tooLong += L'\\';
    ASSERT_EQ(tooLong.size(), 220u);

    SetEnvironmentVariableW(L"TMP", longest.c_str());
    const std::wstring path = Write({L"C:\\a"});
    EXPECT_EQ(path.size(), 259u);
    EXPECT_EQ(ReadBytes(path), "C:\\a*");

    SetEnvironmentVariableW(L"TMP", tooLong.c_str());
    EXPECT_EQ(Write({L"C:\\a"}), L"");
    EXPECT_EQ(failure.code, HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((tooLong + L"*.txt").c_str(), &data);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "a list file was left behind";
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    SetEnvironmentVariableW(L"TMP", temp.dir().c_str());
}

}  // namespace
