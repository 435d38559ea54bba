// The verb table and GetCommandString.
#include "verbs.h"

#include <cstdint>

#include "context_menu.h"
#include "module.h"
#include "res/resource.h"

const VerbInfo g_verbTable[] = {
    {L"decompress", IDS_HELP_DECOMPRESS, 0},
    {L"compress", IDS_HELP_COMPRESS, 1},
    {L"unpackhere", IDS_HELP_UNPACKHERE, 2},
    {L"unpackto", IDS_HELP_UNPACKTO, 3},
    {L"unpacktofolder", IDS_HELP_UNPACKTOFOLDER, 4},
    {L"test", IDS_HELP_TEST, 6},
    {L"zip", IDS_HELP_ZIP, 7},
    {L"zipto", IDS_HELP_ZIPTO, 8},
    {L"zipwithmpw", IDS_HELP_ZIPWITHMPW, 9},
    {L"", -1, -1},
};

const VerbInfo* FindVerbByCommand(UINT_PTR nCommand) noexcept {
    for (const VerbInfo* row = g_verbTable; row->nCommand != -1; ++row) {
        if (static_cast<UINT_PTR>(static_cast<uint32_t>(row->nCommand)) == nCommand) return row;
    }
    return nullptr;
}

int FindCommandByVerb(const wchar_t* verb) noexcept {
    for (const VerbInfo* row = g_verbTable; row->nCommand != -1; ++row) {
        if (lstrcmpiW(row->szVerb, verb) == 0) return row->nCommand;
    }
    return -1;
}

namespace {

// Copies the resource string into the caller's buffer, cut to cchMax - 1
// characters and always terminated. Reading the resource in place (length 0
// gives a pointer to it) keeps the copy bounded by us alone: LoadStringW's own
// handling of tiny buffers differs between systems.
void CopyHelpText(int id, wchar_t* buffer, UINT cchMax) noexcept {
    const wchar_t* text = nullptr;
    int length = LoadStringW(ModuleInstance(), static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
    UINT n = (text && length > 0) ? static_cast<UINT>(length) : 0;
    if (n > cchMax - 1) n = cchMax - 1;
    for (UINT i = 0; i < n; ++i) buffer[i] = text[i];
    buffer[n] = L'\0';
}

}  // namespace

// The shell knows an item only by its offset; only an offset that names an
// inserted item of the current menu has a verb or a help text.
STDMETHODIMP CContextMenu::GetCommandString(UINT_PTR idCmd, UINT uType, UINT*, CHAR* pszName, UINT cchMax) noexcept try {
    ModuleStateGuard state;
    const VerbInfo* row =
        idCmd < m_menuItems.size() ? FindVerbByCommand(static_cast<uint32_t>(m_menuItems[idCmd].nCommand)) : nullptr;
    switch (uType) {
    case GCS_VALIDATEW:
        return idCmd < m_menuItems.size() ? S_OK : E_INVALIDARG;
    case GCS_VERBW:
    case GCS_HELPTEXTW:
        break;
    default:  // the ANSI requests included: no ANSI text is produced
        return E_INVALIDARG;
    }
    if (!pszName || cchMax == 0 || !row) return E_INVALIDARG;
    auto* buffer = reinterpret_cast<wchar_t*>(pszName);
    if (uType == GCS_HELPTEXTW) {
        CopyHelpText(row->nHelpStringId, buffer, cchMax);
        return S_OK;
    }
    // A verb is never cut: a shortened verb would name another command or none.
    const size_t length = wcslen(row->szVerb);
    if (length >= cchMax) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    for (size_t i = 0; i <= length; ++i) buffer[i] = row->szVerb[i];
    return S_OK;
} catch (...) {
    return CaughtResult();
}
