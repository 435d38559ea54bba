// quillshell64reg: what it writes and removes, its exit codes, and COM
// finding the DLL through that registration.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "support.h"

namespace {

const std::wstring kClassKey = L"CLSID\\{7D3B2E91-4C6A-4F1E-9A27-5B8C0D4E6F13}";
const std::wstring kServerKey = kClassKey + L"\\InProcServer32";
const std::wstring kMachineClassKey = L"SOFTWARE\\Classes\\" + kClassKey;
const std::wstring kMachineServerKey = L"SOFTWARE\\Classes\\" + kServerKey;

// The tool's own encoding of a path: "_" for a space, "?" for an underscore.
std::wstring Encode(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'_') c = L'?';
    for (wchar_t& c : path)
        if (c == L' ') c = L'_';
    return path;
}

ProcessResult RegTool(const std::wstring& args) { return RunProcess(Quote(RegToolPath()) + L" " + args); }

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        DeleteTree(HKEY_LOCAL_MACHINE, kMachineClassKey);
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Classes\\" + kClassKey);
    }
    // The machine's key. Without a per-user class key the tool's write through
    // HKEY_CLASSES_ROOT lands in this same key (on Windows by the merged
    // view's rule, under Wine always), so it cannot be told apart here.
    static void ExpectServer(const std::wstring& path) {
        std::wstring value, model;
        ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kMachineServerKey, nullptr, &value)) << "no server key";
        EXPECT_EQ(value, path);
        ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kMachineServerKey, L"ThreadingModel", &model));
        EXPECT_EQ(model, L"Apartment");
    }
};

TEST_F(RegistrationTest, InstallDecodesThePathAndOverwrites) {
    ProcessResult r = RegTool(L"C:\\Program_Files\\Tools\\x?y.dll");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    ExpectServer(L"C:\\Program Files\\Tools\\x_y.dll");

    // Real spaces in a quoted argument stay; a second install overwrites.
    r = RegTool(Quote(L"C:\\Program Files\\q.dll"));
    EXPECT_EQ(r.exitCode, 0u);
    ExpectServer(L"C:\\Program Files\\q.dll");

    // Only the exact lower-case word removes.
    for (const wchar_t* word : {L"Uninstall", L"UNINSTALL", L"remove"}) {
        r = RegTool(std::wstring(L"C:\\a_b.dll ") + word);
        EXPECT_EQ(r.exitCode, 0u) << word;
        ExpectServer(L"C:\\a b.dll");
    }
}

TEST_F(RegistrationTest, NoPathIsAUsageErrorAndTouchesNothing) {
    ASSERT_EQ(RegTool(L"C:\\good.dll").exitCode, 0u);
    for (const wchar_t* args : {L"", L"\"\"", L"\"\" uninstall"}) {
        ProcessResult r = RegTool(args);
        EXPECT_EQ(r.exitCode, 2u) << "args: " << args;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        ExpectServer(L"C:\\good.dll");
    }
}

TEST_F(RegistrationTest, UninstallRemovesTheClassKeyAndIsQuietWhenNothingIsThere) {
    ASSERT_EQ(RegTool(L"C:\\q.dll").exitCode, 0u);
    ProcessResult r = RegTool(L"C:\\q.dll uninstall");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClassKey));

    r = RegTool(L"C:\\q.dll uninstall");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.err, "");
}

TEST_F(RegistrationTest, UninstallLeavesAClassKeyThatHoldsOtherKeys) {
    ASSERT_EQ(RegTool(L"C:\\q.dll").exitCode, 0u);
    HKEY other = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kMachineClassKey + L"\\Other").c_str(), 0, nullptr, 0, KEY_WRITE,
                              nullptr, &other, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(other);

    ProcessResult r = RegTool(L"C:\\q.dll uninstall");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMachineServerKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMachineClassKey + L"\\Other"));
}

// A volatile class key cannot hold the non-volatile server key: the create
// fails and the tool must say so instead of reporting success.
TEST_F(RegistrationTest, AKeyThatCannotBeCreatedIsAnError) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMachineClassKey.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);

    ProcessResult r = RegTool(L"C:\\q.dll");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("InProcServer32"), std::string::npos) << r.err;
    // One line: nothing was tried under the second root after the first failed.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST_F(RegistrationTest, ComCreatesTheHandlerThroughTheToolsRegistration) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_EQ(RegTool(Encode(DllPath())).exitCode, 0u);
    ExpectServer(DllPath());

    IContextMenu* menu = nullptr;
    ASSERT_EQ(CoCreateInstance(kHandlerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                               reinterpret_cast<void**>(&menu)),
              S_OK);
    IShellExtInit* init = nullptr;
    EXPECT_EQ(menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    if (init) init->Release();
    EXPECT_EQ(menu->Release(), 0u);

    ASSERT_EQ(RegTool(L"x uninstall").exitCode, 0u);
    menu = nullptr;
    EXPECT_EQ(CoCreateInstance(kHandlerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                               reinterpret_cast<void**>(&menu)),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();
}

}  // namespace
