// The native end of the page's command channel: one call per page command
// (TAB-separated text), on the UI thread. Replies go out through
// postUiMessage. The host extracts the text from its web view; nothing here
// knows web view types.
//
// Commands: ready, scan, basics, cancel, save, list, load, delete, copy,
// openfolder, lang. A name outside that set, or a command with fewer fields than it
// needs, is ignored without reply or log line. Storage and clipboard work is
// done before the call returns; scans and basic tests go on in their runs.
#pragma once

#include <string>
#include <string_view>

namespace tv {

void dispatchCommand(const std::string& text);

} // namespace tv
