// The web view host: puts the page into the main window.
//
// startWebViewHost fixes and creates ProbeData and scans beside the program,
// asks the loader for a browser environment and returns; the environment and
// the controller arrive later as callbacks through the UI thread's message
// loop. Once the controller is there the host sizes it, sets the dark ground
// and the settings, registers the page-message handler (before navigating, so
// the page's first message is not missed) and loads the embedded page.
// Everything here runs on the UI thread.
#pragma once

#include <string>
#include <windows.h>

namespace tv {

// Called once by window mode after the window is shown, before the loop.
// `remoteDebugging` ("--cdp") opens the browser's debugging port 9222.
void startWebViewHost(HWND mainWindow, bool remoteDebugging);

// The window procedure's side: these do nothing until the web view exists.
void resizeWebView(HWND mainWindow);
void notifyWebViewMoved();
void postJsonToPage(const std::wstring& json);

// True once the controller callback has stored the web view.
bool webViewReady();

// The switch's extra browser argument.
inline constexpr const wchar_t* kRemoteDebuggingArgument = L"--remote-debugging-port=9222";

} // namespace tv
