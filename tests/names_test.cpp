// The name and path operations behind the archive test and the captions.
#include <gtest/gtest.h>

#include "shell_support.h"
#include "shell_util.h"

namespace {

const CShellUtil util;

struct NameCase {
    const wchar_t* path;
    const wchar_t* extension;
    const wchar_t* baseName;
    const wchar_t* extractFolder;
};

TEST(Names, ExtensionBaseNameAndExtractFolder) {
    const NameCase cases[] = {
        {L"C:\\In\\Photos.ZIP", L"zip", L"C:\\In\\Photos", L"Photos"},
        {L"C:\\In\\disk.001", L"001", L"C:\\In\\disk", L"disk"},
        {L"C:\\In\\Backup.part02.rar", L"rar", L"C:\\In\\Backup.part02", L"Backup"},
        {L"C:\\In\\Backup.PART1.RAR", L"rar", L"C:\\In\\Backup.PART1", L"Backup"},
        {L"C:\\In\\Backup.part12345.rar", L"rar", L"C:\\In\\Backup.part12345", L"Backup.part12345"},
        {L"C:\\In\\a.tar.zip", L"zip", L"C:\\In\\a.tar", L"a.tar"},
        {L"C:\\In\\old.rar", L"rar", L"C:\\In\\old", L"old"},
        {L"C:\\In\\readme", L"", L"C:\\In\\readme", L"readme"},
        {L"C:\\In\\name.", L"", L"C:\\In\\name", L"name"},
        {L"C:\\my.docs\\readme", L"docs\\readme", L"C:\\my", L"my"},  // the last dot anywhere counts
        {L"C:\\In\\ notes .txt", L"txt", L"C:\\In\\ notes", L" notes"},
        {L"C:\\In\\.part1.rar", L"rar", L"C:\\In\\.part1", L""},
        {L"C:\\In\\X.\u00C4Z", L"\u00C4z", L"C:\\In\\X", L"X"},  // only A-Z fold
        {L"  padded \t", L"", L"padded", L"padded"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(util.GetExtension(c.path), c.extension);
        EXPECT_EQ(util.GetBaseName(c.path), c.baseName);
        EXPECT_EQ(util.GetExtractFolderName(c.path), c.extractFolder);
    }
}

TEST(Names, RarVolumes) {
    for (const wchar_t* yes : {L"Backup.part1.rar", L"Backup.PART01.RAR", L"x.part001.rar", L"x.part0001.rar",
                               L"a.part1.rar", L".part1.rar", L"C:\\In\\Backup.part9.rar"})
        EXPECT_TRUE(util.IsRarVolumeName(yes)) << yes;
    for (const wchar_t* no : {L"Backup.part12345.rar", L"Backup.rar", L"Backup.part1.zip", L"Backup.partA.rar",
                              L"Backup.part.rar", L"part1.rar", L"", L"x.part\u0661.rar"})
        EXPECT_FALSE(util.IsRarVolumeName(no)) << no;
}

TEST(Names, FoldersAndFileNames) {
    struct {
        const wchar_t* path;
        const wchar_t* folder;
        const wchar_t* folderWithSlash;
        const wchar_t* fileName;
        const wchar_t* parent;
        const wchar_t* missing;
    } cases[] = {
        {L"C:\\In\\a.txt", L"C:\\In", L"C:\\In\\", L"a.txt", L"In", L"\\"},
        {L"C:\\a.txt", L"C:", L"C:\\", L"a.txt", L"C:", L"\\"},
        {L"C:\\Data\\Photos\\", L"C:\\Data\\Photos", L"C:\\Data\\Photos\\", L"", L"Data", L""},
        {L"\\\\server\\share\\dir\\a.txt", L"\\\\server\\share\\dir", L"\\\\server\\share\\dir\\", L"a.txt", L"dir",
         L"\\"},
        {L"a/b.txt", L"", L"a", L"a/b.txt", L"", L"\\"},  // "/" is an ordinary character
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(util.GetFolderPath(c.path, false), c.folder);
        if (std::wstring(c.path).find(L'\\') != std::wstring::npos)
            EXPECT_EQ(util.GetFolderPath(c.path, true), c.folderWithSlash);
        EXPECT_EQ(util.GetFileName(c.path), c.fileName);
        EXPECT_EQ(util.GetParentFolderName(c.path), c.parent);
        EXPECT_EQ(util.GetMissingBackslash(c.path), c.missing);
    }
    EXPECT_EQ(util.GetMissingBackslash(L""), L"\\");
    EXPECT_EQ(util.GetParentFolderName(L""), L"");  // no caller passes one; still no failure
}

TEST(Names, IsDirectoryAsksTheFileSystem) {
    Scratch scratch;
    const std::wstring folder = scratch.Folder(L"Archive.zip");
    const std::wstring file = scratch.File(L"a.txt");
    EXPECT_TRUE(util.IsDirectory(folder));
    EXPECT_TRUE(util.IsDirectory(folder + L"\\"));
    EXPECT_FALSE(util.IsDirectory(file));
    EXPECT_FALSE(util.IsDirectory(scratch.dir() + L"\\missing"));
    EXPECT_FALSE(util.IsDirectory(L""));
}

}  // namespace
