// The main window of the Windows build, in pieces that window mode strings
// together and that tests drive one by one (window mode itself ends the
// process).
#pragma once

#include <string>
#include <windows.h>

namespace tv {

// A UI message: lParam is a heap std::wstring (one JSON text) that the window
// procedure owns from the moment the post succeeds.
inline constexpr UINT kUiMessage = WM_APP + 1;

inline constexpr int kMinWindowWidth = 980;
inline constexpr int kMinWindowHeight = 640;
inline constexpr const wchar_t* kWindowClass = L"TarnveilClass";
inline constexpr const wchar_t* kWindowTitle = L"Tarnveil \u2014 Veldrane";

struct WindowRect {
    int left = 0, top = 0, width = 0, height = 0;
};

// Centred, at most 1240 x 820, leaving 20 pixels at the sides and 40 at the
// top and bottom of a smaller screen.
WindowRect mainWindowRect(int screenWidth, int screenHeight);

// The application icon at n x n pixels from a 32-bit premultiplied DIB
// section; null when the bitmap cannot be made. The caller owns it.
HICON appIcon(int n);

// Window start-up up to the web view host: icons, class, window, desktop
// window manager attributes, show. Also installs the UI sink and the host
// hooks. Null (and the log line) when the window cannot be created.
HWND openMainWindow(HINSTANCE instance, int showCommand);

// The main window handle; null until openMainWindow made it. Any thread.
HWND mainWindow();

// Runs the thread's message loop until the quit message (or an error).
void runMessageLoop();

// The UI sink: a heap copy posted to the main window, freed when the post
// fails; nothing without a main window. Any thread.
void postUiText(const std::string& message);

// Clipboard (CF_UNICODETEXT, owned by the main window) and "open folder".
bool setClipboardText(const std::string& text);
void openFolder(const std::string& path);
void installHostHooks();

} // namespace tv
