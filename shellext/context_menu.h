// CContextMenu: the context-menu handler that Explorer talks to.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "core.h"
#include "shell_util.h"
#include "win32.h"

// One inserted menu item.
struct MenuItemInfo {
    std::wstring strCaption;  // the text exactly as inserted
    int nCommand;             // command index in the verb table
    UINT nCmdId;              // menu identifier: idCmdFirst + place in the group
};

// A new handler, asked for riid.
HRESULT CreateContextMenu(REFIID riid, void** ppv);

class CContextMenu final : public IContextMenu, public IShellExtInit {
public:
    CContextMenu() noexcept;

    // IUnknown, shared by both faces; the IContextMenu face is the identity.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                  UINT uFlags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* pici) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uType, UINT* pReserved, CHAR* pszName,
                                  UINT cchMax) override;

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj, HKEY hkeyProgID) override;

private:
    ~CContextMenu();

    // selection.cpp: the count, the first path and what the data object
    // says of it, for the shared core (core.h).
    SelectionHead Head() const;
    // settings.cpp
    void ReadSettings();
    // menu.cpp
    std::vector<MenuItemInfo> BuildGroup(UINT idCmdFirst);
    UINT AddMenuItems(HMENU hmenu, UINT indexMenu);
    BOOL InsertItem(HMENU hmenu, UINT nCmdId, UINT nPosition, const wchar_t* text, UINT cch);
    // dispatch.cpp
    HRESULT RunCommand(HWND hwnd, UINT nCommand, bool bNoUI);

    IDataObject* m_pDataObject = nullptr;  // one counted reference
    ULONG m_cRef = 1;
    BOOL m_bSelectionValid = FALSE;
    HBITMAP m_menuBitmap = nullptr;  // shared, owned by the module
    BOOL m_bIsArchive = FALSE;
    std::wstring m_currentFile;
    std::wstring m_directory;
    std::wstring m_zipName;
    std::vector<std::wstring> m_selectedFiles;
    std::vector<DWORD> m_itemAttributes;  // one per selected file, or none
    std::vector<MenuItemInfo> m_menuItems;
    UINT m_nCommands = 0;
    CShellUtil m_util;
};
