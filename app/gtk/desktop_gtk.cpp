#include "app/gtk/host_gtk.h"
#include "bridge/host_hooks.h"

namespace tv::gtkhost {
namespace {

void clipboardGet(GtkClipboard*, GtkSelectionData* selection, guint, gpointer text) {
    gtk_selection_data_set_text(selection, static_cast<const gchar*>(text), -1);
}

void clipboardClear(GtkClipboard*, gpointer text) {
    g_free(text);
}

// The text is offered in every text format; the clipboard owns a copy until
// another program takes the clipboard over.
bool setClipboardText(const std::string& text) {
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    if (!clipboard)
        return false;
    gchar* copy = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    GtkTargetList* list = gtk_target_list_new(nullptr, 0);
    gtk_target_list_add_text_targets(list, 0);
    int count = 0;
    GtkTargetEntry* targets = gtk_target_table_new_from_list(list, &count);
    const bool ok = gtk_clipboard_set_with_data(clipboard, targets, static_cast<guint>(count),
                                                clipboardGet, clipboardClear, copy);
    gtk_target_table_free(targets, count);
    gtk_target_list_unref(list);
    if (!ok) {
        g_free(copy);
        return false;
    }
    // A clipboard manager, when there is one, keeps the text after we exit.
    gtk_clipboard_set_can_store(clipboard, nullptr, 0);
    return true;
}

void openFolder(const std::string& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    gchar* uri = g_file_get_uri(file);
    g_object_unref(file);
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(uri, nullptr, &error)) {
        g_clear_error(&error);
        // No handler registered with GIO: let the desktop's opener try.
        gchar* argv[] = {const_cast<gchar*>("xdg-open"), uri, nullptr};
        g_spawn_async(nullptr, argv, nullptr,
                      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                               G_SPAWN_STDERR_TO_DEV_NULL),
                      nullptr, nullptr, nullptr, nullptr);
    }
    g_free(uri);
}

} // namespace

void installDesktopHooks() {
    HostHooks hooks;
    hooks.setClipboardText = setClipboardText;
    hooks.openFolder = openFolder;
    setHostHooks(std::move(hooks));
}

} // namespace tv::gtkhost
