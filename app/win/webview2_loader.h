// Finding and starting the WebView2 runtime without the SDK's loader library.
//
// A WebView2Loader.dll beside the program is used when it is there. Otherwise
// the runtime folder comes from WEBVIEW2_BROWSER_EXECUTABLE_FOLDER (a
// fixed-version runtime) or from the Edge updater's registration in the
// registry (per machine, then per user; stable channel first), and the
// environment is started through the runtime's own library.
//
// A relative runtime folder (the variable's or the caller's) is taken from the
// program's directory, as the SDK's loader does, never from the working
// directory.
#pragma once

#include <string>

#include "app/win/webview2_abi.h"

namespace tv {

struct WebView2Runtime {
    std::wstring folder; // holds EBWebView\x64\EmbeddedBrowserWebView.dll
    int runtimeType = 0; // 0: installed runtime, 1: fixed-version folder
    // Set when the SDK's loader beside the program does the work instead; it
    // is then handed the caller's folder unchanged (null: find the runtime).
    wv2::CreateEnvironmentWithOptionsFn loaderCreate = nullptr;
    wv2::GetBrowserVersionStringFn loaderVersion = nullptr;
    std::wstring loaderFolder;
    bool hasLoaderFolder = false;
};

// <folder>\EBWebView\x64\EmbeddedBrowserWebView.dll
std::wstring webView2RuntimeLibrary(const std::wstring& folder);

// A runtime folder as given, made absolute: a relative one is taken from the
// program's directory. Empty when the result would not fit MAX_PATH with the
// runtime library below it (LoadLibraryExW cannot take it); that is logged as
// "<what> too long ERROR".
std::wstring resolveRuntimeFolder(const std::wstring& folder, const char* what);

// The runtime to start. The environment variable, when set and not empty,
// decides alone; registry entries whose folder lacks the runtime library are
// passed over. False when no runtime is found.
bool findWebView2Runtime(WebView2Runtime& out);

// The loader beside the program, else the runtime folder (the given one or the
// found one). HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when there is neither.
HRESULT locateWebView2(PCWSTR browserExecutableFolder, WebView2Runtime& out);

// The runtime's version as GetAvailableCoreWebView2BrowserVersionString gives
// it: the loader's own answer when the loader is used; for an installed
// runtime the name of its versioned folder; for a fixed-version folder the
// product version in the runtime library's version record. Each falls back to
// the other way; empty when neither gives a dotted number.
std::wstring webView2RuntimeVersion(const WebView2Runtime& runtime);

// The contract of the loader's CreateCoreWebView2EnvironmentWithOptions: a
// failure code at once, or success and later one call of `handler` on this
// thread.
HRESULT startWebView2Environment(const WebView2Runtime& runtime, PCWSTR userDataFolder,
                                 wv2::EnvironmentOptions* options,
                                 wv2::EnvironmentCompletedHandler* handler);

// locateWebView2, then startWebView2Environment.
HRESULT createWebView2Environment(PCWSTR browserExecutableFolder, PCWSTR userDataFolder,
                                  wv2::EnvironmentOptions* options,
                                  wv2::EnvironmentCompletedHandler* handler);

} // namespace tv
