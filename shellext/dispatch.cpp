// InvokeCommand: from an offset or a verb to a started program.
#include "context_menu.h"

#include <shellapi.h>

#include <cstddef>

#include "command_line.h"
#include "error_box.h"
#include "module.h"
#include "res/resource.h"
#include "verbs.h"

namespace {

// The extended structure is read up to lpTitleW; ptInvoke, which follows, is
// not needed.
constexpr DWORD kInvokeInfoSize = sizeof(CMINVOKECOMMANDINFO);
constexpr DWORD kInvokeInfoExSize = offsetof(CMINVOKECOMMANDINFOEX, ptInvoke);
static_assert(sizeof(void*) == 8 ? kInvokeInfoSize == 56 && kInvokeInfoExSize == 96
                                 : kInvokeInfoSize == 36 && kInvokeInfoExSize == 56,
              "Windows' layouts of the invoke structures");

// With CMIC_MASK_UNICODE, a string in lpVerbW is the verb, whatever lpVerb
// holds (a caller may leave it null, which would read as offset 0); else null.
const wchar_t* UnicodeVerb(const CMINVOKECOMMANDINFO& ici) {
    if (ici.cbSize < kInvokeInfoExSize || !(ici.fMask & CMIC_MASK_UNICODE)) return nullptr;
    const auto& ex = reinterpret_cast<const CMINVOKECOMMANDINFOEX&>(ici);
    return ex.lpVerbW && !IS_INTRESOURCE(ex.lpVerbW) ? ex.lpVerbW : nullptr;
}

// The command of an ANSI verb; -1 when it names none.
int CommandOfVerb(const char* verbA) {
    wchar_t verb[260];  // a longer verb matches no row anyway
    if (!MultiByteToWideChar(CP_ACP, 0, verbA, -1, verb, ARRAYSIZE(verb))) return -1;
    return FindCommandByVerb(verb);
}

// The status of a failed start. The last error says why; ShellExecuteW's own
// result stands in when a failure left none, so that no failure goes unshown.
HRESULT StartError(UINT_PTR result) {
    const DWORD error = GetLastError();
    if (error) return HRESULT_FROM_WIN32(error);
    if (result == 0) return E_OUTOFMEMORY;
    return result <= ERROR_BAD_FORMAT ? HRESULT_FROM_WIN32(static_cast<DWORD>(result)) : E_FAIL;
}

// A list file that only the started program would read: removed on every
// other way out, an exception included.
class PendingListFile {
public:
    explicit PendingListFile(std::wstring path) noexcept : m_path(std::move(path)) {}
    PendingListFile(const PendingListFile&) = delete;
    PendingListFile& operator=(const PendingListFile&) = delete;
    ~PendingListFile() { Discard(); }

    const std::wstring& path() const noexcept { return m_path; }
    void Keep() noexcept { m_path.clear(); }  // the program owns it now
    void Discard() noexcept {
        if (!m_path.empty()) DeleteFileW(m_path.c_str());
        m_path.clear();
    }

private:
    std::wstring m_path;
};

}  // namespace

STDMETHODIMP CContextMenu::InvokeCommand(CMINVOKECOMMANDINFO* pici) noexcept try {
    ModuleStateGuard state;
    if (!pici || pici->cbSize < kInvokeInfoSize) return E_INVALIDARG;
    int nCommand = -1;
    if (const wchar_t* verbW = UnicodeVerb(*pici)) {
        nCommand = FindCommandByVerb(verbW);
    } else if (IS_INTRESOURCE(pici->lpVerb)) {
        // An offset names an item of the current menu, or nothing.
        const auto offset = reinterpret_cast<UINT_PTR>(pici->lpVerb);
        if (offset < m_menuItems.size()) nCommand = m_menuItems[offset].nCommand;
    } else {
        nCommand = CommandOfVerb(pici->lpVerb);
    }
    if (nCommand < 0) return E_INVALIDARG;
    // Hosts may invoke a verb without asking for a menu first, so the
    // program's folder is read here too.
    ReadSettings();
    // A caller that forbids any user interface (a script, a service) is
    // told of a failure by the result instead of a box nobody may see.
    const bool noUI = (pici->fMask & CMIC_MASK_FLAG_NO_UI) != 0;
    const HRESULT hr = RunCommand(pici->hwnd, static_cast<UINT>(nCommand), noUI);
    return noUI ? hr : S_OK;
} catch (...) {
    return CaughtResult();
}

HRESULT CContextMenu::RunCommand(HWND hwnd, UINT nCommand, bool bNoUI) {
    return StartCommand({nCommand, m_selectedFiles, m_zipName, m_currentFile, m_directory}, hwnd, bNoUI);
}

HRESULT StartCommand(const CommandRun& run, HWND hwnd, bool bNoUI) {
    auto fail = [&](HRESULT code, const std::wstring& item) {
        if (!bNoUI) ShowErrorMessage(hwnd, IDS_ERROR_FORMAT, code, item.c_str());
        return FAILED(code) ? code : E_FAIL;  // never a failure reported as success
    };
    if (run.files.empty()) return S_OK;
    // A folder that is not fully qualified would make the shell look for the
    // program in the current drive's root or below the current folder, where
    // anybody may have put one. No folder of MAX_PATH characters or more
    // holds a program the shell can start (Wine's launcher overruns its stack on one).
    if (!IsFullyQualified(run.directory) || run.directory.size() >= MAX_PATH)
        return fail(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), run.currentFile);
    const std::wstring program = ProgramPath(run.directory);

    CShellUtil::ListFileFailure failure;
    PendingListFile listFile(CShellUtil().WriteSelectionList(run.files, &failure));
    if (listFile.path().empty()) return fail(failure.code, failure.path.empty() ? run.currentFile : failure.path);
    const std::wstring parameters = ProgramParameters(CommandToken(run.nCommand), listFile.path(), run.zipName);

    HWND owner = GetParent(hwnd);
    if (!owner) owner = hwnd;
    SetLastError(ERROR_SUCCESS);
    const UINT_PTR result = g_serverClass.startProgram(owner, program, parameters, bNoUI);
    if (result > 32) {
        listFile.Keep();
        return S_OK;
    }
    const HRESULT code = StartError(result);
    listFile.Discard();  // before the box, which may stay open for long
    return fail(code, run.currentFile);
}
