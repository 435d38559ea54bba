// FolderOf, which both handlers use (the classic one through the shell's ID
// list), in a file of its own: quillshell.dll links it without the rest of
// item_array.cpp, which only the Windows 11 command needs.
#include "item_array.h"

// A .zip is a shell folder too (SFGAO_FOLDER | SFGAO_STREAM); only a folder
// without a stream is one of the file system.
SelectionHead::Folder FolderOf(IShellItem* item) {
    SFGAOF attributes = 0;
    if (FAILED(item->GetAttributes(SFGAO_FOLDER | SFGAO_STREAM, &attributes))) return SelectionHead::kAskDisk;
    return (attributes & (SFGAO_FOLDER | SFGAO_STREAM)) == SFGAO_FOLDER ? SelectionHead::kFolder
                                                                       : SelectionHead::kNoFolder;
}
