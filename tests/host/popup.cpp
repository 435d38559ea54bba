// The real popup menu on a display: a folder window with the selection, the
// menu tracked over it, one item highlighted (its help text in the status bar,
// as Explorer shows it), the screen captured and written as a PNG through WIC.
#include "host.h"

#include <wincodec.h>

#include <algorithm>
#include <set>

namespace {

constexpr UINT_PTR kCaptureTimer = 1;
constexpr UINT kSettleMs = 500;  // Wine flushes window surfaces to X lazily
constexpr int kHeaderHeight = 28, kStatusHeight = 24, kRowHeight = 20;

struct PopupState {
    const ContextMenuHost* host = nullptr;
    const ShellSelection* selection = nullptr;
    UINT downPresses = 0;  // keys that move the highlight onto the chosen item
    int stage = 0;         // 0 menu not yet idle, 1 keys sent, 2 captured
    std::wstring status;
    std::wstring capturedStatus;  // the status bar in the picture
    UniqueBitmap capture;
    SIZE size{};
    RECT menu{};  // the popup menu's window within the capture; empty when none was up
};

PopupState* StateOf(HWND hwnd) { return static_cast<PopupState*>(GetPropW(hwnd, L"QuillHostData")); }

std::wstring FileName(const std::wstring& path) {
    std::wstring name = path;
    while (name.size() > 3 && name.back() == L'\\') name.pop_back();
    const size_t slash = name.find_last_of(L'\\');
    return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

void Paint(HWND hwnd, const PopupState& state) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);

    RECT header{0, 0, client.right, kHeaderHeight};
    FillRect(dc, &header, GetSysColorBrush(COLOR_BTNFACE));
    RECT address{8, 5, client.right - 8, kHeaderHeight - 5};
    FillRect(dc, &address, GetSysColorBrush(COLOR_WINDOW));
    FrameRect(dc, &address, GetSysColorBrush(COLOR_BTNSHADOW));
    RECT addressText{address.left + 6, address.top, address.right, address.bottom};
    DrawTextW(dc, state.selection->FolderPath().c_str(), -1, &addressText, DT_SINGLELINE | DT_VCENTER);

    int y = kHeaderHeight + 6;
    const int visibleRows = (client.bottom - kStatusHeight - y) / kRowHeight;
    const std::vector<std::wstring>& paths = state.selection->Paths();
    for (size_t i = 0; i < paths.size() && int(i) < visibleRows; ++i, y += kRowHeight) {
        RECT row{8, y, 260, y + kRowHeight - 2};
        FillRect(dc, &row, GetSysColorBrush(COLOR_HIGHLIGHT));
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
        RECT text{row.left + 6, row.top, row.right, row.bottom};
        DrawTextW(dc, FileName(paths[i]).c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    }

    RECT status{0, client.bottom - kStatusHeight, client.right, client.bottom};
    FillRect(dc, &status, GetSysColorBrush(COLOR_BTNFACE));
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    RECT statusText{status.left + 8, status.top, status.right, status.bottom};
    const std::wstring line =
        state.status.empty() ? std::to_wstring(paths.size()) + L" item(s) selected" : state.status;
    DrawTextW(dc, line.c_str(), -1, &statusText, DT_SINGLELINE | DT_VCENTER);
    SelectObject(dc, oldFont);
    EndPaint(hwnd, &ps);
}

// The frame and the menu's window (class "#32768"), in screen coordinates.
RECT CaptureRect(HWND frame, RECT* menu) {
    RECT rect{};
    GetWindowRect(frame, &rect);
    *menu = {};
    if (HWND popup = FindWindowW(L"#32768", nullptr)) {
        GetWindowRect(popup, menu);
        UnionRect(&rect, &rect, menu);
    }
    rect.left = std::max<LONG>(rect.left, 0);
    rect.top = std::max<LONG>(rect.top, 0);
    rect.right = std::min<LONG>(rect.right, GetSystemMetrics(SM_CXSCREEN));
    rect.bottom = std::min<LONG>(rect.bottom, GetSystemMetrics(SM_CYSCREEN));
    return rect;
}

void Capture(HWND frame, PopupState* state) {
    RECT menu;
    const RECT rect = CaptureRect(frame, &menu);
    state->size = {rect.right - rect.left, rect.bottom - rect.top};
    if (!IsRectEmpty(&menu)) {
        state->menu = menu;
        OffsetRect(&state->menu, -rect.left, -rect.top);
        const RECT picture{0, 0, state->size.cx, state->size.cy};
        IntersectRect(&state->menu, &state->menu, &picture);
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    state->capture.reset(CreateCompatibleBitmap(screen, state->size.cx, state->size.cy));
    HGDIOBJ old = SelectObject(memory, state->capture.get());
    BitBlt(memory, 0, 0, state->size.cx, state->size.cy, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// Distinct colours inside the menu's part of the capture: a screen that
// could not be read back, or a menu that never painted, gives one or two.
size_t CountColours(const PopupState& state) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = state.size.cx;
    info.bmiHeader.biHeight = -state.size.cy;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(size_t(state.size.cx) * state.size.cy);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, state.capture.get(), 0, state.size.cy, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != state.size.cy) return 0;
    std::set<DWORD> colours;
    for (LONG y = state.menu.top; y < state.menu.bottom; ++y)
        for (LONG x = state.menu.left; x < state.menu.right; ++x) colours.insert(pixels[size_t(y) * state.size.cx + x] & 0xFFFFFF);
    return colours.size();
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    PopupState* state = StateOf(hwnd);
    if (!state) return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_PAINT:
        Paint(hwnd, *state);
        return 0;
    case WM_MENUSELECT: {
        // A host with a status bar asks for the help text of the item under the pointer.
        const UINT id = LOWORD(wParam);
        state->status = (HIWORD(wParam) & (MF_SEPARATOR | MF_POPUP)) ? L"" : state->host->HelpText(id);
        RECT client;
        GetClientRect(hwnd, &client);
        client.top = client.bottom - kStatusHeight;
        InvalidateRect(hwnd, &client, FALSE);
        UpdateWindow(hwnd);
        return 0;
    }
    case WM_ENTERIDLE:
        // Sent by the menu loop once the menu is up and no input is waiting.
        if (wParam == MSGF_MENU && state->stage == 0) {
            state->stage = 1;
            for (UINT i = 0; i < state->downPresses; ++i) PostMessageW(hwnd, WM_KEYDOWN, VK_DOWN, 0);
            SetTimer(hwnd, kCaptureTimer, kSettleMs, nullptr);
        }
        return 0;
    case WM_TIMER:
        if (wParam == kCaptureTimer && state->stage == 1) {
            KillTimer(hwnd, kCaptureTimer);
            Capture(hwnd, state);
            state->capturedStatus = state->status;
            state->stage = 2;
            EndMenu();
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// VK_DOWN presses that bring the highlight from nothing onto the item with
// this caption: the menu loop skips separators.
UINT PressesFor(const ContextMenuHost& host, const std::wstring& caption) {
    UINT presses = 0;
    for (const MenuLine& line : host.Lines()) {
        if (line.separator) continue;
        ++presses;
        if (line.caption == caption) return presses;
    }
    return 0;
}

}  // namespace

HRESULT SavePng(HBITMAP bitmap, const std::wstring& path) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IWICImagingFactory), factory.put_void());
    if (FAILED(hr)) return hr;
    ComPtr<IWICBitmap> source;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(hr = factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, source.put())) ||
        FAILED(hr = factory->CreateStream(stream.put())) ||
        FAILED(hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
        FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) ||
        FAILED(hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) ||
        FAILED(hr = encoder->CreateNewFrame(frame.put(), nullptr)) || FAILED(hr = frame->Initialize(nullptr)))
        return hr;
    UINT width = 0, height = 0;
    source->GetSize(&width, &height);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(hr = frame->SetSize(width, height)) || FAILED(hr = frame->SetPixelFormat(&format)) ||
        FAILED(hr = frame->WriteSource(source.get(), nullptr)) || FAILED(hr = frame->Commit()))
        return hr;
    return encoder->Commit();
}

int ShowPopup(const ContextMenuHost& host, const ShellSelection& selection, const std::wstring& title,
              const std::wstring& pngPath, const std::wstring& highlight) {
    PopupState state;
    state.host = &host;
    state.selection = &selection;
    state.downPresses = highlight.empty() ? 0 : PressesFor(host, highlight);
    if (!highlight.empty() && state.downPresses == 0) {
        Say(L"no menu item \"" + highlight + L"\" to highlight");
        return kExitNotFound;
    }
    HostWindows windows;
    if (!CreateHostWindows(&windows, title, true, FrameProc, &state)) {
        Say(L"cannot make a window (is there a display?): error " + std::to_wstring(GetLastError()));
        return kExitHostError;
    }
    RECT frame;
    GetWindowRect(windows.frame.get(), &frame);
    SetForegroundWindow(windows.frame.get());
    TrackPopupMenuEx(host.Menu(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD,
                     frame.left + 150, frame.top + 90, windows.frame.get(), nullptr);
    if (state.stage != 2 || !state.capture) {
        Say(L"the menu never became idle; nothing captured");
        return kExitHostError;
    }
    if (IsRectEmpty(&state.menu)) {
        Say(L"no menu window on the screen; nothing captured");
        return kExitHostError;
    }
    Say(L"menu window: " + std::to_wstring(state.menu.right - state.menu.left) + L"x" +
        std::to_wstring(state.menu.bottom - state.menu.top) + L" pixels at " + std::to_wstring(state.menu.left) + L"," +
        std::to_wstring(state.menu.top) + L", " + std::to_wstring(CountColours(state)) + L" colours");
    Say(L"status bar: " + state.capturedStatus);
    const HRESULT hr = SavePng(state.capture.get(), pngPath);
    if (FAILED(hr)) {
        Say(L"cannot write " + pngPath + L": " + HrText(hr));
        return kExitHostError;
    }
    Say(L"wrote " + pngPath + L": " + std::to_wstring(state.size.cx) + L"x" + std::to_wstring(state.size.cy) +
        L" pixels");
    return kExitOk;
}
