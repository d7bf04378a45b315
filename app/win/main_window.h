// The main window of the Windows build, in pieces that window mode strings
// together and that tests drive one by one (window mode itself ends the
// process).
#pragma once

#include <string>
#include <windows.h>

#include "app/host.h"

namespace tv {

// A UI message: lParam is a heap std::wstring (one JSON text) that the window
// procedure owns from the moment the post succeeds.
inline constexpr UINT kUiMessage = WM_APP + 1;

// Work that must not run inside a web view callback (a modal box, the shell
// opening a folder: both run nested message loops, which the runtime does not
// allow in its handlers) is posted to the main window and done by its window
// procedure once the callback has returned.
// wParam: a StartupBox.
inline constexpr UINT kStartupBoxMessage = WM_APP + 2;
// lParam: a heap std::wstring (the folder), owned by the window procedure
// from the moment the post succeeds.
inline constexpr UINT kOpenFolderMessage = WM_APP + 3;

inline constexpr const wchar_t* kWindowClass = L"TarnveilClass";

// A colour of the shared palette as a GDI COLORREF.
inline COLORREF colourRef(Rgb c) {
    return RGB(c.r, c.g, c.b);
}

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

// Shows the box later, owned by `window`, from its window procedure.
void postStartupBox(HWND window, StartupBox box);

// Clipboard (CF_UNICODETEXT, owned by the main window) and "open folder"
// (posted as kOpenFolderMessage; openFolderNow is the window procedure's part).
bool setClipboardText(const std::string& text);
void openFolder(const std::string& path);
void openFolderNow(HWND owner, LPARAM folder);
void installHostHooks();

} // namespace tv
