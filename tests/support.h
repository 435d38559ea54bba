// Helpers shared by the test programs: where the binaries are, loading the
// DLL's exports, running a program, reading the registry.
#pragma once

#include <windows.h>

#include <string>

// {7D3B2E91-4C6A-4F1E-9A27-5B8C0D4E6F13}
extern const CLSID kHandlerClsid;

// {3C79CCA4-8665-480D-B49E-041DB86690E3}: the Windows 11 menu's command.
extern const CLSID kCommandClsid;

// Folder of the running test program (ends without a backslash); the DLL and
// the tool are built beside it.
std::wstring BinDir();
std::wstring DllPath();
std::wstring RegToolPath();
std::wstring ModernDllPath();

// quillshell.dll loaded into this process with its two exports.
struct Dll {
    HMODULE module = nullptr;
    HRESULT(WINAPI* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* canUnloadNow)() = nullptr;
};
const Dll& LoadDll();
const Dll& LoadModernDll();  // quillshell-modern.dll

struct ProcessResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};
// Runs a command line to its end, stdout and stderr captured.
ProcessResult RunProcess(const std::wstring& commandLine);

// The whole content of a file; empty if it cannot be read.
std::string ReadBytes(const std::wstring& path);

// A list file's name: <8-4-4-4-12 upper-case hex digits>.txt
bool IsListFileName(const std::wstring& name);

// Removes a folder with everything in it, read-only files included.
void RemoveTree(const std::wstring& path);

// The system's description of a status, as the error box asks for it.
std::wstring SystemText(HRESULT code);

// Quotes one argument for a command line.
std::wstring Quote(const std::wstring& arg);

// Registry: value of a REG_SZ, or nullopt-like "absent" flag.
bool ReadString(HKEY root, const std::wstring& key, const wchar_t* name, std::wstring* value);
bool KeyExists(HKEY root, const std::wstring& key);
void DeleteTree(HKEY root, const std::wstring& key);

// Windows' own narrow/wide conversions, for comparing outputs.
std::wstring Widen(const std::string& s);
