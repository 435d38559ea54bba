// QueryContextMenu: the group that the core makes for the selection
// (group.cpp), inserted as menu items.
#include "command_shown.h"
#include "context_menu.h"
#include "module.h"

namespace {

constexpr UINT kExtractGroupSize = 4;
constexpr UINT kCreateGroupSize = 3;

HRESULT IdentifiersClaimed(UINT count) { return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, count & 0xFFFF); }

}  // namespace

STDMETHODIMP CContextMenu::QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                            UINT uFlags) noexcept try {
    ModuleStateGuard state;
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
    // Windows 11's command put the same group into this menu a moment ago.
    if (CommandJustShown(Head())) return IdentifiersClaimed(0);

    std::vector<MenuItemInfo> items = BuildGroup(idCmdFirst);
    std::vector<std::wstring> texts;
    texts.reserve(items.size());
    for (const MenuItemInfo& item : items) texts.push_back(MenuText(item.strCaption));
    m_menuItems = std::move(items);  // nothing below can fail
    m_nCommands = static_cast<UINT>(m_menuItems.size());
    if (m_util.IsVistaOrLater()) m_menuBitmap = ItemBitmap(ItemBitmapSize());
    AddMenuItems(hmenu, indexMenu, texts);
    return IdentifiersClaimed(m_nCommands + 1);
} catch (...) {
    return CaughtResult();
}

// The shared group as this menu's records; the create group's zip becomes the
// third argument of the commands that follow.
std::vector<MenuItemInfo> CContextMenu::BuildGroup(UINT idCmdFirst) {
    CommandGroup group = MakeGroup(m_util, Head(), m_bIsArchive);
    std::vector<MenuItemInfo> items;
    items.reserve(group.items.size());
    for (GroupItem& item : group.items)
        items.push_back({std::move(item.strCaption), item.nCommand, idCmdFirst + static_cast<UINT>(items.size())});
    if (!m_bIsArchive) m_zipName = std::move(group.zipName);
    return items;
}

// Inserts this menu's records, with their texts, between two separators, from
// indexMenu on.
UINT CContextMenu::AddMenuItems(HMENU hmenu, UINT indexMenu, const std::vector<std::wstring>& texts) {
    // A position past the end (such as -1) appends; counting on from it would
    // wrap around and put the items at the top, away from their separator.
    const int count = GetMenuItemCount(hmenu);
    if (count >= 0 && indexMenu > static_cast<UINT>(count)) indexMenu = static_cast<UINT>(count);
    InsertMenuW(hmenu, indexMenu, MF_SEPARATOR | MF_BYPOSITION, 0, nullptr);
    UINT position = indexMenu + 1;
    for (size_t i = 0; i < m_menuItems.size(); ++i) {
        const std::wstring& text = texts[i];
        if (!text.empty()) InsertItem(hmenu, m_menuItems[i].nCmdId, position, text.c_str(), static_cast<UINT>(text.size()));
        ++position;
    }
    InsertMenuW(hmenu, position, MF_SEPARATOR | MF_BYPOSITION, 0, nullptr);
    return static_cast<UINT>(m_menuItems.size());
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
