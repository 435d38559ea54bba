// The floor of a right-click: the least a handler can do for the same menu.
// It reads the first path, makes the one folder query the zip name needs and
// inserts the same items with fixed captions.
#pragma once

#include <windows.h>
#include <shlobj.h>

class MinimalHandler final : public IContextMenu, public IShellExtInit {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last, UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCommandString(UINT_PTR offset, UINT type, UINT*, CHAR* name, UINT cch) override;
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) override;

private:
    ULONG m_refs = 1;
    wchar_t m_path[MAX_PATH] = L"";
    HBITMAP m_bitmap = nullptr;
};
