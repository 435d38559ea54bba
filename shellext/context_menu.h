// CContextMenu: the context-menu handler that Explorer talks to.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "com.h"
#include "core.h"
#include "shell_util.h"
#include "win32.h"

// One inserted menu item.
struct MenuItemInfo {
    std::wstring strCaption;  // the caption; the menu gets its MenuText
    int nCommand;             // command index in the verb table
    UINT nCmdId;              // menu identifier: idCmdFirst + place in the group
};

// A new handler, asked for riid.
HRESULT CreateContextMenu(REFIID riid, void** ppv);

// The IContextMenu face is the identity.
class CContextMenu final : public ComObject<IContextMenu, IShellExtInit> {
public:
    CContextMenu() noexcept;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                  UINT uFlags) noexcept override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* pici) noexcept override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uType, UINT* pReserved, CHAR* pszName,
                                  UINT cchMax) noexcept override;

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj, HKEY hkeyProgID) noexcept override;

private:
    ~CContextMenu() override;

    // selection.cpp: the count, the first path and what the data object
    // says of it, for the shared core (core.h).
    SelectionHead Head() const;
    // settings.cpp
    void ReadSettings();
    // menu.cpp
    std::vector<MenuItemInfo> BuildGroup(UINT idCmdFirst);
    UINT AddMenuItems(HMENU hmenu, UINT indexMenu, const std::vector<std::wstring>& texts);
    BOOL InsertItem(HMENU hmenu, UINT nCmdId, UINT nPosition, const wchar_t* text, UINT cch);
    // dispatch.cpp
    HRESULT RunCommand(HWND hwnd, UINT nCommand, bool bNoUI);

    IDataObject* m_pDataObject = nullptr;  // one counted reference
    BOOL m_bSelectionValid = FALSE;
    HBITMAP m_menuBitmap = nullptr;  // shared, owned by the module
    BOOL m_bIsArchive = FALSE;
    std::wstring m_currentFile;
    std::wstring m_directory;
    std::wstring m_zipName;
    std::vector<std::wstring> m_selectedFiles;
    SelectionHead::Folder m_firstFolder = SelectionHead::kAskDisk;  // as the shell said
    std::vector<MenuItemInfo> m_menuItems;
    UINT m_nCommands = 0;
    CShellUtil m_util;
};
