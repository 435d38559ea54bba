// Resource identifiers of quillshell.dll.
#pragma once

#define IDB_MENU_16 1003  // 16x16 on white, 24 bpp; the menu itself shows IDI_MENU or IDB_MENU_13
#define IDB_MENU_13 1033  // 13x13 check-mark bitmap, Windows XP
#define IDI_MENU 1040     // the item bitmap's art: 16 to 48 px, 32 bpp with alpha

#define IDS_ERROR_FORMAT 21  // two %s: the system's description, then the item's path

#define IDS_HELP_DECOMPRESS 30
#define IDS_HELP_COMPRESS 31
#define IDS_HELP_UNPACKHERE 32
#define IDS_HELP_UNPACKTO 33
#define IDS_HELP_TEST 35
#define IDS_HELP_ZIP 36
#define IDS_HELP_ZIPTO 37
#define IDS_HELP_ZIPWITHMPW 38
#define IDS_HELP_UNPACKTOFOLDER 39
