// Verbs and help texts of the menu items, and what GetCommandString may write.
#include <gtest/gtest.h>

#include <algorithm>

#include "shell_support.h"
#include "support.h"

namespace {

constexpr UINT kFirst = 100;

struct Item {
    const wchar_t* verb;
    const wchar_t* help;
};

const std::vector<Item> kArchiveItems = {
    {L"unpackto", L"Decompress to a location of your choice"},
    {L"unpackhere", L"Decompress here"},
    {L"unpacktofolder", L"Decompress to given folder"},
    {L"test", L"Test this file"},
};
const std::vector<Item> kZipItems = {
    {L"zipto", L"Create zip in a location of yous choice"},
    {L"zip", L"Create zip from selected files/folders"},
    {L"zipwithmpw", L"Create zip protected with the master password"},
};

// The ANSI requests, and types no system defines.
constexpr UINT kOtherTypes[] = {GCS_VERBA, GCS_HELPTEXTA, GCS_VALIDATEA, 3, 7};

constexpr wchar_t kCanary = 0xCCCC;
constexpr UINT kGuard = 8;

// The caller's buffer of cchMax characters with canaries on both sides.
struct Buffer {
    explicit Buffer(UINT cchMax) : cch(cchMax), data(cchMax + 2 * kGuard, kCanary) {}
    CHAR* get() { return reinterpret_cast<CHAR*>(data.data() + kGuard); }
    std::wstring text() const { return std::wstring(data.data() + kGuard); }
    bool Untouched() const {
        return std::all_of(data.begin(), data.end(), [](wchar_t c) { return c == kCanary; });
    }
    // Nothing outside the caller's cch characters changed.
    bool GuardsIntact() const {
        for (UINT i = 0; i < kGuard; ++i)
            if (data[i] != kCanary || data[kGuard + cch + i] != kCanary) return false;
        return true;
    }
    UINT cch;
    std::vector<wchar_t> data;
};

class VerbsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
    void TearDown() override {
        if (handler) handler->Release();
        EXPECT_EQ(LoadDll().canUnloadNow(), S_OK) << "an object leaked";
        CoUninitialize();
    }

    // A handler with the menu of one item on disk built.
    void RightClick(const std::wstring& name, bool buildMenu = true) {
        const std::wstring path = scratch.File(name);
        IDataObject* data = ShellDataObject({path});
        ASSERT_NE(data, nullptr);
        handler = CreateHandler();
        ASSERT_NE(handler, nullptr);
        ASSERT_EQ(InitializeHandler(handler, data), S_OK);
        data->Release();
        if (!buildMenu) return;
        HMENU menu = HostMenu(0);
        ASSERT_TRUE(SUCCEEDED(handler->QueryContextMenu(menu, 0, kFirst, kFirst + 100, CMF_NORMAL)));
        DestroyMenu(menu);
    }

    HRESULT Get(UINT_PTR offset, UINT type, Buffer& buffer) {
        return handler->GetCommandString(offset, type, nullptr, buffer.get(), buffer.cch);
    }

    // Every request type, every offset and every length from 0 to 20.
    void CheckAllRequests(const std::vector<Item>& items) {
        for (UINT_PTR offset = 0; offset < items.size() + 3; ++offset) {
            const bool exists = offset < items.size();
            for (UINT cch = 0; cch <= 20; ++cch) {
                SCOPED_TRACE(testing::Message() << "offset " << offset << ", cchMax " << cch);
                Buffer verb(cch), help(cch), validate(cch);
                const HRESULT verbHr = Get(offset, GCS_VERBW, verb);
                const HRESULT helpHr = Get(offset, GCS_HELPTEXTW, help);
                EXPECT_EQ(Get(offset, GCS_VALIDATEW, validate), exists ? S_OK : E_INVALIDARG);
                EXPECT_TRUE(validate.Untouched());
                for (UINT type : kOtherTypes) {
                    Buffer other(cch);
                    EXPECT_EQ(Get(offset, type, other), E_INVALIDARG) << "type " << type;
                    EXPECT_TRUE(other.Untouched());
                }
                if (!exists || cch == 0) {
                    EXPECT_EQ(verbHr, E_INVALIDARG);
                    EXPECT_EQ(helpHr, E_INVALIDARG);
                    EXPECT_TRUE(verb.Untouched());
                    EXPECT_TRUE(help.Untouched());
                    continue;
                }
                const std::wstring fullVerb = items[offset].verb, fullHelp = items[offset].help;
                if (fullVerb.size() < cch) {
                    EXPECT_EQ(verbHr, S_OK);
                    EXPECT_EQ(verb.text(), fullVerb);
                    EXPECT_TRUE(verb.GuardsIntact());
                } else {  // a verb is never cut
                    EXPECT_EQ(verbHr, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
                    EXPECT_TRUE(verb.Untouched());
                }
                EXPECT_EQ(helpHr, S_OK);
                EXPECT_EQ(help.text(), fullHelp.substr(0, cch - 1));
                EXPECT_TRUE(help.GuardsIntact());
            }
        }
    }

    Scratch scratch;
    IContextMenu* handler = nullptr;
};

TEST_F(VerbsTest, ArchiveMenu) {
    RightClick(L"Photos.zip");
    CheckAllRequests(kArchiveItems);
}

TEST_F(VerbsTest, ZipMenu) {
    RightClick(L"notes.txt");
    CheckAllRequests(kZipItems);
}

TEST_F(VerbsTest, LongBuffersGetTheWholeText) {
    RightClick(L"Photos.zip");
    for (UINT_PTR offset = 0; offset < kArchiveItems.size(); ++offset) {
        Buffer verb(256), help(256);
        EXPECT_EQ(Get(offset, GCS_VERBW, verb), S_OK);
        EXPECT_EQ(verb.text(), kArchiveItems[offset].verb);
        EXPECT_EQ(Get(offset, GCS_HELPTEXTW, help), S_OK);
        EXPECT_EQ(help.text(), kArchiveItems[offset].help);
    }
}

// Before any menu no offset names an item, offset 0 included.
TEST_F(VerbsTest, NoMenuNoItems) {
    RightClick(L"Photos.zip", false);
    CheckAllRequests({});
}

TEST_F(VerbsTest, NullBufferIsRefused) {
    RightClick(L"Photos.zip");
    EXPECT_EQ(handler->GetCommandString(0, GCS_VERBW, nullptr, nullptr, 20), E_INVALIDARG);
    EXPECT_EQ(handler->GetCommandString(0, GCS_HELPTEXTW, nullptr, nullptr, 20), E_INVALIDARG);
    EXPECT_EQ(handler->GetCommandString(0, GCS_VALIDATEW, nullptr, nullptr, 0), S_OK);
}

}  // namespace
