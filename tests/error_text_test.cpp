// The text of the error box, composed without showing it.
#include <gtest/gtest.h>

#include "error_box.h"
#include "support.h"

// error_box.cpp reads its format from the DLL's string table.
HINSTANCE ModuleInstance() noexcept { return LoadDll().module; }

namespace {

// The format of string 21 with its two %s filled in.
std::wstring Expected(const std::wstring& description, const std::wstring& item) {
    wchar_t format[512];
    LoadStringW(LoadDll().module, 21, format, ARRAYSIZE(format));
    std::wstring text = format;
    text.replace(text.find(L"%s"), 2, description);
    text.replace(text.find(L"%s", text.find(description) + description.size()), 2, item);
    return text;
}

struct Guarded {
    wchar_t message[kErrorMessageChars];
    wchar_t canary[16];
};

TEST(ErrorText, SystemDescriptionWithItsLineBreakThenTheItem) {
    const HRESULT code = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const std::wstring description = SystemText(code);
    ASSERT_FALSE(description.empty());
    ASSERT_EQ(description.back(), L'\n') << "the description is kept as the system gives it";
    wchar_t message[kErrorMessageChars];
    ASSERT_TRUE(ComposeErrorMessage(21, code, L"C:\\In\\a.zip", message));
    EXPECT_EQ(std::wstring(message), Expected(description, L"C:\\In\\a.zip"));
}

TEST(ErrorText, CodeWithoutDescriptionReadsUnknown) {
    wchar_t message[kErrorMessageChars];
    ASSERT_TRUE(ComposeErrorMessage(21, static_cast<HRESULT>(0x20001234), L"C:\\x", message));
    EXPECT_EQ(std::wstring(message), Expected(L"Unknown", L"C:\\x"));
}

// "%1" in a description is text: nothing was passed for it.
TEST(ErrorText, InsertsOfTheDescriptionStandAsWritten) {
    const HRESULT code = HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
    const std::wstring description = SystemText(code);
    ASSERT_NE(description.find(L"%1"), std::wstring::npos) << "this system's text has no insert";
    wchar_t message[kErrorMessageChars];
    ASSERT_TRUE(ComposeErrorMessage(21, code, L"C:\\x", message));
    EXPECT_EQ(std::wstring(message), Expected(description, L"C:\\x"));
}

TEST(ErrorText, NothingToShowWithoutFormatOrCode) {
    wchar_t message[kErrorMessageChars];
    EXPECT_FALSE(ComposeErrorMessage(21, S_OK, L"C:\\x", message));
    EXPECT_FALSE(ComposeErrorMessage(22, E_FAIL, L"C:\\x", message));  // no such string
}

TEST(ErrorText, LongItemIsCutAtTheBuffer) {
    Guarded guarded;
    for (wchar_t& c : guarded.canary) c = 0xCCCC;
    const std::wstring item = L"C:\\" + std::wstring(1000, L'p');
    ASSERT_TRUE(ComposeErrorMessage(21, E_FAIL, item.c_str(), guarded.message));
    EXPECT_EQ(wcslen(guarded.message), kErrorMessageChars - 1);
    const std::wstring expected = Expected(SystemText(E_FAIL), item);
    EXPECT_EQ(std::wstring(guarded.message), expected.substr(0, kErrorMessageChars - 1));
    for (wchar_t c : guarded.canary) EXPECT_EQ(c, 0xCCCC);
}

}  // namespace
