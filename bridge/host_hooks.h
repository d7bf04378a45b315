// Services of the desktop that the dispatcher asks for but cannot provide
// itself: the clipboard and showing the scans folder. The window host installs
// them; without a host (command line, tests) they report failure / do nothing.
#pragma once

#include <functional>
#include <string>

namespace tv {

struct HostHooks {
    // Puts Unicode text on the clipboard; false when the clipboard could not be set.
    std::function<bool(const std::string& text)> setClipboardText;
    // Opens the folder in the desktop's file manager.
    std::function<void(const std::string& path)> openFolder;
};

void setHostHooks(HostHooks hooks);
const HostHooks& hostHooks();

} // namespace tv
