// On Windows XP (major version 5) the items carry the 13x13 bitmap. Wine shows
// an older version to a program named in AppDefaults, read when the program
// starts: the test sets that up and runs itself again.
#include <gtest/gtest.h>

#include "shell_support.h"
#include "support.h"

namespace {

constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\menu_xp_test.exe";

bool SeesWindowsXP() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return LOBYTE(LOWORD(GetVersion())) == 5;
#pragma GCC diagnostic pop
}

TEST(MenuOnWindowsXP, ItemsCarryTheSmallBitmap) {
    if (!SeesWindowsXP()) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"winxp"), 12);
        RegCloseKey(key);
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        ProcessResult child = RunProcess(Quote(self) + L" --gtest_filter=MenuOnWindowsXP.*");
        RegDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
        EXPECT_EQ(child.exitCode, 0u) << child.out << child.err;
        EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
        return;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Scratch scratch;
    IContextMenu* handler = CreateHandler();
    IDataObject* data = ShellDataObject({scratch.File(L"notes.txt")});
    ASSERT_EQ(InitializeHandler(handler, data), S_OK);
    HMENU menu = CreatePopupMenu();
    EXPECT_EQ(handler->QueryContextMenu(menu, 0, 1, 100, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 4));
    std::vector<MenuEntry> entries = ReadMenu(menu);
    ASSERT_EQ(entries.size(), 5u);
    for (size_t i = 1; i < 4; ++i) {
        ASSERT_NE(entries[i].checked, nullptr);
        EXPECT_EQ(entries[i].checked, entries[i].unchecked);
        EXPECT_EQ(entries[i].checkedSize.cx, 13);
        EXPECT_EQ(entries[i].checkedSize.cy, 13);
        EXPECT_EQ(entries[i].item, nullptr);
    }
    DestroyMenu(menu);
    data->Release();
    handler->Release();
    CoUninitialize();
}

}  // namespace
