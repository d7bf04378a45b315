// The native end of the page's command channel: one call per page command
// (TAB-separated text), on the UI thread. Replies go out through
// postUiMessage. The host extracts the text from its web view; nothing here
// knows web view types.
#pragma once

#include <string>

namespace tv {

void dispatchCommand(const std::string& text);

} // namespace tv
