#include <algorithm>
#include <atomic>
#include <dwmapi.h>
#include <memory>

#include "app/win/main_window.h"
#include "app/win/webview_host.h"
#include "base/log.h"
#include "base/winstr.h"
#include "bridge/state.h"
#include "bridge/ui_sink.h"

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

void showStartupBox(HWND owner, WPARAM box) {
    const std::wstring text =
        toWide(startupBoxText(static_cast<StartupBox>(box), interfaceInEnglish()));
    MessageBoxW(owner, text.c_str(), toWide(kBoxCaption).c_str(), MB_ICONERROR | MB_OK);
}

LRESULT handleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE:
        resizeWebView(hwnd);
        return 0;
    case WM_MOVE:
        notifyWebViewMoved();
        return 0;
    case WM_MOVING:
        notifyWebViewMoved();
        return TRUE;
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
    case kStartupBoxMessage:
        showStartupBox(hwnd, wParam);
        return 0;
    case kOpenFolderMessage:
        openFolderNow(hwnd, lParam);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return guardedCall("window procedure", LRESULT{0},
                       [&] { return handleMessage(hwnd, msg, wParam, lParam); });
}

void setDwmAttribute(HWND hwnd, DWORD attribute, DWORD value) {
    DwmSetWindowAttribute(hwnd, attribute, &value, sizeof value);
}

} // namespace

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

void postStartupBox(HWND window, StartupBox box) {
    if (window)
        PostMessageW(window, kStartupBoxMessage, static_cast<WPARAM>(box), 0);
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
    wc.hbrBackground = CreateSolidBrush(colourRef(kGroundColour));
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc); // a failure shows up as a failed creation

    const Rect r =
        mainWindowRect({0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
    const std::wstring title = toWide(kWindowTitle);
    HWND hwnd =
        CreateWindowExW(0, kWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, r.x,
                        r.y, r.width, r.height, nullptr, nullptr, instance, nullptr);
    if (!hwnd) {
        logLine(kLogWindowFailed);
        return nullptr;
    }
    gMainWindow.store(hwnd);
    setUiSink([](std::string message) { postUiText(message); });
    installHostHooks();

    setDwmAttribute(hwnd, 20, TRUE);                          // immersive dark mode
    setDwmAttribute(hwnd, 19, TRUE);                          // the same before Windows 10 20H1
    setDwmAttribute(hwnd, 35, colourRef(kCaptionColour));     // caption colour
    setDwmAttribute(hwnd, 36, colourRef(kCaptionTextColour)); // caption text colour

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
