// Writes the drawn application icon as PNG files for installation:
//   tarnveil-icons OUTDIR  ->  OUTDIR/<n>x<n>/apps/tarnveil.png (hicolor layout)
#include <cstdio>
#include <string>

#include <glib/gstdio.h>

#include "app/gtk/host_gtk.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const int sizes[] = {16, 32, 48, 64, 128, 256};
    for (int n : sizes) {
        const std::string dir = out + "/" + std::to_string(n) + "x" + std::to_string(n) + "/apps";
        if (g_mkdir_with_parents(dir.c_str(), 0755) != 0) {
            std::fprintf(stderr, "cannot create %s\n", dir.c_str());
            return 1;
        }
        GdkPixbuf* icon = tv::gtkhost::iconPixbuf(n);
        GError* error = nullptr;
        const std::string file = dir + "/tarnveil.png";
        const bool ok = icon && gdk_pixbuf_save(icon, file.c_str(), "png", &error, nullptr);
        if (icon)
            g_object_unref(icon);
        if (!ok) {
            std::fprintf(stderr, "cannot write %s: %s\n", file.c_str(),
                         error ? error->message : "no pixbuf");
            g_clear_error(&error);
            return 1;
        }
    }
    return 0;
}
