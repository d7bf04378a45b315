// The native-to-page half of the message channel: the UI sink queue and the
// delivery of queued UI messages into the page. Main thread only, except
// enqueueUiMessage.
#pragma once

#include <string>

#include <webkit2/webkit2.h>

namespace tv::gtkhost {

// Any thread: appends one message and makes sure the main loop will deliver it.
void enqueueUiMessage(std::string message);

// The web view whose page receives UI messages from now on (null: none, every
// message is dropped). Its page counts as not ready until pageReady(true).
void attachChannelView(WebKitWebView* view);

// Whether the attached view's document is loaded (its listeners are in place).
// Messages that arrive while it is not wait and go out, in order, once it is.
void setChannelPageReady(WebKitWebView* view, bool ready);

// The view stopped for good (web content ended): drop what waits and drop
// everything that follows.
void detachChannelView(WebKitWebView* view);

} // namespace tv::gtkhost
