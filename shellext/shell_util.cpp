// CShellUtil's name and path operations: text only, no Windows header.
#include "shell_util.h"

#include <cwctype>

namespace {

constexpr wchar_t kBackslash = L'\\';
constexpr size_t kMaxPath = 260;  // MAX_PATH, terminator included

// Only A to Z fold; every other character stays as it is.
std::wstring LowerAscii(std::wstring s) {
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return s;
}

std::wstring Trim(const std::wstring& s) {
    size_t end = s.size();
    while (end > 0 && std::iswspace(static_cast<std::wint_t>(s[end - 1]))) --end;
    size_t begin = 0;
    while (begin < end && std::iswspace(static_cast<std::wint_t>(s[begin]))) ++begin;
    return s.substr(begin, end - begin);
}

}  // namespace

std::wstring CShellUtil::GetExtension(const std::wstring& name) const {
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? std::wstring() : LowerAscii(name.substr(dot + 1));
}

std::wstring CShellUtil::GetBaseName(const std::wstring& name) const {
    return Trim(name.substr(0, name.rfind(L'.')));  // npos: the whole string
}

std::wstring CShellUtil::GetFolderPath(const std::wstring& path, bool bWithBackslash) const {
    const size_t slash = path.rfind(kBackslash);
    const size_t p = slash == std::wstring::npos ? 0 : slash;
    return path.substr(0, bWithBackslash ? p + 1 : p);
}

std::wstring CShellUtil::GetFileName(const std::wstring& path) const {
    const size_t slash = path.rfind(kBackslash);
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring CShellUtil::GetParentFolderName(const std::wstring& path) const {
    std::wstring s = path;
    if (!s.empty() && s.back() == kBackslash) s.pop_back();
    return GetFileName(GetFolderPath(s, false));
}

std::wstring CShellUtil::GetMissingBackslash(const std::wstring& path) const {
    return !path.empty() && path.back() == kBackslash ? std::wstring() : std::wstring(1, kBackslash);
}

// The last 13 characters, padded on the left with "_", must end in
// ".part" + 1 to 4 digits + ".rar"; what stands before the suffix is free.
bool CShellUtil::IsRarVolumeName(const std::wstring& name) const {
    constexpr size_t kWindow = 13;
    const std::wstring tail = LowerAscii(name.size() > kWindow ? name.substr(name.size() - kWindow) : name);
    const std::wstring w = std::wstring(kWindow - tail.size(), L'_') + tail;
    if (w.compare(9, 4, L".rar") != 0) return false;
    for (size_t start = 0; start <= 3; ++start) {
        if (w.compare(start, 5, L".part") != 0) continue;
        bool digits = true;
        for (size_t i = start + 5; i < 9; ++i) digits = digits && w[i] >= L'0' && w[i] <= L'9';
        if (digits) return true;
    }
    return false;
}

std::wstring CShellUtil::GetExtractFolderName(const std::wstring& path) const {
    // Backup.part02.rar extracts to Backup: the volume suffix goes with ".rar".
    const bool volume = GetExtension(path) == L"rar" && IsRarVolumeName(path);
    return GetFileName(volume ? GetBaseName(GetBaseName(path)) : GetBaseName(path));
}

namespace {

wchar_t LowerAsciiChar(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// Names that the system's path rules turn into devices when they end a path
// (with any extension, and spaces before it).
bool IsDeviceName(const wchar_t* name, size_t length) {
    size_t stem = 0;
    while (stem < length && name[stem] != L'.') ++stem;
    while (stem > 0 && name[stem - 1] == L' ') --stem;
    static const wchar_t* const kDevices[] = {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$", L"com#", L"lpt#"};
    for (const wchar_t* device : kDevices) {
        size_t i = 0;
        for (; i < stem && device[i]; ++i) {
            const wchar_t c = LowerAsciiChar(name[i]);
            if (device[i] == L'#' ? !(c >= L'1' && c <= L'9') : c != device[i]) break;
        }
        if (i == stem && !device[i]) return true;
    }
    return false;
}

// The components after the root come through the system's path rules
// unchanged: none empty, "." or "..", none ending in a dot or a space (which
// the rules strip), no "/", and no device name at the end.
bool SurvivesNormalisation(const std::wstring& path, size_t start) {
    while (start < path.size()) {
        size_t end = start;
        while (end < path.size() && path[end] != kBackslash) {
            if (path[end] == L'/') return false;
            ++end;
        }
        if (end == start || path[end - 1] == L'.' || path[end - 1] == L' ') return false;
        if (end == path.size() && IsDeviceName(path.c_str() + start, end - start)) return false;
        start = end + 1;  // a trailing backslash ends the loop here
    }
    return true;
}

}  // namespace

std::wstring CShellUtil::WithoutLongPathPrefix(const std::wstring& path) const {
    const auto at = [&](size_t i) { return i < path.size() ? LowerAsciiChar(path[i]) : L'\0'; };
    if (path.compare(0, 4, L"\\\\?\\") != 0) return path;
    std::wstring plain;
    size_t rootEnd;
    if (at(4) == L'u' && at(5) == L'n' && at(6) == L'c' && at(7) == kBackslash) {
        plain = L"\\\\" + path.substr(8);  // \\server\share\ is the root
        const size_t server = plain.find(kBackslash, 2);
        if (server == 2 || server == std::wstring::npos) return path;
        const size_t share = plain.find(kBackslash, server + 1);
        if (share == server + 1) return path;
        rootEnd = share == std::wstring::npos ? plain.size() : share + 1;
    } else if (at(4) >= L'a' && at(4) <= L'z' && at(5) == L':' && at(6) == kBackslash) {
        plain = path.substr(4);
        rootEnd = 3;
    } else {
        return path;
    }
    // Below MAX_PATH every program can open it; longer, only with the prefix.
    if (plain.size() >= kMaxPath || !SurvivesNormalisation(plain, rootEnd)) return path;
    return plain;
}
