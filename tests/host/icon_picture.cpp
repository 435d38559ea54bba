// What Windows Vista and later draw for a handler's item bitmap, which Wine 8
// draws without its alpha channel: the bitmap from the handler's own menu,
// blended with GdiAlphaBlend (premultiplied, as the menu blends it) onto the
// rows of a light menu, its highlighted row and a dark menu, at the DPI this
// process runs at. Several runs at several DPIs append columns to one picture.
#include "host.h"

#include <wincodec.h>

#include <algorithm>
#include <functional>

namespace {

struct Row {
    const wchar_t* name;
    COLORREF background, text;
};
// Windows 10's menu colours: light, the highlighted item, dark.
constexpr Row kRows[] = {
    {L"light", RGB(0xF2, 0xF2, 0xF2), RGB(0, 0, 0)},
    {L"highlighted", RGB(0x91, 0xC9, 0xF7), RGB(0, 0, 0)},
    {L"dark", RGB(0x2B, 0x2B, 0x2B), RGB(0xFF, 0xFF, 0xFF)},
};

HBITMAP MakeCanvas(int width, int height, void** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

// The picture already in the file, as 32-bpp rows; false when there is none.
bool LoadPng(const std::wstring& path, UniqueBitmap* bitmap, SIZE* size) {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICBitmapSource> converted;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                factory.put_void())) ||
        FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  decoder.put())) ||
        FAILED(decoder->GetFrame(0, frame.put())) ||
        FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.get(), converted.put())))
        return false;
    UINT width = 0, height = 0;
    converted->GetSize(&width, &height);
    void* bits = nullptr;
    bitmap->reset(MakeCanvas(int(width), int(height), &bits));
    *size = {LONG(width), LONG(height)};
    return *bitmap && SUCCEEDED(converted->CopyPixels(nullptr, width * 4, width * height * 4, static_cast<BYTE*>(bits)));
}

// Rows of menu colours with the picture drawn by `draw` (at x, centred in a
// row of `top` and `height`) and the caption, a column per run; `what` says
// what was drawn.
int DrawRows(const Row* rows, int count, int pictureSize, const std::wstring& caption,
             const std::function<void(HDC, int x, int y)>& draw, const std::wstring& pngPath, bool append,
             const std::wstring& what) {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    auto scaled = [dpi](int px) { return MulDiv(px, dpi, 96); };
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    HFONT font = CreateFontIndirectW(&metrics.lfMenuFont);

    const int rowHeight = std::max<int>(pictureSize, std::abs(metrics.lfMenuFont.lfHeight)) + scaled(10);
    const int width = scaled(210), headerHeight = scaled(24), height = headerHeight + count * rowHeight;
    SIZE oldSize{};
    UniqueBitmap old;
    if (!append || !LoadPng(pngPath, &old, &oldSize)) oldSize = {};
    const SIZE total{oldSize.cx + width, std::max<LONG>(oldSize.cy, height)};
    void* bits = nullptr;
    UniqueBitmap canvas(MakeCanvas(total.cx, total.cy, &bits));
    HDC dc = CreateCompatibleDC(nullptr), source = CreateCompatibleDC(nullptr);
    HGDIOBJ oldCanvas = SelectObject(dc, canvas.get());
    const RECT all{0, 0, total.cx, total.cy};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (old) {
        HGDIOBJ was = SelectObject(source, old.get());
        BitBlt(dc, 0, 0, oldSize.cx, oldSize.cy, source, 0, 0, SRCCOPY);
        SelectObject(source, was);
    }
    DeleteDC(source);

    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    const int x0 = oldSize.cx;
    RECT label{x0, 0, x0 + width, headerHeight};
    SetTextColor(dc, RGB(0x60, 0x60, 0x60));
    DrawTextW(dc, (std::to_wstring(MulDiv(100, dpi, 96)) + L" %").c_str(), -1, &label,
              DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    for (int i = 0; i < count; ++i) {
        const int top = headerHeight + i * rowHeight;
        RECT row{x0 + scaled(4), top, x0 + width - scaled(4), top + rowHeight};
        HBRUSH brush = CreateSolidBrush(rows[i].background);
        FillRect(dc, &row, brush);
        DeleteObject(brush);
        const int iconX = row.left + scaled(8);
        draw(dc, iconX, top + (rowHeight - pictureSize) / 2);
        RECT text{iconX + pictureSize + scaled(10), top, row.right, row.bottom};
        SetTextColor(dc, rows[i].text);
        DrawTextW(dc, caption.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    }
    SelectObject(dc, oldFont);
    SelectObject(dc, oldCanvas);
    DeleteDC(dc);
    DeleteObject(font);

    const HRESULT hr = SavePng(canvas.get(), pngPath);
    if (FAILED(hr)) {
        Say(L"cannot write " + pngPath + L": " + HrText(hr));
        return kExitHostError;
    }
    Say(what + L" at " + std::to_wstring(dpi) + L" DPI; wrote " + pngPath + L": " + std::to_wstring(total.cx) + L"x" +
        std::to_wstring(total.cy) + L" pixels");
    return kExitOk;
}

}  // namespace

int DrawItemBitmap(const ContextMenuHost& host, const std::wstring& pngPath, bool append) {
    MenuLine first;
    for (const MenuLine& line : host.Lines())
        if (!line.separator && line.owner >= 0) {
            first = line;
            break;
        }
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_BITMAP;
    BITMAP bm{};
    if (first.caption.empty() || !GetMenuItemInfoW(host.Menu(), first.position, TRUE, &info) || !info.hbmpItem ||
        info.hbmpItem == HBMMENU_CALLBACK || !GetObjectW(info.hbmpItem, sizeof(bm), &bm)) {
        Say(L"no handler item with an item bitmap");
        return kExitNotFound;
    }
    HDC source = CreateCompatibleDC(nullptr);
    HGDIOBJ oldSource = SelectObject(source, info.hbmpItem);
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    const int rc = DrawRows(
        kRows, 3, bm.bmHeight, first.caption,
        [&](HDC dc, int x, int y) {
            GdiAlphaBlend(dc, x, y, bm.bmWidth, bm.bmHeight, source, 0, 0, bm.bmWidth, bm.bmHeight, blend);
        },
        pngPath, append,
        L"item bitmap " + std::to_wstring(bm.bmWidth) + L"x" + std::to_wstring(bm.bmHeight) +
            L" blended onto light, highlighted and dark rows");
    SelectObject(source, oldSource);
    DeleteDC(source);
    return rc;
}

int DrawCommandIcon(const std::wstring& location, const std::wstring& title, const std::wstring& pngPath,
                    bool append) {
    // Windows 11's menu: light, its highlighted item, dark, its highlighted item.
    static const Row kWindows11Rows[] = {
        {L"light", RGB(0xF9, 0xF9, 0xF9), RGB(0, 0, 0)},
        {L"light, highlighted", RGB(0xF0, 0xF0, 0xF0), RGB(0, 0, 0)},
        {L"dark", RGB(0x2C, 0x2C, 0x2C), RGB(0xFF, 0xFF, 0xFF)},
        {L"dark, highlighted", RGB(0x3D, 0x3D, 0x3D), RGB(0xFF, 0xFF, 0xFF)},
    };
    const size_t comma = location.rfind(L',');
    HMODULE file = comma == std::wstring::npos
                       ? nullptr
                       : LoadLibraryExW(location.substr(0, comma).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const int id = comma == std::wstring::npos ? 0 : -_wtoi(location.c_str() + comma + 1);
    // The small-icon size at this DPI, as the menu asks for it.
    const int size = GetSystemMetrics(SM_CXSMICON);
    HICON icon = file && id > 0 ? static_cast<HICON>(LoadImageW(file, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0))
                                : nullptr;
    if (!icon) {
        Say(L"cannot load the icon " + location);
        if (file) FreeLibrary(file);
        return kExitNotFound;
    }
    const int rc = DrawRows(
        kWindows11Rows, 4, size, title,
        [&](HDC dc, int x, int y) { DrawIconEx(dc, x, y, icon, size, size, 0, nullptr, DI_NORMAL); }, pngPath,
        append, L"command icon " + std::to_wstring(size) + L"x" + std::to_wstring(size) +
                    L" on Windows 11's light and dark menu rows");
    DestroyIcon(icon);
    FreeLibrary(file);
    return rc;
}
