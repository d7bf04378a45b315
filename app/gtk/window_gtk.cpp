#include <algorithm>
#include <unistd.h>

#include "app/gtk/channel_gtk.h"
#include "app/gtk/host_gtk.h"
#include "app/window.h"
#include "base/log.h"
#include "bridge/dispatcher.h"
#include "bridge/state.h"
#include "bridge/ui_sink.h"
#include "web/page.h"

namespace tv {
namespace gtkhost {
namespace {

// Closing sets the cancel flag before the window goes, so running work stops
// at its next check.
gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer) {
    cancelFlag().exchange(true);
    return FALSE; // go on: the window is destroyed
}

void setIcons(GtkWindow* window) {
    GList* icons = nullptr;
    for (int n : kIconSizes)
        if (GdkPixbuf* p = iconPixbuf(n))
            icons = g_list_append(icons, p);
    if (icons) {
        gtk_window_set_icon_list(window, icons);
        gtk_window_set_default_icon_list(icons); // dialogs too
    }
    g_list_free_full(icons, g_object_unref);
}

} // namespace

Rect primaryWorkArea() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!monitor && display)
        monitor = gdk_display_get_monitor(display, 0);
    if (!monitor)
        return {0, 0, 1280, 900};
    GdkRectangle area{};
    gdk_monitor_get_workarea(monitor, &area);
    return {area.x, area.y, area.width, area.height};
}

GtkWindow* createMainWindow() {
    auto* window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_title(window, std::string(kWindowTitle).c_str());

    const Rect r = mainWindowRect(primaryWorkArea());
    gtk_window_set_default_size(window, r.width, r.height);
    gtk_window_move(window, r.x, r.y);
    GdkGeometry hints{};
    hints.min_width = kMinWindowWidth;
    hints.min_height = kMinWindowHeight;
    gtk_window_set_geometry_hints(window, nullptr, &hints, GDK_HINT_MIN_SIZE);

    // The ground colour shows until the web view paints.
    GtkCssProvider* css = gtk_css_provider_new();
    const std::string rule =
        "window.tarnveil-main { background-color: " + cssColour(kGroundColour) + "; }";
    gtk_css_provider_load_from_data(css, rule.c_str(), -1, nullptr);
    GtkStyleContext* style = gtk_widget_get_style_context(GTK_WIDGET(window));
    gtk_style_context_add_class(style, "tarnveil-main");
    gtk_style_context_add_provider(style, GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);

    setIcons(window);
    g_signal_connect(window, "delete-event", G_CALLBACK(onDeleteEvent), nullptr);
    return window;
}

void installUiSink() {
    setUiSink([](std::string message) { enqueueUiMessage(std::move(message)); });
}

WebKitWebView* startWindowModeHost(GtkWindow* window, const WindowOptions& options) {
    const HostDirs dirs = prepareHostDirs();
    installUiSink();
    installDesktopHooks();
    WebHostConfig config;
    config.dataDir = dirs.probeData;
    config.page = pageText();
    config.automation = options.automation;
    config.onCommand = [](const std::string& text) { dispatchCommand(text); };
    return startWebHost(window, config);
}

} // namespace gtkhost

int runWindowMode(void*, int, const WindowOptions& options) {
    g_set_prgname("tarnveil");
    g_set_application_name("Tarnveil");
    gdk_set_program_class("Tarnveil");
    if (!gtk_init_check(nullptr, nullptr)) {
        // No display to open a window on.
        logLine(kLogWindowFailed);
        return 1;
    }
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", TRUE, nullptr);

    GtkWindow* window = gtkhost::createMainWindow();
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show(GTK_WIDGET(window));
    gtkhost::startWindowModeHost(window, options);
    gtk_main();

    // Nothing is torn down: run threads, the web view and its processes end
    // with this process.
    logLine(kExitLine);
    _exit(0);
}

} // namespace tv
