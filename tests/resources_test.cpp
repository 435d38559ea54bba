// What the binaries carry: the menu bitmaps, the texts, the version block and
// the manifests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"
#include "version.h"

namespace {

constexpr WORD kEnglishUS = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 0x0409
constexpr WORD kSwedish = MAKELANGID(LANG_SWEDISH, SUBLANG_SWEDISH);       // 0x041D

std::string ResourceText(HMODULE module, WORD id, LPCWSTR type) {
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!res) return {};
    HGLOBAL data = LoadResource(module, res);
    return std::string(static_cast<const char*>(LockResource(data)), SizeofResource(module, res));
}

TEST(Resources, MenuBitmapsHaveTheirSizeDepthAndOneLanguageEach) {
    struct Case {
        WORD id;
        WORD language;
        WORD otherLanguage;
        LONG size;
    } cases[] = {{1003, kEnglishUS, kSwedish, 16}, {1033, kSwedish, kEnglishUS, 13}};
    HMODULE dll = LoadDll().module;
    ASSERT_NE(dll, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        HRSRC res = FindResourceExW(dll, RT_BITMAP, MAKEINTRESOURCEW(c.id), c.language);
        ASSERT_NE(res, nullptr);
        EXPECT_EQ(FindResourceExW(dll, RT_BITMAP, MAKEINTRESOURCEW(c.id), c.otherLanguage), nullptr);
        auto* info = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(dll, res)));
        EXPECT_EQ(info->biWidth, c.size);
        EXPECT_EQ(info->biHeight, c.size);
        EXPECT_EQ(info->biBitCount, 24);
        EXPECT_EQ(info->biClrUsed, 0u);
        EXPECT_EQ(info->biCompression, static_cast<DWORD>(BI_RGB));

        // Found by number alone, whatever the user's language.
        HBITMAP bitmap = LoadBitmapW(dll, MAKEINTRESOURCEW(c.id));
        ASSERT_NE(bitmap, nullptr);
        BITMAP bm{};
        GetObjectW(bitmap, sizeof(bm), &bm);
        EXPECT_EQ(bm.bmWidth, c.size);
        EXPECT_EQ(bm.bmHeight, c.size);
        DeleteObject(bitmap);
    }
}

// The item bitmap's art: one 32-bpp image with alpha for each small-icon size
// from 100 to 300 % display scale.
TEST(Resources, MenuIconHasItsSizes) {
#pragma pack(push, 2)
    struct Entry {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    HMODULE dll = LoadDll().module;
    HRSRC res = FindResourceExW(dll, RT_GROUP_ICON, MAKEINTRESOURCEW(1040), kEnglishUS);
    ASSERT_NE(res, nullptr);
    auto* header = static_cast<const WORD*>(LockResource(LoadResource(dll, res)));
    ASSERT_EQ(header[1], 1);  // icons
    auto* entries = reinterpret_cast<const Entry*>(header + 3);
    std::vector<int> sizes;
    for (WORD i = 0; i < header[2]; ++i) {
        const Entry& e = entries[i];
        sizes.push_back(e.width);
        SCOPED_TRACE(e.width);
        EXPECT_EQ(e.height, e.width);
        EXPECT_EQ(e.bitCount, 32);
        HRSRC image = FindResourceW(dll, MAKEINTRESOURCEW(e.id), RT_ICON);
        ASSERT_NE(image, nullptr);
        auto* info = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(dll, image)));
        EXPECT_EQ(info->biWidth, e.width);
        EXPECT_EQ(info->biHeight, 2 * e.width);
        EXPECT_EQ(info->biBitCount, 32);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 40, 48}));
}

TEST(Resources, HelpTextsAndTheErrorFormat) {
    const std::pair<UINT, const wchar_t*> texts[] = {
        {30, L"Decompress this file"},
        {31, L"Compress selected files/folders"},
        {32, L"Decompress here"},
        {33, L"Decompress to a location of your choice"},
        {35, L"Test this file"},
        {36, L"Create zip from selected files/folders"},
        {37, L"Create zip in a location of yous choice"},
        {38, L"Create zip protected with the master password"},
        {39, L"Decompress to given folder"},
    };
    HMODULE dll = LoadDll().module;
    wchar_t buffer[512];
    for (auto [id, text] : texts) {
        ASSERT_GT(LoadStringW(dll, id, buffer, ARRAYSIZE(buffer)), 0) << id;
        EXPECT_STREQ(buffer, text);
    }
    EXPECT_EQ(LoadStringW(dll, 34, buffer, ARRAYSIZE(buffer)), 0);

    // The error box's format: two %s and nothing else that wsprintfW reads.
    ASSERT_GT(LoadStringW(dll, 21, buffer, ARRAYSIZE(buffer)), 0);
    std::wstring format = buffer;
    size_t first = format.find(L"%s");
    ASSERT_NE(first, std::wstring::npos);
    size_t second = format.find(L"%s", first + 2);
    ASSERT_NE(second, std::wstring::npos);
    EXPECT_EQ(std::count(format.begin(), format.end(), L'%'), 2);
}

// The fixed version is the product's x.y.z.0 in both binaries, so that each
// release's files are versioned higher than the last; the DLL's strings say 1.0.
TEST(Resources, VersionBlocks) {
    struct Case {
        std::wstring path;
        DWORD type;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> strings;
    } cases[] = {
        {DllPath(), VFT_DLL,
         {{L"FileDescription", L"CMD Context Menu Extension"},
          {L"FileVersion", L"1.0"},
          {L"InternalName", L"quillshell.dll"},
          {L"OriginalFilename", L"quillshell.dll"},
          {L"ProductName", L"QUILLSHELL"},
          {L"ProductVersion", L"1.0"}}},
        {RegToolPath(), VFT_APP,
         {{L"FileDescription", L"Quillshell registration tool"},
          {L"FileVersion", L"" QUILLSHELL_VERSION_TEXT},
          {L"OriginalFilename", L"quillshell64reg.exe"},
          {L"ProductName", L"Quillshell"},
          {L"ProductVersion", L"" QUILLSHELL_VERSION_TEXT}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path);
        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeW(c.path.c_str(), &handle);
        ASSERT_GT(size, 0u);
        std::string block(size, '\0');
        ASSERT_TRUE(GetFileVersionInfoW(c.path.c_str(), 0, size, block.data()));

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT len = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
        EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(QUILLSHELL_VERSION_MS));
        EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(QUILLSHELL_VERSION_LS));
        EXPECT_EQ(fixed->dwProductVersionMS, static_cast<DWORD>(QUILLSHELL_VERSION_MS));
        EXPECT_EQ(fixed->dwProductVersionLS, static_cast<DWORD>(QUILLSHELL_VERSION_LS));
        EXPECT_EQ(fixed->dwFileFlags, 0u);
        EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
        EXPECT_EQ(fixed->dwFileType, c.type);

        struct Translation {
            WORD language, codePage;
        }* translation = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &len));
        ASSERT_EQ(len, sizeof(Translation));
        EXPECT_EQ(translation->language, 0x0409);
        EXPECT_EQ(translation->codePage, 1252);

        for (auto [name, expected] : c.strings) {
            wchar_t* value = nullptr;
            std::wstring query = std::wstring(L"\\StringFileInfo\\040904e4\\") + name;
            ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &len)) << name;
            EXPECT_STREQ(value, expected);
        }
    }
}

TEST(Resources, ManifestsAskForNoElevation) {
    std::string manifest = ResourceText(LoadDll().module, 2, RT_MANIFEST);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);

    HMODULE tool = LoadLibraryExW(RegToolPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(tool, nullptr);
    manifest = ResourceText(tool, 1, RT_MANIFEST);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
    FreeLibrary(tool);
}

}  // namespace
