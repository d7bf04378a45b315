#include "app/icon.h"

#include <algorithm>
#include <cmath>

namespace tv {
namespace {

struct Rgb {
    double r, g, b;
};

uint32_t channel(double c, double a) { return static_cast<uint32_t>(c * a); }

} // namespace

std::vector<uint32_t> drawIconPixels(int n) {
    std::vector<uint32_t> px(static_cast<size_t>(n) * static_cast<size_t>(n), 0);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const double u = ((x + 0.5) / n) * 2.0 - 1.0;
            const double v = ((y + 0.5) / n) * 2.0 - 1.0;
            const double h = 0.62 * std::pow(std::max(1.0 - u * u, 0.0), 0.9);
            const double m = h - std::fabs(v);
            const double r = std::sqrt(u * u + v * v);
            Rgb c{0, 0, 0};
            double a = 0.0;
            if (m > 0) {
                c = r >= 0.5 ? Rgb{235, 220, 245} : Rgb{190, 60, 220};
                if (r < 0.24)
                    c = {20, 8, 30};
                if (r < 0.1 && u > 0)
                    c = {255, 220, 255};
                if (std::fabs(u) > 0.55 && std::fabs(v) < 0.1 * std::fabs(u) + 0.08)
                    c = {225, 90, 110};
                if (v < -0.18)
                    c = {70, 30, 120};
                a = std::min(n * m * 0.5, 1.0);
            } else if (m > -0.12) {
                c = {170, 80, 255};
                a = (1.0 - (-m) / 0.12) * 0.75;
            }
            const double a255 = a * 255.0;
            uint32_t alpha = a255 > 0 ? static_cast<uint32_t>(a255) : 0;
            alpha = std::min<uint32_t>(alpha, 255);
            px[static_cast<size_t>(y) * n + x] =
                (alpha << 24) | (channel(c.r, a) << 16) | (channel(c.g, a) << 8) | channel(c.b, a);
        }
    }
    return px;
}

std::vector<uint8_t> iconPixelsToRgba(const std::vector<uint32_t>& argb) {
    std::vector<uint8_t> out;
    out.reserve(argb.size() * 4);
    for (uint32_t p : argb) {
        const uint32_t a = p >> 24;
        auto un = [a](uint32_t c) -> uint8_t {
            if (a == 0)
                return 0;
            return static_cast<uint8_t>(std::min<uint32_t>(255, (c * 255 + a / 2) / a));
        };
        out.push_back(un((p >> 16) & 0xFF));
        out.push_back(un((p >> 8) & 0xFF));
        out.push_back(un(p & 0xFF));
        out.push_back(static_cast<uint8_t>(a));
    }
    return out;
}

} // namespace tv
