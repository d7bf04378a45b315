// The host in this process against the fake runtime (found through
// WEBVIEW2_BROWSER_EXECUTABLE_FOLDER): UI messages that arrive before the web
// view is ready are freed and never reach the page, later ones are delivered
// and freed; a page command that throws is logged and the next one still
// runs; the web view follows the client area and hears of window moves.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <stdexcept>

#include "app/win/main_window.h"
#include "app/win/webview_host.h"
#include "base/paths.h"
#include "base/winstr.h"
#include "bridge/host_hooks.h"
#include "bridge/ui_sink.h"
#include "tests/win/support.h"

namespace {

using namespace tvtest;

std::wstring recordPath() {
    return windowsPath(TV_WIN_TEST_WORK) + L"\\inproc-fake.log";
}

std::vector<std::string> record() {
    return readLines(recordPath());
}

bool recorded(const std::string& line) {
    return contains(record(), line);
}

int count(const std::string& line) {
    int n = 0;
    for (const auto& l : record())
        n += l == line;
    return n;
}

std::string lastBounds() {
    std::string last;
    for (const auto& l : record())
        if (l.rfind("put_Bounds ", 0) == 0)
            last = l;
    return last;
}

std::string boundsLine(HWND hwnd) {
    RECT r{};
    GetClientRect(hwnd, &r);
    return "put_Bounds " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
           std::to_string(r.right) + " " + std::to_string(r.bottom);
}

TEST(HostWithFakeRuntime, EarlyUiMessagesAreDroppedLaterOnesDeliveredAllFreed) {
    CreateDirectoryW(windowsPath(TV_WIN_TEST_WORK).c_str(), nullptr);
    DeleteFileW(recordPath().c_str());
    ScopedEnv folder(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER",
                     windowsPath(TV_FAKE_RUNTIME_DIR).c_str());
    ScopedEnv log(L"TV_FAKE_WV2_LOG", recordPath().c_str());
    ScopedEnv mode(L"TV_FAKE_WV2_MODE", nullptr);
    // The first command's handler throws; "ready" after it must still be answered.
    ScopedEnv posts(L"TV_FAKE_WV2_POSTS", L"openfolder;ready");
    const std::wstring logFile = tv::toWide(tv::joinPath(tv::executableDir(), "probe.log"));
    const size_t logStart = logMessages(logFile).size();

    // Before the main window exists the sink has nowhere to post: no copy is made.
    const std::string before = R"({"t":"msg","text":"a message from before the window exists"})";
    AllocationCapture none;
    none.begin();
    tv::postUiText(before);
    none.end();
    EXPECT_EQ(none.blocks(), 0u);

    HWND hwnd = tv::openMainWindow(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    ASSERT_NE(hwnd, nullptr);
    tv::HostHooks hooks = tv::hostHooks();
    hooks.openFolder = [](const std::string&) { throw std::runtime_error("no file manager"); };
    tv::setHostHooks(hooks);
    // Moves before the web view exists reach nobody.
    SetWindowPos(hwnd, nullptr, 30, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    tv::startWebViewHost(hwnd, false);

    // Queued behind the environment callback, ahead of the controller callback.
    const std::string early = R"({"t":"msg","text":"early: the web view is still starting"})";
    AllocationCapture earlyCopy;
    earlyCopy.begin();
    tv::postUiMessage(early);
    earlyCopy.end();
    ASSERT_GE(earlyCopy.blocks(), 2u);

    // The fake page says "ready" after the navigation; the dispatcher answers.
    ASSERT_TRUE(pumpUntil(
        [] { return indexOf(record(), R"(PostWebMessageAsJson {"t":"files")") >= 0; }, 20000))
        << "no files message reached the page";
    EXPECT_TRUE(tv::webViewReady());
    EXPECT_TRUE(earlyCopy.allFreedOnce());
    {
        const auto log = logMessages(logFile);
        const std::vector<std::string> fresh(log.begin() + static_cast<long>(logStart), log.end());
        EXPECT_TRUE(contains(fresh, "exception in page message: no file manager"));
        EXPECT_EQ(count("page message handler returned 0x0"), 3) << "42, openfolder, ready";
    }
    EXPECT_EQ(count("NotifyParentWindowPositionChanged"), 0);
    for (const auto& line : record())
        EXPECT_EQ(line.find("early:"), std::string::npos) << line;

    const std::string late = R"({"t":"msg","text":"late: the page exists now"})";
    AllocationCapture lateCopy;
    lateCopy.begin();
    tv::postUiMessage(late);
    lateCopy.end();
    EXPECT_TRUE(pumpUntil([&] { return recorded("PostWebMessageAsJson " + late); }, 5000));
    EXPECT_TRUE(pumpUntil([&] { return lateCopy.live() == 0; }, 2000));
    EXPECT_TRUE(lateCopy.allFreedOnce());

    // The web view follows the client area through WM_SIZE.
    SetWindowPos(hwnd, nullptr, 0, 0, 1100, 700, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_TRUE(pumpUntil([&] { return lastBounds() == boundsLine(hwnd); }, 3000))
        << lastBounds() << " vs " << boundsLine(hwnd);
    const std::string resized = lastBounds();
    ShowWindow(hwnd, SW_MAXIMIZE);
    EXPECT_TRUE(pumpUntil([&] { return lastBounds() == boundsLine(hwnd); }, 3000))
        << lastBounds() << " vs " << boundsLine(hwnd);
    EXPECT_NE(lastBounds(), resized) << "maximising changes the client area";
    ShowWindow(hwnd, SW_RESTORE);
    EXPECT_TRUE(pumpUntil([&] { return lastBounds() == resized; }, 3000)) << lastBounds();
    ShowWindow(hwnd, SW_MINIMIZE);
    EXPECT_TRUE(pumpUntil([&] { return lastBounds() == "put_Bounds 0 0 0 0"; }, 3000))
        << "minimised: an empty rectangle, not " << lastBounds();
    ShowWindow(hwnd, SW_RESTORE);
    EXPECT_TRUE(pumpUntil([&] { return lastBounds() == resized; }, 3000)) << lastBounds();

    // Moving (WM_MOVE) and being dragged (WM_MOVING) both tell the web view.
    SetWindowPos(hwnd, nullptr, 40, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_TRUE(pumpUntil([] { return count("NotifyParentWindowPositionChanged") >= 1; }, 3000));
    const int afterMove = count("NotifyParentWindowPositionChanged");
    RECT drag{50, 70, 1150, 770};
    EXPECT_EQ(SendMessageW(hwnd, WM_MOVING, WMSZ_LEFT, reinterpret_cast<LPARAM>(&drag)), TRUE);
    EXPECT_EQ(count("NotifyParentWindowPositionChanged"), afterMove + 1);

    for (const auto& line : record())
        EXPECT_EQ(line.rfind("unexpected", 0), std::string::npos) << line;

    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    const DWORD tid = GetCurrentThreadId();
    std::atomic<bool> ended{false};
    std::thread watchdog([&] {
        if (!waitFor([&] { return ended.load(); }, 15000))
            PostThreadMessageW(tid, WM_QUIT, 99, 0);
    });
    tv::runMessageLoop();
    ended = true;
    watchdog.join();
    EXPECT_FALSE(IsWindow(hwnd));
}

} // namespace
