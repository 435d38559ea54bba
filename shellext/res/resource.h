// Resource identifiers of quillshell.dll.
#pragma once

#define IDB_MENU_16 1003  // 16x16, Vista and later
#define IDB_MENU_13 1033  // 13x13, earlier systems

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
