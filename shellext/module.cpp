// DllMain, the two exports and the module's activation context.
#include "module.h"

#include <commctrl.h>

#include <cstdlib>

#include "class_factory.h"
#include "com.h"
#include "command_shown.h"

const CLSID CLSID_QuillShellContextMenu = {
    0x7D3B2E91, 0x4C6A, 0x4F1E, {0x9A, 0x27, 0x5B, 0x8C, 0x0D, 0x4E, 0x6F, 0x13}};

std::atomic<LONG> g_cDllObjects{0};

namespace {

HINSTANCE g_hInstance = nullptr;
INIT_ONCE g_moduleInit = INIT_ONCE_STATIC_INIT;
// A plain handle: no exit code of the C runtime may release it (DllMain does).
HANDLE g_actCtx = INVALID_HANDLE_VALUE;

// Runs once, on the first guarded call, never under the loader lock.
BOOL CALLBACK PrepareModule(PINIT_ONCE, PVOID, PVOID*) {
    InitCommonControls();
    ACTCTXW ctx{};
    ctx.cbSize = sizeof(ctx);
    ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    ctx.hModule = g_hInstance;
    ctx.lpResourceName = MAKEINTRESOURCEW(2);
    g_actCtx = CreateActCtxW(&ctx);  // INVALID_HANDLE_VALUE: run without one
    return TRUE;
}

}  // namespace

HINSTANCE ModuleInstance() noexcept { return g_hInstance; }

HANDLE PreparedActCtx() noexcept {
    InitOnceExecuteOnce(&g_moduleInit, PrepareModule, nullptr, nullptr);
    return g_actCtx;
}

// Bookkeeping only: anything that loads libraries or creates objects waits
// for the first guarded call. An unload by FreeLibrary gives back what the
// module made, under the loader lock: no library freed, no lock taken. When
// the process ends (reserved is then not null) nothing is freed: its other
// threads were stopped wherever they were, and Windows takes back every object
// and handle with the process. Thread notifications stay on: the static C and
// C++ runtime's TLS callbacks free each thread's data at DLL_THREAD_DETACH
// (DisableThreadLibraryCalls: not for a DLL linked to the static CRT).
BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_hInstance = hInstance;
        g_cDllObjects = 0;
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        ReleaseMenuBitmaps();
        ReleaseSettingsKey();
        ReleaseCommandShown();
        if (g_actCtx != INVALID_HANDLE_VALUE) ReleaseActCtx(g_actCtx);
        g_actCtx = INVALID_HANDLE_VALUE;
    }
    return TRUE;
}

// The SDK declares the exports without noexcept; the try block is the boundary.
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) try {
    ModuleStateGuard state;
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, g_serverClass.clsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return CreateComObject<CClassFactory>(riid, ppv, g_serverClass.create);
} catch (...) {
    return CaughtResult();
}

HRESULT CaughtResult() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// The library's own handler would print the exception's demangled name to a
// console that Explorer does not have, and its demangler is a third of the
// DLL's size. Explorer's process ends the same way without it.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

STDAPI DllCanUnloadNow() { return g_cDllObjects.load() == 0 ? S_OK : S_FALSE; }
