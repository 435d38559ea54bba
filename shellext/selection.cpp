// Initialize: the selection handed over by the shell, and the archive test.
#include <shlobj.h>

#include <algorithm>

#include "context_menu.h"
#include "drop_files.h"
#include "module.h"

// Initialize can be called more than once: each call starts a fresh selection.
STDMETHODIMP CContextMenu::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pdtobj, HKEY) {
    m_bSelectionValid = FALSE;
    m_bIsArchive = FALSE;
    m_selectedFiles.clear();
    m_currentFile.clear();
    m_zipName = L"NULL";  // inline buffer: cannot throw
    if (m_pDataObject) {
        m_pDataObject->Release();
        m_pDataObject = nullptr;
    }
    if (!pdtobj) return S_OK;
    m_pDataObject = pdtobj;
    m_pDataObject->AddRef();

    return ComBoundary([&] {
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        UniqueStgMedium medium;
        if (FAILED(pdtobj->GetData(&format, medium.put())) || medium.get().tymed != TYMED_HGLOBAL) return S_OK;

        std::vector<std::wstring> paths = ReadDropFiles(medium.get().hGlobal);
        std::wstring last = paths.empty() ? std::wstring() : paths.back();
        const size_t items = paths.size();
        paths.erase(std::remove_if(paths.begin(), paths.end(), [](const std::wstring& p) { return p.empty(); }),
                    paths.end());
        // A selection with an unreadable item gets no menu.
        const bool complete = items > 0 && paths.size() == items;
        const bool archive = paths.size() == 1 && IsArchive(paths.front());

        // Nothing above changed the handler: a failure leaves an empty selection.
        m_selectedFiles = std::move(paths);
        m_currentFile = std::move(last);
        m_bSelectionValid = complete;
        m_bIsArchive = archive;
        return S_OK;
    });
}

BOOL CContextMenu::IsArchive(const std::wstring& path) const {
    static const wchar_t* const kArchiveExtensions[] = {L"rar", L"zip", L"000", L"001"};
    const std::wstring extension = m_util.GetExtension(path);
    for (const wchar_t* archive : kArchiveExtensions) {
        // The name decides first; only a candidate costs a file-system query.
        if (extension == archive) return !m_util.IsDirectory(path);  // a folder never is one
    }
    return FALSE;
}
