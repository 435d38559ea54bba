// How TarnwickUnzip.exe is started: by the shell's execute function, or, from
// a process that has a package's identity (the COM Surrogate that runs
// Windows 11's command), as a process of its own outside that package.
#pragma once

#include <windows.h>

#include <string>

// Starts `program` (a quoted path) with `parameters` (which begin with a
// space) in this process's current folder, shown normally; never waits.
// Returns ShellExecuteW's kind of result: above 32 once started, else 32 or
// less with the last error set. noUI: the shell shows no message of its own.
// The started process may take the foreground.
// From a process with a package's identity it is created outside the package
// (StartOutsidePackage), else, and whenever that fails, started by the shell.
UINT_PTR StartProgram(HWND owner, const std::wstring& program, const std::wstring& parameters, bool noUI);
// The shell's start alone: ShellExecuteW, or ShellExecuteExW with
// SEE_MASK_FLAG_NO_UI for noUI.
UINT_PTR StartWithShell(HWND owner, const std::wstring& program, const std::wstring& parameters, bool noUI);

// The start outside the package: CreateProcessW of the same program with the
// command line the shell would give it ("<program> <parameters>"). False with
// the last error set when it failed, ERROR_NOT_SUPPORTED before Windows 10 1703.
bool StartOutsidePackage(const std::wstring& program, const std::wstring& parameters);

// The command line the shell gives the program: the quoted path, a space, the
// parameters (CreateProcessW then takes the program from the quoted path).
inline std::wstring ProgramCommandLine(const std::wstring& program, const std::wstring& parameters) {
    std::wstring commandLine = program;
    commandLine += L' ';
    return commandLine += parameters;
}
// CreateProcessW of that command line in this process's current folder, shown
// normally, with `attributes` (or none); the started process may take the
// foreground. False with the last error set.
bool CreateProgramProcess(std::wstring& commandLine, LPPROC_THREAD_ATTRIBUTE_LIST attributes) noexcept;

// Whether this process runs with a package's identity.
bool HasPackageIdentity() noexcept;
