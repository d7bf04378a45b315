#include <gtest/gtest.h>

#include "app/icon.h"

namespace tv {
namespace {

uint32_t at(const std::vector<uint32_t>& px, int n, int x, int y) {
    return px[static_cast<size_t>(y) * n + x];
}

TEST(Icon, PixelsAt32) {
    const auto px = drawIconPixels(32);
    ASSERT_EQ(px.size(), 32u * 32u);
    EXPECT_EQ(at(px, 32, 16, 16), 0xFFFFDCFFu); // highlight
    EXPECT_EQ(at(px, 32, 15, 15), 0xFF14081Eu); // pupil
    EXPECT_EQ(at(px, 32, 8, 16), 0xFFBE3CDCu);  // iris
    EXPECT_EQ(at(px, 32, 16, 24), 0xFFEBDCF5u); // white below the centre
    EXPECT_EQ(at(px, 32, 16, 8), 0xFF461E78u);  // upper lid
    EXPECT_EQ(at(px, 32, 2, 16), 0xFFE15A6Eu);  // corner streaks
    EXPECT_EQ(at(px, 32, 29, 16), 0xFFE15A6Eu);
    EXPECT_EQ(at(px, 32, 0, 0), 0u);
}

TEST(Icon, PixelsAt16) {
    const auto px = drawIconPixels(16);
    EXPECT_EQ(at(px, 16, 8, 8), 0xFFFFDCFFu);
    EXPECT_EQ(at(px, 16, 7, 7), 0xFF14081Eu);
    EXPECT_EQ(at(px, 16, 8, 4), 0xFF461E78u);
    EXPECT_EQ(at(px, 16, 8, 11), 0xFFBE3CDCu);
    EXPECT_EQ(at(px, 16, 0, 0), 0u);
}

TEST(Icon, MirrorSymmetricExceptTheHighlight) {
    const int n = 32;
    const auto px = drawIconPixels(n);
    int asymmetric = 0;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n / 2; ++x)
            if (at(px, n, x, y) != at(px, n, n - 1 - x, y))
                ++asymmetric;
    EXPECT_GT(asymmetric, 0);  // the highlight is right of the centre only
    EXPECT_LE(asymmetric, 6);
}

TEST(Icon, ColourIsPremultiplied) {
    for (uint32_t p : drawIconPixels(32)) {
        const uint32_t a = p >> 24;
        EXPECT_LE((p >> 16) & 0xFF, a);
        EXPECT_LE((p >> 8) & 0xFF, a);
        EXPECT_LE(p & 0xFF, a);
    }
}

TEST(Icon, StraightRgbaUndoesThePremultiplication) {
    const auto rgba = iconPixelsToRgba({0xFFBE3CDCu, 0x00000000u, 0x80402010u});
    ASSERT_EQ(rgba.size(), 12u);
    EXPECT_EQ(rgba[0], 0xBE);
    EXPECT_EQ(rgba[3], 0xFF);
    EXPECT_EQ(rgba[7], 0x00);
    EXPECT_EQ(rgba[11], 0x80);
    EXPECT_EQ(rgba[8], 0x80); // 0x40 at half opacity is 0x80 straight
}

} // namespace
} // namespace tv
