#include <cstring>
#include <memory>
#include <string>

#include "app/gtk/channel_gtk.h"
#include "app/gtk/host_gtk.h"
#include "app/host.h"
#include "base/log.h"

namespace tv::gtkhost {
namespace {

constexpr const char* kHandlerName = "tarnveil";

// Injected into the top frame before any script of the page runs. It gives the
// page the same channel object the Windows web view provides:
// postMessage(string) and a `message` event whose `data` is already parsed.
// Native delivery calls __tarnveilDeliver with an array of JSON texts; a text
// that does not parse is skipped, and a throwing listener does not stop the
// others or the later messages.
constexpr std::string_view kShim = R"JS((function () {
  'use strict';
  var handlers = window.webkit && window.webkit.messageHandlers;
  var native = handlers && handlers.tarnveil;
  if (!native || (window.chrome && window.chrome.webview)) return;
  var listeners = [];
  var webview = {
    postMessage: function (message) { native.postMessage(message); },
    addEventListener: function (type, fn) {
      if (type === 'message' && typeof fn === 'function' && listeners.indexOf(fn) < 0)
        listeners.push(fn);
    },
    removeEventListener: function (type, fn) {
      var i = listeners.indexOf(fn);
      if (type === 'message' && i >= 0) listeners.splice(i, 1);
    }
  };
  function report(e) {
    if (typeof window.reportError === 'function') window.reportError(e);
    else setTimeout(function () { throw e; }, 0);
  }
  function deliver(texts) {
    for (var i = 0; i < texts.length; i++) {
      var data;
      try { data = JSON.parse(texts[i]); } catch (e) { continue; }
      var ev = new MessageEvent('message', { data: data });
      var list = listeners.slice();
      for (var k = 0; k < list.length; k++) {
        try { list[k].call(webview, ev); } catch (e) { report(e); }
      }
    }
  }
  if (!window.chrome) window.chrome = {};
  Object.defineProperty(window.chrome, 'webview', { value: webview, enumerable: true });
  Object.defineProperty(window, '__tarnveilDeliver', { value: deliver });
})();
)JS";

// Per web view; freed with the view.
struct Host {
    GtkWindow* window = nullptr;
    WebKitWebView* view = nullptr;
    std::function<void(const std::string&)> onCommand;
    bool ownLoadPending = false; // the next navigation is our own load of the page
    bool pageLoaded = false;
    bool failureShown = false;
    bool automationViewGiven = false;
};

void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
    auto* host = static_cast<Host*>(data);
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    // Like the Windows web view: a posted value that is not a string is ignored.
    if (!value || !jsc_value_is_string(value) || !host->onCommand)
        return;
    GBytes* bytes = jsc_value_to_string_as_bytes(value);
    if (!bytes)
        return;
    gsize size = 0;
    const auto* raw = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    const std::string text(raw ? raw : "", raw ? size : 0);
    g_bytes_unref(bytes);
    host->onCommand(text);
}

// Only the embedded page is ever shown: our own load of it, and jumps inside
// it, pass; every other navigation and every new window is refused.
gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer data) {
    auto* host = static_cast<Host*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION)
        return FALSE;
    auto* nav = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(nav);
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    const bool own = host->ownLoadPending && uri && std::strcmp(uri, "about:blank") == 0;
    const bool inPage = host->pageLoaded && uri && std::strncmp(uri, "about:blank#", 12) == 0;
    if (own || inPage) {
        host->ownLoadPending = false;
        webkit_policy_decision_use(decision);
    } else {
        webkit_policy_decision_ignore(decision);
    }
    return TRUE;
}

void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    auto* host = static_cast<Host*>(data);
    if (event == WEBKIT_LOAD_STARTED) {
        setChannelPageReady(view, false);
    } else if (event == WEBKIT_LOAD_FINISHED) {
        host->pageLoaded = true;
        setChannelPageReady(view, true);
    }
}

void showEngineError(Host* host) {
    if (host->failureShown)
        return;
    host->failureShown = true;
    GtkWidget* dialog = gtk_message_dialog_new(
        host->window,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s",
        std::string(startupBoxText(StartupBox::engineMissing, interfaceInEnglish())).c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "Tarnveil");
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show(dialog);
}

void onWebProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
                            gpointer data) {
    auto* host = static_cast<Host*>(data);
    // The page's listeners are gone with its process: drop what waits and what follows.
    detachChannelView(view);
    if (!host->pageLoaded) {
        // The web content never came up: the engine cannot run here.
        logLine(kLogEnvironmentFailed);
        showEngineError(host);
        return;
    }
    logLine(reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT
                ? "web content process ended: memory limit"
                : "web content process ended");
}

gboolean onContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                       gpointer) {
    return TRUE; // no browser context menu
}

// The page script may ask to close its window (or WebDriver closes the
// browsing context): treat it like the user closing the window.
void onViewClose(WebKitWebView*, gpointer data) {
    gtk_window_close(static_cast<Host*>(data)->window);
}

bool isZoomKey(guint keyval) {
    switch (keyval) {
    case GDK_KEY_plus:
    case GDK_KEY_minus:
    case GDK_KEY_equal:
    case GDK_KEY_0:
    case GDK_KEY_KP_Add:
    case GDK_KEY_KP_Subtract:
    case GDK_KEY_KP_0:
        return true;
    default:
        return false;
    }
}

// Zoom shortcuts are off: Ctrl with + - = 0, Ctrl with the wheel, pinch.
gboolean onViewEvent(GtkWidget*, GdkEvent* event, gpointer) {
    switch (event->type) {
    case GDK_KEY_PRESS:
        return (event->key.state & GDK_CONTROL_MASK) && isZoomKey(event->key.keyval);
    case GDK_SCROLL:
        return (event->scroll.state & GDK_CONTROL_MASK) != 0;
    case GDK_TOUCHPAD_PINCH:
        return TRUE;
    default:
        return FALSE;
    }
}

void onZoomChanged(WebKitWebView* view, GParamSpec*, gpointer) {
    if (webkit_web_view_get_zoom_level(view) != 1.0)
        webkit_web_view_set_zoom_level(view, 1.0);
}

WebKitWebView* onAutomationCreateWebView(WebKitAutomationSession*, gpointer data) {
    // One window, one page: the session drives the existing web view.
    auto* host = static_cast<Host*>(data);
    if (host->automationViewGiven || !host->view)
        return nullptr;
    host->automationViewGiven = true;
    return host->view;
}

void onAutomationStarted(WebKitWebContext*, WebKitAutomationSession* session, gpointer data) {
    WebKitApplicationInfo* info = webkit_application_info_new();
    webkit_application_info_set_name(info, "Tarnveil");
    webkit_application_info_set_version(info, 1, 0, 0);
    webkit_automation_session_set_application_info(session, info);
    webkit_application_info_unref(info);
    g_signal_connect(session, "create-web-view", G_CALLBACK(onAutomationCreateWebView), data);
}

void onViewDestroyed(GtkWidget* widget, gpointer) {
    detachChannelView(WEBKIT_WEB_VIEW(widget));
}

} // namespace

WebKitWebView* startWebHost(GtkWindow* window, const WebHostConfig& config) {
    const std::string cacheDir = config.dataDir + "/Cache";
    WebKitWebsiteDataManager* data =
        webkit_website_data_manager_new("base-data-directory", config.dataDir.c_str(),
                                        "base-cache-directory", cacheDir.c_str(), nullptr);
    WebKitWebContext* context =
        data ? webkit_web_context_new_with_website_data_manager(data) : nullptr;
    if (data)
        g_object_unref(data); // the context holds it
    if (!context) {
        logLine(kLogEnvironmentCallFailed);
        return nullptr;
    }
    webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);

    auto* host = new Host;
    host->window = window;
    host->onCommand = config.onCommand;
    if (config.automation) {
        webkit_web_context_set_automation_allowed(context, TRUE);
        g_signal_connect(context, "automation-started", G_CALLBACK(onAutomationStarted), host);
    }

    WebKitUserContentManager* content = webkit_user_content_manager_new();
    const std::string shim(kShim);
    WebKitUserScript* script =
        webkit_user_script_new(shim.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
    // Connected before registering, so no message can come in unseen.
    g_signal_connect(content, (std::string("script-message-received::") + kHandlerName).c_str(),
                     G_CALLBACK(onScriptMessage), host);
    webkit_user_content_manager_register_script_message_handler(content, kHandlerName);

    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);

    GObject* object = G_OBJECT(g_object_new(
        WEBKIT_TYPE_WEB_VIEW, "web-context", context, "user-content-manager", content, "settings",
        settings, "is-controlled-by-automation", config.automation ? TRUE : FALSE, nullptr));
    g_object_unref(settings);
    g_object_unref(content);
    if (!object || !WEBKIT_IS_WEB_VIEW(object)) {
        logLine(kLogControllerFailed);
        delete host;
        g_object_unref(context);
        return nullptr;
    }
    auto* view = WEBKIT_WEB_VIEW(object);
    host->view = view;
    // The web view keeps its context; the context lives for the process anyway.
    g_object_set_data_full(object, "tarnveil-host", host,
                           [](gpointer p) { delete static_cast<Host*>(p); });

    const GdkRGBA ground{kGroundColour.r / 255.0, kGroundColour.g / 255.0, kGroundColour.b / 255.0,
                         1.0};
    webkit_web_view_set_background_color(view, &ground);

    g_signal_connect(view, "decide-policy", G_CALLBACK(onDecidePolicy), host);
    g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), host);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(onWebProcessTerminated), host);
    g_signal_connect(view, "context-menu", G_CALLBACK(onContextMenu), host);
    g_signal_connect(view, "close", G_CALLBACK(onViewClose), host);
    g_signal_connect(view, "event", G_CALLBACK(onViewEvent), host);
    g_signal_connect(view, "notify::zoom-level", G_CALLBACK(onZoomChanged), host);
    g_signal_connect(view, "destroy", G_CALLBACK(onViewDestroyed), nullptr);

    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    gtk_widget_show(GTK_WIDGET(view));
    gtk_widget_grab_focus(GTK_WIDGET(view));

    // From here on UI messages wait for the page instead of being dropped.
    attachChannelView(view);

    host->ownLoadPending = true;
    const std::string page(config.page);
    webkit_web_view_load_html(view, page.c_str(), nullptr);
    logLine(kLogWebViewReady);
    return view;
}

} // namespace tv::gtkhost
