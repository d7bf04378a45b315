// The Linux desktop host: the GTK 3 main window and the WebKitGTK web view
// that shows the embedded page. Window mode (window_gtk.cpp) puts the pieces
// together; each piece is usable on its own so the end-to-end tests can drive
// it in-process.
//
// Threads: everything here runs on the GTK main thread except the UI sink,
// which any thread may call (it only queues and wakes the main loop).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "app/host.h"

namespace tv::gtkhost {

// The work area of the primary monitor (the first monitor when none is
// marked primary).
Rect primaryWorkArea();

// The drawn application icon at n x n as a pixbuf (straight RGBA); null when
// n is not positive or the pixbuf cannot be made. Caller owns the reference.
GdkPixbuf* iconPixbuf(int n);

// The sizes put on the window: 16 and 32 as on every desktop, 48, 64 and 128
// for launchers and task switchers.
inline constexpr int kIconSizes[] = {16, 32, 48, 64, 128};

// The main window: title, size rule, minimum size, dark ground, icons. Not
// shown yet. Closing it (delete-event) sets the cancel flag first.
GtkWindow* createMainWindow();

struct WebHostConfig {
    std::string dataDir;     // the web view's data and cache base (ProbeData)
    std::string_view page;   // the HTML document to show
    bool automation = false; // WebDriver may drive the window (--cdp)
    // Receives each string the page posts, in order, on the main thread.
    std::function<void(const std::string&)> onCommand;
};

// Creates the web view inside `window` (which it fills), wires the message
// channel, refuses navigation away from the page, and starts loading the page.
// Web view start failures are logged and, when the web content cannot start,
// shown in a message dialog. Returns the web view (owned by the window).
WebKitWebView* startWebHost(GtkWindow* window, const WebHostConfig& config);

// Installs the UI sink: each message posted from any thread is handed to the
// main loop and delivered to the page in posting order. Before a web view
// exists, messages are dropped; while its page is still loading they wait.
void installUiSink();

// Installs the clipboard and open-folder services for the dispatcher.
void installDesktopHooks();

// The web view host of window mode: directories, scans path, sink, hooks, web
// view with the embedded page. Called once, after the window is shown.
WebKitWebView* startWindowModeHost(GtkWindow* window, const WindowOptions& options);

} // namespace tv::gtkhost
