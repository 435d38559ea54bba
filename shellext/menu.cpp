// QueryContextMenu: the extract or the create group, their captions and the
// proposed zip name.
#include "context_menu.h"
#include "module.h"

namespace {

enum Command { kUnpackHere = 2, kUnpackTo = 3, kUnpackToFolder = 4, kTest = 6, kZip = 7, kZipTo = 8, kZipWithMPW = 9 };

constexpr UINT kExtractGroupSize = 4;
constexpr UINT kCreateGroupSize = 3;

HRESULT IdentifiersClaimed(UINT count) { return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, count & 0xFFFF); }

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

}  // namespace

STDMETHODIMP CContextMenu::QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                            UINT uFlags) {
    ModuleStateGuard state;
    return ComBoundary([&] {
        // A caller that only wants the default item or the verbs builds no menu
        // of ours: the records of an earlier menu stay valid for its clicks.
        if (uFlags & (CMF_DEFAULTONLY | CMF_VERBSONLY)) return IdentifiersClaimed(0);
        // Offsets of later calls name the items of this menu only.
        m_menuItems.clear();
        m_nCommands = 0;
        ReadSettings();
        if (idCmdLast < idCmdFirst) return IdentifiersClaimed(0);
        if (!m_bSelectionValid) return IdentifiersClaimed(1);

        // Every identifier of the group must lie in [idCmdFirst, idCmdLast], or
        // our items would collide with other handlers' commands.
        const UINT size = m_bIsArchive ? kExtractGroupSize : kCreateGroupSize;
        if (idCmdLast - idCmdFirst < size - 1) return IdentifiersClaimed(0);

        std::vector<MenuItemInfo> items = BuildGroup(idCmdFirst);
        m_menuItems = std::move(items);  // nothing below can fail
        m_nCommands = static_cast<UINT>(m_menuItems.size());
        if (m_util.IsVistaOrLater()) m_menuBitmap = ItemBitmap(ItemBitmapSize());
        AddMenuItems(hmenu, indexMenu);
        return IdentifiersClaimed(m_nCommands + 1);
    });
}

std::vector<MenuItemInfo> CContextMenu::BuildGroup(UINT idCmdFirst) {
    if (m_bIsArchive) {
        const std::wstring folder = m_util.GetExtractFolderName(m_selectedFiles.front());
        return {
            {L"Extract to ....", kUnpackTo, idCmdFirst},
            {L"Extract here", kUnpackHere, idCmdFirst + 1},
            {L"Extract to " + Quoted(folder + m_util.GetMissingBackslash(folder)), kUnpackToFolder, idCmdFirst + 2},
            {L"Test archived files", kTest, idCmdFirst + 3},
        };
    }
    const std::wstring zip = Quoted(MakeZipName());
    return {
        {L"Create zip ....", kZipTo, idCmdFirst},
        {L"Create " + zip, kZip, idCmdFirst + 1},
        {L"Create " + zip + L" with saved password", kZipWithMPW, idCmdFirst + 2},
    };
}

// Inserts this menu's records between two separators, from indexMenu on.
UINT CContextMenu::AddMenuItems(HMENU hmenu, UINT indexMenu) {
    // A position past the end (such as -1) appends; counting on from it would
    // wrap around and put the items at the top, away from their separator.
    const int count = GetMenuItemCount(hmenu);
    if (count >= 0 && indexMenu > static_cast<UINT>(count)) indexMenu = static_cast<UINT>(count);
    InsertMenuW(hmenu, indexMenu, MF_SEPARATOR | MF_BYPOSITION, 0, nullptr);
    UINT position = indexMenu + 1;
    for (const MenuItemInfo& item : m_menuItems) {
        if (!item.strCaption.empty())
            InsertItem(hmenu, item.nCmdId, position, item.strCaption.c_str(),
                       static_cast<UINT>(item.strCaption.size()));
        ++position;
    }
    InsertMenuW(hmenu, position, MF_SEPARATOR | MF_BYPOSITION, 0, nullptr);
    return static_cast<UINT>(m_menuItems.size());
}

// The zip proposed for the selection: for one item, named after it beside it;
// for several, named after their folder inside it (in a drive root, after the
// first item). Only the first path is looked at.
std::wstring CContextMenu::MakeZipName() {
    std::wstring s = m_selectedFiles.front();
    if (!s.empty() && s.back() == L'\\') s.pop_back();
    std::wstring zip;
    if (m_selectedFiles.size() > 1 && m_util.GetFolderPath(s, false).size() >= 3)
        zip = m_util.GetFolderPath(s, true) + m_util.GetParentFolderName(s) + L".zip";
    else
        zip = (IsFolder(s, m_itemAttributes, 0) ? s : m_util.GetBaseName(s)) + L".zip";
    m_zipName = zip;
    return m_util.GetFileName(zip);
}

// Vista and later draw a 32-bpp item bitmap alpha-blended and at its own size
// beside the text. Check-mark bitmaps are drawn unscaled into a 13 px slot at
// 96 DPI, without alpha: only Windows XP gets one, in both slots, so it shows
// whether or not the item is checked.
BOOL CContextMenu::InsertItem(HMENU hmenu, UINT nCmdId, UINT nPosition, const wchar_t* text, UINT cch) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof(mii);
    mii.fType = MFT_STRING;
    mii.fState = 0;
    mii.wID = nCmdId;
    if (m_util.IsVistaOrLater()) {
        // MIIM_TYPE cannot go with MIIM_BITMAP: the call would fail.
        mii.fMask = MIIM_STATE | MIIM_ID | MIIM_FTYPE | MIIM_STRING | MIIM_BITMAP;
        mii.hbmpItem = m_menuBitmap;
    } else {
        mii.fMask = MIIM_STATE | MIIM_ID | MIIM_TYPE | MIIM_CHECKMARKS;
        mii.hbmpChecked = m_menuBitmap;
        mii.hbmpUnchecked = m_menuBitmap;
    }
    mii.dwTypeData = const_cast<wchar_t*>(text);
    mii.cch = cch;
    InsertMenuItemW(hmenu, nPosition, TRUE, &mii);
    return TRUE;
}
