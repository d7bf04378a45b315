#include "app/gtk/channel_gtk.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tv::gtkhost {
namespace {

// Calls the page's delivery function (installed by the shim) with a batch of
// JSON texts. The texts travel as function arguments (a dictionary "0".."n-1",
// since arguments cannot be arrays), never as script source, so no message
// text can break out into code.
constexpr const char* kDeliverBody =
    "var a = []; for (var i = 0; i < n; i++) a.push(m[i]); window.__tarnveilDeliver(a);";
// Messages per script call: large batches of a fast scan go out in pieces so
// the page stays responsive between them.
constexpr size_t kBatchLimit = 256;

// Filled by any thread, drained on the main loop. At most one drain is
// scheduled at a time, and it takes everything queued so far, so delivery
// order is the order in which posts took the lock.
struct Inbox {
    std::mutex mu;
    std::vector<std::string> items;
    bool drainScheduled = false;
};

Inbox& inbox() {
    // Never destroyed: run threads may still post while the process ends.
    static Inbox* in = new Inbox;
    return *in;
}

// Main thread only.
struct PageState {
    WebKitWebView* view = nullptr;
    bool ready = false;
    std::vector<std::string> waiting;
};

PageState& page() {
    static PageState p;
    return p;
}

void sendBatch(WebKitWebView* view, const std::vector<std::string>& items, size_t from, size_t to) {
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a{sv}"));
    int32_t added = 0;
    for (size_t i = from; i < to; ++i) {
        const std::string& m = items[i];
        // A NUL cannot be part of a JSON text; such a message is not deliverable.
        if (m.find('\0') != std::string::npos)
            continue;
        const std::string key = std::to_string(added);
        if (g_utf8_validate(m.data(), static_cast<gssize>(m.size()), nullptr)) {
            g_variant_builder_add(&list, "{sv}", key.c_str(), g_variant_new_string(m.c_str()));
        } else {
            gchar* valid = g_utf8_make_valid(m.data(), static_cast<gssize>(m.size()));
            g_variant_builder_add(&list, "{sv}", key.c_str(), g_variant_new_string(valid));
            g_free(valid);
        }
        ++added;
    }
    GVariant* texts = g_variant_builder_end(&list);
    if (added == 0) {
        g_variant_unref(g_variant_ref_sink(texts));
        return;
    }
    GVariantBuilder args;
    g_variant_builder_init(&args, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&args, "{sv}", "m", texts);
    g_variant_builder_add(&args, "{sv}", "n", g_variant_new_int32(added));
    GVariant* arguments = g_variant_ref_sink(g_variant_builder_end(&args));
    webkit_web_view_call_async_javascript_function(view, kDeliverBody, -1, arguments, nullptr,
                                                   nullptr, nullptr, nullptr, nullptr);
    g_variant_unref(arguments);
}

void deliver(WebKitWebView* view, const std::vector<std::string>& items) {
    for (size_t from = 0; from < items.size(); from += kBatchLimit)
        sendBatch(view, items, from, std::min(items.size(), from + kBatchLimit));
}

gboolean drainInbox(gpointer) {
    std::vector<std::string> items;
    {
        Inbox& in = inbox();
        std::lock_guard<std::mutex> lock(in.mu);
        items.swap(in.items);
        in.drainScheduled = false;
    }
    PageState& p = page();
    if (!p.view)
        return G_SOURCE_REMOVE; // no web view yet (or any more): dropped
    if (!p.ready) {
        for (auto& m : items)
            p.waiting.push_back(std::move(m));
        return G_SOURCE_REMOVE;
    }
    deliver(p.view, items);
    return G_SOURCE_REMOVE;
}

} // namespace

void enqueueUiMessage(std::string message) {
    Inbox& in = inbox();
    bool schedule = false;
    {
        std::lock_guard<std::mutex> lock(in.mu);
        in.items.push_back(std::move(message));
        schedule = !in.drainScheduled;
        in.drainScheduled = true;
    }
    // Thread-safe: attaches to the default main context and wakes it.
    if (schedule)
        g_idle_add_full(G_PRIORITY_DEFAULT, drainInbox, nullptr, nullptr);
}

void attachChannelView(WebKitWebView* view) {
    PageState& p = page();
    p.view = view;
    p.ready = false;
    p.waiting.clear();
}

void setChannelPageReady(WebKitWebView* view, bool ready) {
    PageState& p = page();
    if (p.view != view)
        return;
    p.ready = ready;
    if (ready && !p.waiting.empty()) {
        std::vector<std::string> waiting;
        waiting.swap(p.waiting);
        deliver(view, waiting);
    }
}

void detachChannelView(WebKitWebView* view) {
    PageState& p = page();
    if (p.view != view)
        return;
    p.view = nullptr;
    p.ready = false;
    p.waiting.clear();
}

} // namespace tv::gtkhost
