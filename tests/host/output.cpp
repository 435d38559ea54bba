// Lines on stdout: the console's own wide output when there is a console,
// UTF-8 bytes when stdout is a file or a pipe (as under the test wrapper).
#include "host.h"

#include <cwchar>

void Say(const std::wstring& line) {
    const std::wstring text = line + L"\n";
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0, mode = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    if (n <= 0) return;
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring Hex(unsigned value) {
    wchar_t buffer[16];
    swprintf(buffer, ARRAYSIZE(buffer), L"0x%08X", value);
    return buffer;
}

std::wstring HrText(HRESULT hr) {
    std::wstring text = Hex(static_cast<unsigned>(hr));
    wchar_t message[256] = L"";
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(hr), 0, message, ARRAYSIZE(message), nullptr);
    while (n > 0 && (message[n - 1] == L'\r' || message[n - 1] == L'\n' || message[n - 1] == L' ' ||
                     message[n - 1] == L'.'))
        --n;
    if (n > 0) text += L" (" + std::wstring(message, n) + L")";
    return text;
}

std::wstring GuidText(REFGUID guid) {
    wchar_t buffer[40] = L"";
    StringFromGUID2(guid, buffer, ARRAYSIZE(buffer));
    return buffer;
}
