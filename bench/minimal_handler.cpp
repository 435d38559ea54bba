#include "minimal_handler.h"

#include <shellapi.h>
#include <shlwapi.h>

STDMETHODIMP MinimalHandler::QueryInterface(REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IContextMenu))
        *ppv = static_cast<IContextMenu*>(this);
    else if (IsEqualIID(riid, IID_IShellExtInit))
        *ppv = static_cast<IShellExtInit*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) MinimalHandler::Release() {
    ULONG refs = --m_refs;
    if (refs == 0) delete this;
    return refs;
}

STDMETHODIMP MinimalHandler::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (FAILED(data->GetData(&format, &medium))) return S_OK;
    DragQueryFileW(static_cast<HDROP>(medium.hGlobal), 0, m_path, MAX_PATH);
    ReleaseStgMedium(&medium);
    return S_OK;
}

STDMETHODIMP MinimalHandler::QueryContextMenu(HMENU menu, UINT index, UINT first, UINT, UINT) {
    PathIsDirectoryW(m_path);
    static const wchar_t* const captions[] = {L"Create zip ....", L"Create \"notes.zip\"",
                                              L"Create \"notes.zip\" with saved password"};
    InsertMenuW(menu, index++, MF_SEPARATOR | MF_BYPOSITION, 0, nullptr);
    for (UINT i = 0; i < 3; ++i) {
        MENUITEMINFOW mii{};
        mii.cbSize = sizeof(mii);
        mii.fMask = MIIM_STATE | MIIM_ID | MIIM_CHECKMARKS | MIIM_TYPE;
        mii.wID = first + i;
        mii.hbmpChecked = mii.hbmpUnchecked = m_bitmap;
        mii.dwTypeData = const_cast<wchar_t*>(captions[i]);
        InsertMenuItemW(menu, index++, TRUE, &mii);
    }
    InsertMenuW(menu, index, MF_SEPARATOR | MF_BYPOSITION, 0, nullptr);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 4);
}

STDMETHODIMP MinimalHandler::GetCommandString(UINT_PTR, UINT, UINT*, CHAR* name, UINT cch) {
    lstrcpynW(reinterpret_cast<wchar_t*>(name), L"Create zip from selected files/folders", cch);
    return S_OK;
}
