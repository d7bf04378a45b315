#include <cstring>

#include "app/gtk/host_gtk.h"
#include "app/icon.h"

namespace tv::gtkhost {

GdkPixbuf* iconPixbuf(int n) {
    if (n <= 0)
        return nullptr;
    const std::vector<uint8_t> rgba = iconPixelsToRgba(drawIconPixels(n));
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, n, n);
    if (!pixbuf)
        return nullptr;
    // Rows may be padded: copy row by row.
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const size_t rowBytes = static_cast<size_t>(n) * 4;
    for (int y = 0; y < n; ++y)
        std::memcpy(pixels + static_cast<size_t>(y) * static_cast<size_t>(stride),
                    rgba.data() + static_cast<size_t>(y) * rowBytes, rowBytes);
    return pixbuf;
}

} // namespace tv::gtkhost
