// What Windows Vista and later draw for a handler's item bitmap, which Wine 8
// draws without its alpha channel: the bitmap from the handler's own menu,
// blended with GdiAlphaBlend (premultiplied, as the menu blends it) onto the
// rows of a light menu, its highlighted row and a dark menu, at the DPI this
// process runs at. Several runs at several DPIs append columns to one picture.
#include "host.h"

#include <wincodec.h>

#include <algorithm>

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

    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    auto scaled = [dpi](int px) { return MulDiv(px, dpi, 96); };
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    HFONT font = CreateFontIndirectW(&metrics.lfMenuFont);

    const int rowHeight = std::max<int>(bm.bmHeight, std::abs(metrics.lfMenuFont.lfHeight)) + scaled(10);
    const int width = scaled(210), headerHeight = scaled(24), height = headerHeight + 3 * rowHeight;
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

    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    const int x0 = oldSize.cx;
    RECT label{x0, 0, x0 + width, headerHeight};
    SetTextColor(dc, RGB(0x60, 0x60, 0x60));
    DrawTextW(dc, (std::to_wstring(MulDiv(100, dpi, 96)) + L" %").c_str(), -1, &label,
              DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    HGDIOBJ oldSource = SelectObject(source, info.hbmpItem);
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    for (int i = 0; i < 3; ++i) {
        const int top = headerHeight + i * rowHeight;
        RECT row{x0 + scaled(4), top, x0 + width - scaled(4), top + rowHeight};
        HBRUSH brush = CreateSolidBrush(kRows[i].background);
        FillRect(dc, &row, brush);
        DeleteObject(brush);
        const int iconX = row.left + scaled(8);
        GdiAlphaBlend(dc, iconX, top + (rowHeight - bm.bmHeight) / 2, bm.bmWidth, bm.bmHeight, source, 0, 0,
                      bm.bmWidth, bm.bmHeight, blend);
        RECT text{iconX + bm.bmWidth + scaled(10), top, row.right, row.bottom};
        SetTextColor(dc, kRows[i].text);
        DrawTextW(dc, first.caption.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    }
    SelectObject(source, oldSource);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldCanvas);
    DeleteDC(source);
    DeleteDC(dc);
    DeleteObject(font);

    const HRESULT hr = SavePng(canvas.get(), pngPath);
    if (FAILED(hr)) {
        Say(L"cannot write " + pngPath + L": " + HrText(hr));
        return kExitHostError;
    }
    Say(L"item bitmap " + std::to_wstring(bm.bmWidth) + L"x" + std::to_wstring(bm.bmHeight) + L" at " +
        std::to_wstring(dpi) + L" DPI blended onto light, highlighted and dark rows; wrote " + pngPath + L": " +
        std::to_wstring(total.cx) + L"x" + std::to_wstring(total.cy) + L" pixels");
    return kExitOk;
}
