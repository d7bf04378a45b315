// Finding and starting the WebView2 runtime without the SDK's loader library.
//
// A WebView2Loader.dll beside the program is used when it is there. Otherwise
// the runtime folder comes from WEBVIEW2_BROWSER_EXECUTABLE_FOLDER (a
// fixed-version runtime) or from the Edge updater's registration in the
// registry (per machine, then per user; stable channel first), and the
// environment is started through the runtime's own library.
#pragma once

#include <string>

#include "app/win/webview2_abi.h"

namespace tv {

struct WebView2Runtime {
    std::wstring folder; // holds EBWebView\x64\EmbeddedBrowserWebView.dll
    int runtimeType = 0; // 0: installed runtime, 1: fixed-version folder
};

// <folder>\EBWebView\x64\EmbeddedBrowserWebView.dll
std::wstring webView2RuntimeLibrary(const std::wstring& folder);

// The runtime to start. The environment variable, when set and not empty,
// decides alone; registry entries whose folder lacks the runtime library are
// passed over. False when no runtime is found.
bool findWebView2Runtime(WebView2Runtime& out);

// The contract of the loader's CreateCoreWebView2EnvironmentWithOptions: a
// failure code at once, or success and later one call of `handler` on this
// thread. A null `browserExecutableFolder` means "find the runtime".
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when no runtime is found.
HRESULT createWebView2Environment(PCWSTR browserExecutableFolder, PCWSTR userDataFolder,
                                  wv2::EnvironmentOptions* options,
                                  wv2::EnvironmentCompletedHandler* handler);

} // namespace tv
