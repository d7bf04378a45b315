// The application icon, drawn from a closed-form picture: an almond-shaped
// eye with a violet glow. The pixel math is shared; each window wraps the
// pixels in its own icon type (HICON, GdkPixbuf).
#pragma once

#include <cstdint>
#include <vector>

namespace tv {

// N x N pixels, rows top first, each 0xAARRGGBB with premultiplied colour.
std::vector<uint32_t> drawIconPixels(int n);

// The same pixels as straight (non-premultiplied) RGBA bytes, as GdkPixbuf
// and PNG expect them.
std::vector<uint8_t> iconPixelsToRgba(const std::vector<uint32_t>& argb);

} // namespace tv
