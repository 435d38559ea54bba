// CShellUtil operations that ask the system.
#include <windows.h>

#include "shell_util.h"

bool CShellUtil::IsVistaOrLater() const {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const DWORD version = GetVersion();  // the low byte is the major version
#pragma GCC diagnostic pop
    return LOBYTE(LOWORD(version)) >= 6;
}
