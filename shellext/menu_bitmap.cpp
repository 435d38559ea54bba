// The menu's bitmaps, shared by every handler of the process and kept until
// the DLL unloads, so a menu still on screen after its handler is gone never
// shows a deleted bitmap: the 13x13 check-mark bitmap of Windows XP, and on
// Vista and later the item bitmap, made once for each size asked for.
#include "module.h"
#include "res/resource.h"

#include <shellscalingapi.h>

#include <algorithm>
#include <iterator>

namespace {

// Plain handles, not owners: the C runtime's exit code must not free them
// while the process ends. ReleaseMenuBitmaps does, at an unload.
INIT_ONCE g_checkMarkOnce = INIT_ONCE_STATIC_INIT;
HBITMAP g_checkMark = nullptr;

BOOL CALLBACK LoadCheckMark(PINIT_ONCE, PVOID, PVOID*) {
    g_checkMark = LoadBitmapW(ModuleInstance(), MAKEINTRESOURCEW(IDB_MENU_13));
    return TRUE;
}

// One bitmap per thread and size: a menu draws its item bitmap by selecting it
// into a memory DC, and a bitmap can be selected into one DC at a time, so
// two Explorer windows (two threads) drawing their menus at once must not
// share one. A thread's menus end with it, so an ended thread's slot is free.
// Monitors of different scales, and scales changed while Explorer runs, each
// bring a size. One lock guards the slots.
SRWLOCK g_itemLock = SRWLOCK_INIT;
struct ItemBitmapSlot {
    DWORD thread;
    int size;  // 0: free
    HBITMAP bitmap;
};
ItemBitmapSlot g_itemBitmaps[16];

bool ThreadEnded(DWORD id) {
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (!thread) return true;
    const bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

// user32's are Windows 10 1607 and later, shcore's 8.1 and later: looked up
// here, so that the DLL loads on Windows XP and 7 as well. Without them the
// system metrics are already those of the system DPI.
struct DpiFunctions {
    UINT(WINAPI* forSystem)();
    int(WINAPI* metricsForDpi)(int, UINT);
    DPI_AWARENESS_CONTEXT(WINAPI* threadContext)();
    DPI_AWARENESS(WINAPI* awareness)(DPI_AWARENESS_CONTEXT);
    HRESULT(WINAPI* forMonitor)(HMONITOR, MONITOR_DPI_TYPE, UINT*, UINT*);
};
INIT_ONCE g_dpiOnce = INIT_ONCE_STATIC_INIT;
DpiFunctions g_dpi;

template <typename F>
void Find(F& function, HMODULE module, const char* name) {
    function = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Runs on the first menu's thread, never under the loader lock.
BOOL CALLBACK FindDpiFunctions(PINIT_ONCE, PVOID, PVOID*) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    Find(g_dpi.forSystem, user32, "GetDpiForSystem");
    Find(g_dpi.metricsForDpi, user32, "GetSystemMetricsForDpi");
    Find(g_dpi.threadContext, user32, "GetThreadDpiAwarenessContext");
    Find(g_dpi.awareness, user32, "GetAwarenessFromDpiAwarenessContext");
    // Only on Windows 10, where the rest is: shcore has no GetDpiForMonitor
    // before 8.1, and Windows 7 without its loader update refuses the flag.
    // Pinned for the process: the unload (DllMain, under the loader lock) must
    // not free a library.
    HMODULE shcore = nullptr;
    if (g_dpi.forSystem && g_dpi.metricsForDpi && g_dpi.threadContext && g_dpi.awareness &&
        LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) &&
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"shcore.dll", &shcore))
        shcore = nullptr;
    Find(g_dpi.forMonitor, shcore, "GetDpiForMonitor");
    return TRUE;
}

// The DPI of the monitor under the point of the message being handled, or 0.
// A right-click opens the menu at that point; a menu opened from the keyboard
// opens at the selected item instead, and gets the pointer's monitor.
UINT MonitorDpiAtMessage() {
    // Only a per-monitor aware thread (Explorer's) sees a monitor's own DPI;
    // any other is told the system DPI, or 96, as GetDpiForSystem tells it.
    if (!g_dpi.forMonitor || g_dpi.awareness(g_dpi.threadContext()) != DPI_AWARENESS_PER_MONITOR_AWARE) return 0;
    const DWORD position = GetMessagePos();
    const POINT point = {static_cast<SHORT>(LOWORD(position)), static_cast<SHORT>(HIWORD(position))};
    HMONITOR monitor = MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST);
    UINT x = 0, y = 0;
    if (!monitor || FAILED(g_dpi.forMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y))) return 0;
    return y;
}

#pragma pack(push, 2)
struct GroupIconHeader {
    WORD reserved, type, count;
};
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

const void* ResourceData(LPCWSTR id, LPCWSTR type, DWORD* size) {
    HRSRC res = FindResourceW(ModuleInstance(), id, type);
    HGLOBAL data = res ? LoadResource(ModuleInstance(), res) : nullptr;
    *size = data ? SizeofResource(ModuleInstance(), res) : 0;
    return data ? LockResource(data) : nullptr;
}

// The art's image of exactly this size, else the next larger (scaled down:
// never blurred up), else the largest. A 32-bpp icon image: its header with
// the height doubled, then straight-alpha BGRA rows bottom-up, then the mask.
const BITMAPINFOHEADER* IconImage(int size) {
    DWORD bytes = 0;
    auto* group = static_cast<const GroupIconHeader*>(ResourceData(MAKEINTRESOURCEW(IDI_MENU), RT_GROUP_ICON, &bytes));
    if (!group || bytes < sizeof(*group) || bytes < sizeof(*group) + group->count * sizeof(GroupIconEntry)) return nullptr;
    auto* entries = reinterpret_cast<const GroupIconEntry*>(group + 1);
    const GroupIconEntry* best = nullptr;
    for (WORD i = 0; i < group->count; ++i) {
        const GroupIconEntry& e = entries[i];
        if (e.bitCount != 32 || e.width == 0 || e.width != e.height) continue;
        const bool larger = e.width >= size;
        if (!best || (larger && (best->width < size || e.width < best->width)) || (!larger && e.width > best->width))
            best = &e;
    }
    if (!best) return nullptr;
    auto* image = static_cast<const BITMAPINFOHEADER*>(ResourceData(MAKEINTRESOURCEW(best->id), RT_ICON, &bytes));
    const LONG w = best->width;
    if (!image || bytes < sizeof(*image) || image->biSize < sizeof(*image) || image->biWidth != w ||
        image->biHeight != 2 * w || image->biBitCount != 32 || image->biCompression != BI_RGB ||
        bytes < image->biSize + DWORD(w * w * 4))
        return nullptr;
    return image;
}

// A top-down 32-bpp DIB section with premultiplied alpha, as AlphaBlend and
// the menu want it, resampled from the icon image by area (exact at 1:1).
HBITMAP MakeItemBitmap(int size) {
    const BITMAPINFOHEADER* image = IconImage(size);
    if (!image) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return nullptr;

    const int w = image->biWidth;
    auto* source = reinterpret_cast<const BYTE*>(image) + image->biSize;
    auto* target = static_cast<BYTE*>(bits);
    // In units of 1/(w*size) of the picture: a target pixel spans w, a source pixel size.
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            UINT64 sum[4] = {};
            for (int j = y * w / size; j < w && j * size < (y + 1) * w; ++j) {
                const int oy = std::min((j + 1) * size, (y + 1) * w) - std::max(j * size, y * w);
                const BYTE* row = source + size_t(w - 1 - j) * w * 4;  // bottom-up
                for (int i = x * w / size; i < w && i * size < (x + 1) * w; ++i) {
                    const int ox = std::min((i + 1) * size, (x + 1) * w) - std::max(i * size, x * w);
                    const BYTE* p = row + i * 4;
                    const UINT a = p[3], weight = UINT(ox * oy);
                    for (int c = 0; c < 3; ++c) sum[c] += UINT64((p[c] * a + 127) / 255) * weight;
                    sum[3] += UINT64(a) * weight;
                }
            }
            const UINT64 area = UINT64(w) * w;
            BYTE* out = target + (size_t(y) * size + x) * 4;
            for (int c = 0; c < 4; ++c) out[c] = BYTE((sum[c] + area / 2) / area);
        }
    }
    return bitmap;
}

}  // namespace

HBITMAP CheckMarkBitmap() noexcept {
    InitOnceExecuteOnce(&g_checkMarkOnce, LoadCheckMark, nullptr, nullptr);
    return g_checkMark;
}

// Explorer is per-monitor DPI aware. QueryContextMenu gets no window and the
// popup is placed only after it returns, but it opens where the user clicked:
// the bitmap is sized for that monitor's DPI, else for the system DPI (the
// primary display's scale at sign-in). A DPI-unaware host gets 16 px, and
// Windows stretches its whole menu.
int ItemBitmapSize() noexcept {
    InitOnceExecuteOnce(&g_dpiOnce, FindDpiFunctions, nullptr, nullptr);
    if (!g_dpi.forSystem || !g_dpi.metricsForDpi || !g_dpi.threadContext || !g_dpi.awareness)
        return GetSystemMetrics(SM_CXSMICON);
    UINT dpi = MonitorDpiAtMessage();
    if (dpi == 0) dpi = g_dpi.forSystem();
    return g_dpi.metricsForDpi(SM_CXSMICON, dpi);
}

HBITMAP ItemBitmap(int size) noexcept {
    if (size <= 0 || size > 256) return nullptr;
    const DWORD thread = GetCurrentThreadId();
    AcquireSRWLockExclusive(&g_itemLock);
    ItemBitmapSlot* found = nullptr;
    ItemBitmapSlot* free = nullptr;
    for (ItemBitmapSlot& slot : g_itemBitmaps) {
        if (slot.size == size && slot.thread == thread) found = &slot;
        if (slot.size == 0 && !free) free = &slot;
    }
    for (ItemBitmapSlot* slot = g_itemBitmaps; !found && !free && slot != std::end(g_itemBitmaps); ++slot) {
        if (slot->thread != thread && ThreadEnded(slot->thread)) {
            if (slot->bitmap) DeleteObject(slot->bitmap);
            *slot = {};
            free = slot;
        }
    }
    if (!found && free) {
        *free = {thread, size, MakeItemBitmap(size)};
        found = free;
    }
    // Every slot held by a live thread: no bitmap rather than a shared one.
    HBITMAP bitmap = found ? found->bitmap : nullptr;
    ReleaseSRWLockExclusive(&g_itemLock);
    return bitmap;
}

void ReleaseMenuBitmaps() noexcept {
    if (g_checkMark) DeleteObject(g_checkMark);
    g_checkMark = nullptr;
    for (ItemBitmapSlot& slot : g_itemBitmaps) {
        if (slot.bitmap) DeleteObject(slot.bitmap);
        slot = {};
    }
}
