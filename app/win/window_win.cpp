#include <algorithm>
#include <atomic>
#include <dwmapi.h>
#include <memory>

#include "app/log.h"
#include "app/win/main_window.h"
#include "app/win/webview_host.h"
#include "bridge/state.h"
#include "bridge/ui_sink.h"
#include "probe/winstr.h"

namespace tv {
namespace {

// Written once on the UI thread right after creation; read by any thread
// that posts a UI message.
std::atomic<HWND> gMainWindow{nullptr};

void deliverUiMessage(LPARAM lParam) {
    // The string belongs to this message: freed here whether or not a page
    // exists to take it.
    std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
    if (text)
        postJsonToPage(*text);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE:
        resizeWebView(hwnd);
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = kMinWindowWidth;
        info->ptMinTrackSize.y = kMinWindowHeight;
        return 0;
    }
    case WM_ERASEBKGND:
        return 1; // the web view covers everything
    case WM_CLOSE:
        cancelFlag().exchange(true); // running work stops before the window goes
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case kUiMessage:
        deliverUiMessage(lParam);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

void setDwmAttribute(HWND hwnd, DWORD attribute, DWORD value) {
    DwmSetWindowAttribute(hwnd, attribute, &value, sizeof value);
}

} // namespace

WindowRect mainWindowRect(int screenWidth, int screenHeight) {
    WindowRect r;
    r.width = std::min(1240, screenWidth - 40);
    r.height = std::min(820, screenHeight - 80);
    r.left = (screenWidth - r.width) / 2;
    r.top = (screenHeight - r.height) / 2;
    return r;
}

HWND mainWindow() {
    return gMainWindow.load();
}

void postUiText(const std::string& message) {
    HWND target = gMainWindow.load();
    if (!target)
        return;
    auto* text = new std::wstring(toWide(message));
    if (!PostMessageW(target, kUiMessage, 0, reinterpret_cast<LPARAM>(text)))
        delete text; // the window is gone or its queue is full: nobody else will
}

HWND openMainWindow(HINSTANCE instance, int showCommand) {
    HICON large = appIcon(32);
    HICON small = appIcon(16);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = 0;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon = large ? large : LoadIconW(nullptr, IDI_APPLICATION);
    wc.hIconSm = small ? small : LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = CreateSolidBrush(RGB(14, 10, 22));
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc); // a failure shows up as a failed creation

    const WindowRect r =
        mainWindowRect(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    HWND hwnd =
        CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                        r.left, r.top, r.width, r.height, nullptr, nullptr, instance, nullptr);
    if (!hwnd) {
        logLine("CreateWindowExW ERROR");
        return nullptr;
    }
    gMainWindow.store(hwnd);
    setUiSink([](std::string message) { postUiText(message); });
    installHostHooks();

    setDwmAttribute(hwnd, 20, TRUE);               // immersive dark mode
    setDwmAttribute(hwnd, 19, TRUE);               // the same before Windows 10 20H1
    setDwmAttribute(hwnd, 35, RGB(20, 14, 32));    // caption colour
    setDwmAttribute(hwnd, 36, RGB(220, 200, 255)); // caption text colour

    ShowWindow(hwnd, showCommand);
    UpdateWindow(hwnd);
    return hwnd;
}

void runMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

} // namespace tv
