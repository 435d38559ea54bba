// ShowErrorMessage: the one report of a failure that the user sees.
#include "error_box.h"

#include <shlwapi.h>

#include "module.h"

bool ComposeErrorMessage(UINT nFormatId, HRESULT code, const wchar_t* text,
                         wchar_t (&message)[kErrorMessageChars]) noexcept {
    wchar_t format[512] = {};
    wchar_t description[256] = {};
    message[0] = L'\0';
    if (LoadStringW(ModuleInstance(), nFormatId, format, ARRAYSIZE(format)) <= 0) return false;
    if (code == 0) return false;
    // Some descriptions hold inserts (%1) of their own; nothing is passed for
    // them, so they must be left as they stand rather than read as arguments.
    // The description keeps the line break that ends it.
    if (!FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                        MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), description, ARRAYSIZE(description), nullptr))
        lstrcpynW(description, L"Unknown", ARRAYSIZE(description));
    // wsprintfW's bounded twin: a long path is cut, never written past the end.
    wnsprintfW(message, kErrorMessageChars, format, description, text ? text : L"");
    message[kErrorMessageChars - 1] = L'\0';
    return true;
}

void ShowErrorMessage(HWND hwnd, UINT nFormatId, HRESULT code, const wchar_t* text) noexcept {
    wchar_t message[kErrorMessageChars] = {};
    if (!ComposeErrorMessage(nFormatId, code, text, message)) return;
    // A box owned by the desktop leaves the folder window enabled: the user
    // could close it, or right-click again, while this call is still inside
    // the box. Owned by the window's top-level window, the box disables it.
    HWND owner = hwnd ? GetAncestor(hwnd, GA_ROOT) : nullptr;
    if (!owner) owner = GetDesktopWindow();
    // From the COM Surrogate the owner is another process's window, and a box
    // of ours may open behind it: MB_SETFOREGROUND brings it to the front.
    MessageBoxW(owner, message, L"QUILLSHELL", MB_ICONERROR | MB_SETFOREGROUND);
}
