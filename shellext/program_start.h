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
UINT_PTR StartProgram(HWND owner, const std::wstring& program, const std::wstring& parameters, bool noUI);

// The start outside the package: CreateProcessW of the same program with the
// command line the shell would give it ("<program> <parameters>"). False with
// the last error set when it failed, or cannot be made here (before Windows 10
// 1703) and the shell must start it.
bool StartOutsidePackage(const std::wstring& program, const std::wstring& parameters);

// Whether this process runs with a package's identity.
bool HasPackageIdentity() noexcept;
