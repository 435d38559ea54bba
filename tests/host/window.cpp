// Explorer's windows as a handler sees them: the view (a child) that it gets
// in CMINVOKECOMMANDINFO::hwnd, inside a top-level frame. Without a display
// Wine makes neither top-level windows nor children of message-only ones, so
// the handler then gets one message-only window, which has no parent.
#include "host.h"

namespace {

constexpr wchar_t kFrameClass[] = L"QuillHostFrame";
constexpr wchar_t kViewClass[] = L"QuillHostView";

LRESULT CALLBACK PassFrame(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* pair = static_cast<std::pair<WNDPROC, void*>*>(create->lpCreateParams);
        proc = pair->first;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(proc));
        SetPropW(hwnd, L"QuillHostData", pair->second);
    }
    if (proc) return proc(hwnd, message, wParam, lParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void RegisterClasses() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    WNDCLASSW frame{};
    frame.lpfnWndProc = PassFrame;
    frame.hInstance = GetModuleHandleW(nullptr);
    frame.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    frame.lpszClassName = kFrameClass;
    RegisterClassW(&frame);
    WNDCLASSW view = frame;
    view.lpfnWndProc = DefWindowProcW;
    view.lpszClassName = kViewClass;
    RegisterClassW(&view);
}

}  // namespace

bool CreateHostWindows(HostWindows* windows, const std::wstring& title, bool visible, WNDPROC frameProc,
                       void* frameData) {
    RegisterClasses();
    std::pair<WNDPROC, void*> create{frameProc ? frameProc : DefWindowProcW, frameData};
    HINSTANCE instance = GetModuleHandleW(nullptr);
    windows->frame.reset(CreateWindowExW(0, kFrameClass, title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 560, 400,
                                         nullptr, nullptr, instance, &create));
    if (!windows->frame && !visible) {
        windows->frame.reset(CreateWindowExW(0, kFrameClass, title.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                             instance, &create));
        windows->view = windows->frame.get();
        return windows->view != nullptr;
    }
    if (!windows->frame) return false;
    RECT client{};
    GetClientRect(windows->frame.get(), &client);
    // Hidden: the frame paints the file list, address line and status bar itself.
    windows->view = CreateWindowExW(0, kViewClass, L"", WS_CHILD, 0, 28, client.right, client.bottom - 52,
                                    windows->frame.get(), nullptr, instance, nullptr);
    if (!windows->view) return false;
    if (visible) {
        ShowWindow(windows->frame.get(), SW_SHOWNORMAL);
        UpdateWindow(windows->frame.get());
    }
    return true;
}
