#include <cstring>

#include "app/icon.h"
#include "app/win/main_window.h"

namespace tv {

HICON appIcon(int n) {
    BITMAPV5HEADER h{};
    h.bV5Size = sizeof h; // 124
    h.bV5Width = n;
    h.bV5Height = -n; // rows top first, as drawIconPixels lays them out
    h.bV5Planes = 1;
    h.bV5BitCount = 32;
    h.bV5Compression = BI_BITFIELDS;
    h.bV5RedMask = 0x00FF0000;
    h.bV5GreenMask = 0x0000FF00;
    h.bV5BlueMask = 0x000000FF;
    h.bV5AlphaMask = 0xFF000000;

    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP color = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&h), DIB_RGB_COLORS,
                                     &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!color || !bits) {
        if (color)
            DeleteObject(color);
        return nullptr;
    }
    const std::vector<uint32_t> px = drawIconPixels(n);
    std::memcpy(bits, px.data(), px.size() * sizeof(uint32_t));
    GdiFlush();

    // The colour bitmap's alpha carries the transparency; the mask only has to exist.
    HBITMAP mask = CreateBitmap(n, n, 1, 1, nullptr);
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask;
    info.hbmColor = color;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(color); // the icon holds its own copies
    if (mask)
        DeleteObject(mask);
    return icon;
}

} // namespace tv
