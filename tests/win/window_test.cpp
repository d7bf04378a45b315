// The main window driven in this process, without a web view runtime: size
// rule, minimum size, drawn icons, UI messages dropped and freed, the
// clipboard hook, closing. Needs a display (Xvfb under Wine).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include "app/icon.h"
#include "app/win/main_window.h"
#include "app/win/webview_host.h"
#include "base/paths.h"
#include "base/winstr.h"
#include "bridge/host_hooks.h"
#include "bridge/state.h"
#include "bridge/ui_sink.h"
#include "tests/win/support.h"

namespace {

using namespace tvtest;

uint32_t at(const std::vector<uint32_t>& px, int n, int x, int y) {
    return px[static_cast<size_t>(y) * n + x];
}

TEST(WindowRect, CentredAndBoundedByTheScreen) {
    struct Case {
        int w, h;
        tv::Rect want;
    } cases[] = {
        {1280, 900, {20, 40, 1240, 820}},    // exactly fits the largest size
        {1920, 1080, {340, 130, 1240, 820}}, // capped and centred
        {1024, 768, {20, 40, 984, 688}},     // 20 px at the sides, 40 at top and bottom
        {1025, 769, {20, 40, 985, 689}},     // odd margins are halved toward zero
    };
    for (const Case& c : cases) {
        const tv::Rect r = tv::mainWindowRect({0, 0, c.w, c.h});
        EXPECT_EQ(r.x, c.want.x) << c.w << "x" << c.h;
        EXPECT_EQ(r.y, c.want.y) << c.w << "x" << c.h;
        EXPECT_EQ(r.width, c.want.width) << c.w << "x" << c.h;
        EXPECT_EQ(r.height, c.want.height) << c.w << "x" << c.h;
    }
}

// The drawn icon survives the trip through a DIB section and CreateIconIndirect.
void expectIconPixels(HICON icon, int n) {
    int size = 0;
    const std::vector<uint32_t> px = iconPixels(icon, size);
    ASSERT_EQ(size, n);
    ASSERT_EQ(px.size(), static_cast<size_t>(n) * n);
    if (n == 32) {
        EXPECT_EQ(at(px, n, 16, 16), 0xFFFFDCFFu); // highlight
        EXPECT_EQ(at(px, n, 15, 15), 0xFF14081Eu); // pupil
        EXPECT_EQ(at(px, n, 8, 16), 0xFFBE3CDCu);  // iris
        EXPECT_EQ(at(px, n, 16, 24), 0xFFEBDCF5u); // white below the centre
        EXPECT_EQ(at(px, n, 16, 8), 0xFF461E78u);  // upper lid
        EXPECT_EQ(at(px, n, 2, 16), 0xFFE15A6Eu);  // corner streaks
        EXPECT_EQ(at(px, n, 29, 16), 0xFFE15A6Eu);
        EXPECT_EQ(at(px, n, 0, 0), 0u);
    } else {
        EXPECT_EQ(at(px, n, 8, 8), 0xFFFFDCFFu);
        EXPECT_EQ(at(px, n, 7, 7), 0xFF14081Eu);
        EXPECT_EQ(at(px, n, 8, 4), 0xFF461E78u);
        EXPECT_EQ(at(px, n, 8, 11), 0xFFBE3CDCu);
        EXPECT_EQ(at(px, n, 0, 0), 0u);
    }
    // Every pixel, the translucent glow included (premultiplied, not rounded).
    EXPECT_EQ(px, tv::drawIconPixels(n));
}

TEST(AppIcon, PixelsReadBackFromTheIcon) {
    for (int n : {32, 16}) {
        SCOPED_TRACE(n);
        HICON icon = tv::appIcon(n);
        ASSERT_NE(icon, nullptr);
        expectIconPixels(icon, n);
        DestroyIcon(icon);
    }
}

std::wstring logPath() {
    return tv::toWide(tv::joinPath(tv::executableDir(), "probe.log"));
}

class MainWindow : public ::testing::Test {
protected:
    static inline HWND hwnd = nullptr;
    static inline size_t logStart = 0;

    static void SetUpTestSuite() {
        // No runtime anywhere: no variable, no loader beside the program (the
        // registry of the test prefix has no updater entries).
        SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", nullptr);
        logStart = logMessages(logPath()).size();
        hwnd = tv::openMainWindow(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
        if (hwnd)
            tv::startWebViewHost(hwnd, false);
    }

    void SetUp() override { ASSERT_NE(hwnd, nullptr) << "the main window was not created"; }

    static std::vector<std::string> newLogLines() {
        std::vector<std::string> all = logMessages(logPath());
        return std::vector<std::string>(
            all.begin() + static_cast<long>(std::min(logStart, all.size())), all.end());
    }
};

TEST_F(MainWindow, CreatedWithTheSizeRuleAndTheMinimumSize) {
    EXPECT_EQ(tv::mainWindow(), hwnd);
    wchar_t cls[64] = {}, title[64] = {};
    GetClassNameW(hwnd, cls, 64);
    GetWindowTextW(hwnd, title, 64);
    EXPECT_STREQ(cls, L"TarnveilClass");
    EXPECT_STREQ(title, L"Tarnveil \u2014 Veldrane");
    const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    EXPECT_EQ(style & (WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN),
              WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN);
    EXPECT_TRUE(IsWindowVisible(hwnd));

    // The screens the tests run on (see tests/win/CMakeLists.txt). On 800 x 600
    // the rule gives 760 x 520, which creation raises to the minimum size.
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    RECT want{};
    if (sw == 1024 && sh == 768)
        want = {20, 40, 20 + 984, 40 + 688};
    else if (sw == 800 && sh == 600)
        want = {20, 40, 20 + 980, 40 + 640};
    else
        GTEST_SKIP() << "no expectation for a " << sw << "x" << sh << " screen";
    RECT r{};
    GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.left, want.left);
    EXPECT_EQ(r.top, want.top);
    EXPECT_EQ(r.right, want.right);
    EXPECT_EQ(r.bottom, want.bottom);

    // The window procedure sets the minimum tracking size and nothing else.
    MINMAXINFO mmi{{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}};
    EXPECT_EQ(SendMessageW(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi)), 0);
    EXPECT_EQ(mmi.ptMinTrackSize.x, 980);
    EXPECT_EQ(mmi.ptMinTrackSize.y, 640);
    EXPECT_EQ(mmi.ptReserved.x, 1);
    EXPECT_EQ(mmi.ptMaxSize.y, 4);
    EXPECT_EQ(mmi.ptMaxPosition.x, 5);
    EXPECT_EQ(mmi.ptMaxTrackSize.y, 10);

    // Sizing below the minimum stops there (Wine applies the tracking limits
    // to SetWindowPos as well, which makes the drag limit observable here).
    ASSERT_TRUE(SetWindowPos(hwnd, nullptr, 0, 0, 500, 300, SWP_NOMOVE | SWP_NOZORDER));
    GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.right - r.left, 980);
    EXPECT_EQ(r.bottom - r.top, 640);

    // The class paints the dark ground; the window itself erases nothing.
    LOGBRUSH lb{};
    GetObjectW(reinterpret_cast<HBRUSH>(GetClassLongPtrW(hwnd, GCLP_HBRBACKGROUND)), sizeof lb,
               &lb);
    EXPECT_EQ(lb.lbColor, RGB(14, 10, 22));
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
    ReleaseDC(hwnd, dc);
}

TEST_F(MainWindow, ClassCarriesTheDrawnIcons) {
    {
        SCOPED_TRACE("large");
        expectIconPixels(reinterpret_cast<HICON>(GetClassLongPtrW(hwnd, GCLP_HICON)), 32);
    }
    {
        SCOPED_TRACE("small");
        expectIconPixels(reinterpret_cast<HICON>(GetClassLongPtrW(hwnd, GCLP_HICONSM)), 16);
    }
}

HWND ownMessageBox() {
    struct Find {
        DWORD pid;
        HWND box = nullptr;
    } find{GetCurrentProcessId()};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* f = reinterpret_cast<Find*>(p);
            wchar_t cls[16] = {};
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            GetClassNameW(w, cls, 16);
            if (pid == f->pid && std::wstring(cls) == L"#32770") {
                f->box = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.box;
}

TEST_F(MainWindow, WithoutARuntimeTheFailureIsLoggedAndTheWindowStaysUsable) {
    pumpUntil([] { return false; }, 300); // anything the start left queued
    const auto lines = newLogLines();
    EXPECT_TRUE(contains(lines, "CreateCoreWebView2EnvironmentWithOptions ERROR"));
    EXPECT_FALSE(contains(lines, "PROJECT: Tarnveil | WebView2 готов"));
    EXPECT_EQ(ownMessageBox(), nullptr) << "a failed start call shows no message box";
    EXPECT_FALSE(tv::webViewReady());

    // The directories are made even though the web view did not start.
    const std::wstring dir = tv::toWide(tv::executableDir());
    EXPECT_TRUE(dirExists(dir + L"\\ProbeData"));
    EXPECT_TRUE(dirExists(dir + L"\\scans"));
    EXPECT_EQ(tv::scansPath(), tv::joinPath(tv::executableDir(), "scans"));

    // Still answering and resizable.
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result), 0);
    ASSERT_TRUE(SetWindowPos(hwnd, nullptr, 10, 10, 1000, 700, SWP_NOZORDER));
    RECT r{};
    GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.right - r.left, 1000);
    EXPECT_EQ(r.bottom - r.top, 700);
}

TEST_F(MainWindow, UiMessagesBeforeTheWebViewAreFreedUndelivered) {
    AllocationCapture capture;
    capture.begin();
    // Long enough that the text needs a heap buffer of its own.
    tv::postUiMessage(
        R"({"t":"msg","text":"a UI message that arrives before any web view exists"})");
    capture.end();
    // The copy that travels with the window message (the string and its buffer).
    ASSERT_GE(capture.live(), 2u) << "the sink makes a heap copy for the window message";

    EXPECT_TRUE(pumpUntil([&] { return capture.live() == 0; }, 5000));
    EXPECT_TRUE(capture.allFreedOnce());

    // A null string address is ignored.
    PostMessageW(hwnd, tv::kUiMessage, 0, 0);
    pumpUntil([] { return false; }, 100);
    EXPECT_TRUE(IsWindow(hwnd));
}

TEST_F(MainWindow, ClipboardHookPutsUnicodeText) {
    const auto& hooks = tv::hostHooks();
    ASSERT_TRUE(hooks.setClipboardText);
    ASSERT_TRUE(hooks.openFolder);
    const std::string report = "Отчёт Tarnveil\nстрока 2\tс табуляцией";
    ASSERT_TRUE(hooks.setClipboardText(report));

    auto clipboardText = [] {
        std::wstring text;
        if (OpenClipboard(nullptr)) {
            if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
                if (auto* p = static_cast<const wchar_t*>(GlobalLock(h))) {
                    text = p;
                    GlobalUnlock(h);
                }
            }
            CloseClipboard();
        }
        return text;
    };
    EXPECT_EQ(clipboardText(), tv::toWide(report)) << "line ends as received, no CR added";

    // Another owner holds the clipboard open: the hook reports failure and
    // changes nothing.
    std::atomic<int> state{0};
    std::thread holder([&] {
        HWND w = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        state = OpenClipboard(w) ? 1 : -1;
        while (state == 1)
            Sleep(10);
        CloseClipboard();
        DestroyWindow(w);
    });
    ASSERT_TRUE(waitFor([&] { return state != 0; }, 5000));
    ASSERT_EQ(state.load(), 1);
    EXPECT_FALSE(hooks.setClipboardText("other text"));
    state = 2;
    holder.join();
    EXPECT_EQ(clipboardText(), tv::toWide(report));
}

TEST_F(MainWindow, OpenFolderWaitsForTheWindowProcedure) {
    // Called inside a page-message handler: the shell must not run there, so
    // the hook only queues the folder for the window procedure.
    pumpUntil([] { return false; }, 100);
    tv::hostHooks().openFolder("C:\\Tarnveil\\scans");
    MSG msg{};
    ASSERT_TRUE(
        PeekMessageW(&msg, hwnd, tv::kOpenFolderMessage, tv::kOpenFolderMessage, PM_REMOVE));
    const std::unique_ptr<std::wstring> folder(reinterpret_cast<std::wstring*>(msg.lParam));
    ASSERT_TRUE(folder);
    EXPECT_EQ(*folder, L"C:\\Tarnveil\\scans");
}

TEST(GuardedCall, ExceptionsAreLoggedAndTheFallbackReturned) {
    const size_t before = logMessages(logPath()).size();
    EXPECT_EQ(tv::guardedCall("test edge", 7, [] { return 1; }), 1);
    EXPECT_EQ(tv::guardedCall("test edge", 7, []() -> int { throw std::runtime_error("boom"); }),
              7);
    EXPECT_EQ(tv::guardedCall("test edge", 7, []() -> int { throw 42; }), 7);
    const auto log = logMessages(logPath());
    ASSERT_EQ(log.size(), before + 2);
    EXPECT_EQ(log[before], "exception in test edge: boom");
    EXPECT_EQ(log[before + 1], "exception in test edge: unknown exception");
}

std::atomic<int> gCancelAtDestroy{-1};

LRESULT CALLBACK watchDestroy(int code, WPARAM wParam, LPARAM lParam) {
    const auto* cwp = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && cwp->message == WM_DESTROY && cwp->hwnd == tv::mainWindow())
        gCancelAtDestroy = tv::cancelFlag().load() ? 1 : 0;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Last in the suite: the window goes away.
TEST_F(MainWindow, ClosingSetsCancelFirstThenEndsTheLoop) {
    tv::cancelFlag() = false;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, watchDestroy, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    // Bounded: a loop that never ends is cut by a late WM_QUIT.
    const DWORD tid = GetCurrentThreadId();
    std::atomic<bool> ended{false};
    std::thread watchdog([&] {
        if (!waitFor([&] { return ended.load(); }, 15000))
            PostThreadMessageW(tid, WM_QUIT, 99, 0);
    });
    tv::runMessageLoop();
    ended = true;
    watchdog.join();
    UnhookWindowsHookEx(hook);

    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(tv::cancelFlag().load());
    EXPECT_EQ(gCancelAtDestroy.load(), 1)
        << "the cancel flag is set before the window is destroyed";

    // Posts to the destroyed window fail: the sink frees its copy itself.
    AllocationCapture capture;
    capture.begin();
    tv::postUiMessage(R"({"t":"msg","text":"a UI message posted after the window has gone"})");
    capture.end();
    EXPECT_GE(capture.blocks(), 2u);
    EXPECT_TRUE(capture.allFreedOnce());
}

} // namespace
