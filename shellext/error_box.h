// The one report of a failure that the user sees.
#pragma once

#include <windows.h>

constexpr size_t kErrorMessageChars = 512;  // the composed message, terminator included

// Composes the message of the error box: string nFormatId of the DLL with two
// %s, the system's description of code (or "Unknown"), then text. Cut to fit,
// never overflowing. False when no box is to be shown: the format is missing
// or the code is 0.
bool ComposeErrorMessage(UINT nFormatId, HRESULT code, const wchar_t* text,
                         wchar_t (&message)[kErrorMessageChars]) noexcept;

// Shows that message in a modal box owned by the top-level window of hwnd (by
// the desktop when hwnd is null), which is disabled while the box is up;
// returns when the user has closed it, or at once when there is nothing to show.
void ShowErrorMessage(HWND hwnd, UINT nFormatId, HRESULT code, const wchar_t* text) noexcept;
