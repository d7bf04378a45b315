// What both window hosts share, with no toolkit in it: the directories and
// the scans path, the window's size rule, minimum size and title, the colours,
// and the texts of start-up failures. The GTK and Win32 backends (app/gtk,
// app/win) only make toolkit calls around these.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace tv {

// What window mode is asked to do; read from the command line once by the
// process entry.
struct WindowOptions {
    bool automation = false; // remote automation of the web view (--cdp)
};

inline constexpr std::string_view kWindowTitle = "Tarnveil \u2014 Veldrane";
inline constexpr int kMinWindowWidth = 980;
inline constexpr int kMinWindowHeight = 640;

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};
// The dark ground shown before the page paints (window and web view alike).
inline constexpr Rgb kGroundColour{14, 10, 22};
// The title bar where the desktop lets us colour it.
inline constexpr Rgb kCaptionColour{20, 14, 32};
inline constexpr Rgb kCaptionTextColour{220, 200, 255};

// "rgb(14, 10, 22)": a colour as CSS writes it.
std::string cssColour(Rgb c);

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

// The main window's rectangle inside a work area: at most 1240 x 820, leaving
// 20 pixels at each side and 40 at top and bottom, centred (offsets halved
// toward zero).
Rect mainWindowRect(const Rect& workArea);

struct HostDirs {
    std::string probeData; // the web view's data directory
    std::string scans;     // the snapshots
};

// Fixes the directories beside the program, hands the scans path to the
// bridge and creates both. Called once by a host before its web view starts.
HostDirs prepareHostDirs();

// Log texts of start-up, shared so both hosts write the same lines.
inline constexpr std::string_view kLogWindowFailed = "CreateWindowExW ERROR";
inline constexpr std::string_view kLogEnvironmentCallFailed =
    "CreateCoreWebView2EnvironmentWithOptions ERROR";
inline constexpr std::string_view kLogEnvironmentFailed = "WebView2 environment ERROR";
inline constexpr std::string_view kLogControllerFailed = "WebView2 controller ERROR";
inline constexpr std::string_view kLogWebViewFailed = "get_CoreWebView2 ERROR";
inline constexpr std::string_view kLogWebViewReady = "PROJECT: Tarnveil | WebView2 готов";

// The oldest web view runtime the host starts; an older one is refused like a
// missing one.
inline constexpr std::string_view kMinRuntimeVersion = "86.0.616.0";

// Compares two versions ("120.0.2210.91", optionally followed by a blank and a
// channel name, as runtimes report themselves) number by number; missing
// numbers count as 0. Negative, 0 or positive as `a` is older, the same or
// newer; nothing when either does not start with a dotted number.
std::optional<int> compareVersions(std::string_view a, std::string_view b);

// The message boxes of a failed start, with their texts in one place.
enum class StartupBox {
    runtimeMissing, // no usable runtime: the environment did not start
    profileBusy,    // another window holds ProbeData with other browser options
    engineMissing,  // Linux: the WebKitGTK web process could not start
};
inline constexpr std::string_view kBoxCaption = "Tarnveil";
// In Russian, or in English when the stored interface language is English
// (the page never loaded, so the box speaks for it).
std::string_view startupBoxText(StartupBox box, bool english = false);
bool interfaceInEnglish();

// Runs `fn` at an edge where the system calls us (a COM callback, a window
// procedure), which no C++ exception may cross: an exception is logged as
// "exception in <where>: <what>" and `fallback` is returned instead.
void logEscapedException(std::string_view where, std::exception_ptr e) noexcept;
template <class R, class Fn> R guardedCall(std::string_view where, R fallback, Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        logEscapedException(where, std::current_exception());
    }
    return fallback;
}

} // namespace tv
