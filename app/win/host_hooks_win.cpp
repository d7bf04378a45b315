#include <cstring>
#include <memory>
#include <windows.h>

#include <shellapi.h> // after windows.h

#include "app/win/main_window.h"
#include "base/winstr.h"
#include "bridge/host_hooks.h"

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
    HWND target = mainWindow();
    if (!target)
        return;
    auto* folder = new std::wstring(toWide(path));
    if (!PostMessageW(target, kOpenFolderMessage, 0, reinterpret_cast<LPARAM>(folder)))
        delete folder;
}

void openFolderNow(HWND owner, LPARAM folder) {
    const std::unique_ptr<std::wstring> path(reinterpret_cast<std::wstring*>(folder));
    if (path)
        ShellExecuteW(owner, L"open", path->c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void installHostHooks() {
    HostHooks hooks;
    hooks.setClipboardText = setClipboardText;
    hooks.openFolder = openFolder;
    setHostHooks(std::move(hooks));
}

} // namespace tv
