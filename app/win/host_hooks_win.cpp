#include <cstring>
#include <windows.h>

#include <shellapi.h> // after windows.h

#include "app/win/main_window.h"
#include "bridge/host_hooks.h"
#include "probe/winstr.h"

namespace tv {

bool setClipboardText(const std::string& text) {
    const std::wstring w = toWide(text); // line ends as received
    if (!OpenClipboard(mainWindow()))
        return false;
    bool ok = false;
    if (EmptyClipboard()) {
        const size_t bytes = (w.size() + 1) * sizeof(wchar_t);
        if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
            if (void* p = GlobalLock(mem)) {
                std::memcpy(p, w.c_str(), bytes);
                GlobalUnlock(mem);
                ok = SetClipboardData(CF_UNICODETEXT, mem) != nullptr;
            }
            if (!ok)
                GlobalFree(mem); // still ours when the clipboard did not take it
        }
    }
    CloseClipboard();
    return ok;
}

void openFolder(const std::string& path) {
    ShellExecuteW(mainWindow(), L"open", toWide(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void installHostHooks() {
    HostHooks hooks;
    hooks.setClipboardText = setClipboardText;
    hooks.openFolder = openFolder;
    setHostHooks(std::move(hooks));
}

} // namespace tv
