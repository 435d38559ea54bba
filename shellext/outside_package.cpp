// The start of TarnwickUnzip.exe, and keeping it out of our package.
//
// Windows runs a class that a package declares with com:SurrogateServer in the
// COM Surrogate (dllhost.exe) with the package's identity. Microsoft documents
// the desktop-app policy of a new process (UpdateProcThreadAttribute,
// PROC_THREAD_ATTRIBUTE_DESKTOP_APP_POLICY, Windows 10 1703 and later):
// PROCESS_CREATION_DESKTOP_APP_BREAKAWAY_ENABLE_PROCESS_TREE, "the process
// being created will create any child processes outside of the desktop app
// runtime environment", is the default when no policy was set; _DISABLE_PROCESS_TREE
// keeps children inside and "is inherited by the descendant processes until it
// is overridden by creating a process with" _ENABLE_PROCESS_TREE. Which policy
// Windows gives the surrogate is not documented, so the program is created with
// _ENABLE_PROCESS_TREE explicitly: a package update that ends the package's
// processes must not end an extraction, nor may its window carry our package's
// name and logo. Outside a package the shell starts it, as it always did.
#include "program_start.h"

namespace {

#ifndef PROC_THREAD_ATTRIBUTE_DESKTOP_APP_POLICY
#define PROC_THREAD_ATTRIBUTE_DESKTOP_APP_POLICY 0x00020012  // ProcThreadAttributeValue(18, FALSE, TRUE, FALSE)
#endif
#ifndef PROCESS_CREATION_DESKTOP_APP_BREAKAWAY_ENABLE_PROCESS_TREE
#define PROCESS_CREATION_DESKTOP_APP_BREAKAWAY_ENABLE_PROCESS_TREE 0x01
#endif

}  // namespace

bool HasPackageIdentity() noexcept {
    // Windows 8 and later; looked up so that the DLL still loads on Windows 7.
    using Fn = LONG(WINAPI*)(UINT32*, PWSTR);
    const auto get = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetCurrentPackageFullName")));
    UINT32 length = 0;
    return get && get(&length, nullptr) == ERROR_INSUFFICIENT_BUFFER;  // APPMODEL_ERROR_NO_PACKAGE without one
}

bool CreateProgramProcess(std::wstring& commandLine, LPPROC_THREAD_ATTRIBUTE_LIST attributes) noexcept {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_SHOWNORMAL;
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, attributes ? EXTENDED_STARTUPINFO_PRESENT : 0,
                        nullptr, nullptr, &startup.StartupInfo, &process))
        return false;
    // A process started from the surrogate may not take the foreground by
    // itself; this process passes on what right it holds.
    AllowSetForegroundWindow(process.dwProcessId);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool StartOutsidePackage(const std::wstring& program, const std::wstring& parameters) {
    std::wstring commandLine = ProgramCommandLine(program, parameters);  // first: nothing below throws
    alignas(8) BYTE storage[256];  // Windows needs well under 100 bytes for one attribute
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage);
    SIZE_T size = sizeof(storage);
    DWORD policy = PROCESS_CREATION_DESKTOP_APP_BREAKAWAY_ENABLE_PROCESS_TREE;
    DWORD error = ERROR_NOT_SUPPORTED;  // before Windows 10 1703: the shell starts it
    if (InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
        if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_DESKTOP_APP_POLICY, &policy,
                                      sizeof(policy), nullptr, nullptr))
            error = CreateProgramProcess(commandLine, attributes) ? ERROR_SUCCESS : GetLastError();
        DeleteProcThreadAttributeList(attributes);
    }
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

UINT_PTR StartProgram(HWND owner, const std::wstring& program, const std::wstring& parameters, bool noUI) {
    // A start that fails outside the package is left to the shell, which then
    // fails (or asks for elevation) as it always did: the user and the caller
    // are told exactly what they were told before.
    if (HasPackageIdentity() && StartOutsidePackage(program, parameters)) return 33;  // above 32: started
    return StartWithShell(owner, program, parameters, noUI);
}
