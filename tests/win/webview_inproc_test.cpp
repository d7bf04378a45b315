// The host in this process against the fake runtime (found through
// WEBVIEW2_BROWSER_EXECUTABLE_FOLDER): UI messages that arrive before the web
// view is ready are freed and never reach the page, later ones are delivered
// and freed; the web view follows the client area.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/win/main_window.h"
#include "app/win/webview_host.h"
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

    // Before the main window exists the sink has nowhere to post: no copy is made.
    const std::string before = R"({"t":"msg","text":"a message from before the window exists"})";
    AllocationCapture none;
    none.begin();
    tv::postUiText(before);
    none.end();
    EXPECT_EQ(none.blocks(), 0u);

    HWND hwnd = tv::openMainWindow(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    ASSERT_NE(hwnd, nullptr);
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
