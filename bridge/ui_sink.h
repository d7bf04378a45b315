// How any thread hands a finished UI message (one JSON text) to the UI thread.
// The host installs the sink once at start, before any run thread exists:
// Win32 posts WM_APP + 1 with a heap copy, GTK queues it on the main loop, the
// command-line front writes it, tests record it. Without a sink messages are
// dropped.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tv {

using UiSink = std::function<void(std::string message)>;

// Not thread-safe against concurrent posts: install before runs start, and
// in tests only while no run is going.
void setUiSink(UiSink sink);

// Callable on any thread; the order of calls is the order of delivery.
void postUiMessage(std::string message);

// Posts a `msg` notice for the user; callable on any thread.
void postNotice(std::string_view text);

} // namespace tv
