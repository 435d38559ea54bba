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
        if (std::wstring(c.path).find(L'\\') != std::wstring::npos) {
            EXPECT_EQ(util.GetFolderPath(c.path, true), c.folderWithSlash);
        }
        EXPECT_EQ(util.GetFileName(c.path), c.fileName);
        EXPECT_EQ(util.GetParentFolderName(c.path), c.parent);
        EXPECT_EQ(util.GetMissingBackslash(c.path), c.missing);
    }
    EXPECT_EQ(util.GetMissingBackslash(L""), L"\\");
    EXPECT_EQ(util.GetParentFolderName(L""), L"");  // no caller passes one; still no failure
}

// Without the prefix a path is read by the system's path rules: it loses its
// prefix only where it then names the same item and fits MAX_PATH.
TEST(Names, LongPathPrefix) {
    const std::wstring deep = L"C:\\" + std::wstring(255, L'd') + L"\\x";  // 260 characters
    const std::wstring fits = L"C:\\" + std::wstring(250, L'd') + L"\\x.zip";  // 259
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"\\\\?\\C:\\In\\a.zip", L"C:\\In\\a.zip"},
        {L"\\\\?\\c:\\", L"c:\\"},
        {L"\\\\?\\C:\\In\\Fotos\\", L"C:\\In\\Fotos\\"},
        {L"\\\\?\\UNC\\server\\share\\a.zip", L"\\\\server\\share\\a.zip"},
        {L"\\\\?\\unc\\server\\share", L"\\\\server\\share"},
        {L"\\\\?\\" + fits, fits},
        {L"\\\\?\\" + deep, L"\\\\?\\" + deep},  // MAX_PATH or more: only with the prefix
        {L"\\\\?\\C:\\In\\a.zip.", L"\\\\?\\C:\\In\\a.zip."},  // the rules strip a final dot
        {L"\\\\?\\C:\\In \\a.zip", L"\\\\?\\C:\\In \\a.zip"},  // and a final space
        {L"\\\\?\\C:\\In\\..\\a.zip", L"\\\\?\\C:\\In\\..\\a.zip"},
        {L"\\\\?\\C:\\In\\\\a.zip", L"\\\\?\\C:\\In\\\\a.zip"},
        {L"\\\\?\\C:\\In\\x/y.zip", L"\\\\?\\C:\\In\\x/y.zip"},
        {L"\\\\?\\C:\\In\\nul.zip", L"\\\\?\\C:\\In\\nul.zip"},  // a device name
        {L"\\\\?\\C:\\In\\COM1", L"\\\\?\\C:\\In\\COM1"},
        {L"\\\\?\\C:\\con\\a.zip", L"C:\\con\\a.zip"},  // only at the end
        {L"\\\\?\\Volume{0b1c}\\a.zip", L"\\\\?\\Volume{0b1c}\\a.zip"},
        {L"\\\\?\\UNC\\server", L"\\\\?\\UNC\\server"},
        {L"\\\\?\\UNC\\\\share\\a", L"\\\\?\\UNC\\\\share\\a"},
        {L"\\\\?\\C:a.zip", L"\\\\?\\C:a.zip"},
        {L"\\\\.\\C:\\a.zip", L"\\\\.\\C:\\a.zip"},
        {L"C:\\In\\a.zip", L"C:\\In\\a.zip"},
        {L"", L""},
    };
    for (const auto& [path, plain] : cases) {
        SCOPED_TRACE(testing::Message() << path.size() << " characters: " << path.substr(0, 40).c_str());
        EXPECT_EQ(util.WithoutLongPathPrefix(path), plain);
    }
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
