// The start of TarnwickUnzip.exe by the shell, as it always was started; the
// start outside our package is outside_package.cpp's.
#include "program_start.h"

#include <shellapi.h>

// The shell's execute function, as the program was always started.
UINT_PTR StartWithShell(HWND owner, const std::wstring& program, const std::wstring& parameters, bool noUI) {
    if (!noUI)
        return reinterpret_cast<UINT_PTR>(
            ShellExecuteW(owner, L"open", program.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL));
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = L"open";
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&info);
    return reinterpret_cast<UINT_PTR>(info.hInstApp);
}
