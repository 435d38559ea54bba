// quillshell-modern.dll serves the Windows 11 menu's command alone.
#include "explorer_command.h"
#include "module.h"
#include "program_start.h"

namespace {

// A lock counts as a live object; an unlock without a lock changes nothing.
std::atomic<LONG> g_locks{0};
HRESULT LockServer(BOOL fLock) noexcept {
    if (fLock) {
        ++g_locks;
        ++g_cDllObjects;
        return S_OK;
    }
    for (LONG held = g_locks.load(); held > 0;)
        if (g_locks.compare_exchange_weak(held, held - 1)) {
            --g_cDllObjects;
            break;
        }
    return S_OK;
}

}  // namespace

const ServerClass g_serverClass = {CLSID_QuillShellExplorerCommand, CreateExplorerCommand, LockServer,
                                   StartProgram};
