// Window mode: the main window, the web view host, the message loop, then the
// exit line and the end of the process. Kept apart from the window itself so
// that tests can drive the pieces without ending their own process.
#include "app/win/main_window.h"
#include "app/win/webview_host.h"
#include "app/window.h"
#include "base/log.h"

namespace tv {

int runWindowMode(void* instance, int showCommand, const WindowOptions& options) {
    HWND hwnd = openMainWindow(static_cast<HINSTANCE>(instance), showCommand);
    if (!hwnd)
        return 1; // openMainWindow wrote the log line
    startWebViewHost(hwnd, options.automation);
    runMessageLoop();
    logLine(kExitLine);
    // Running workers, COM, the web view and static objects are left to the
    // system: nothing waits for a scan to finish.
    ExitProcess(0);
}

} // namespace tv
