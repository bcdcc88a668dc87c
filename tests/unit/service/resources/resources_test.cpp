#include "service/resources/resources.h"

#include <gtest/gtest.h>

#include <set>

#include "common/bytes.h"

using namespace orv::resources;

TEST(Resources, BackgroundIsTheRgbBinary125Resource) {
    EXPECT_EQ(Resource("RGB_Binary", 125).size(), 3686400u);
    EXPECT_TRUE(Resource("RGB_Binary", 124).empty());
    EXPECT_TRUE(Resource("BITMAP", 125).empty());
}

TEST(Resources, GlyphsAreDistinctInkOnTransparentKey) {
    std::set<std::vector<std::uint8_t>> seen;
    for (int d = 0; d < 10; ++d) {
        const auto glyph = DigitGlyph(d);
        ASSERT_EQ(glyph.size(), 200u * 400u * 4u) << d;
        std::size_t ink = 0;
        for (std::size_t i = 0; i < glyph.size(); i += 4) {
            std::uint32_t v = 0;
            orv::bytes::GetU32(glyph, i, v);
            if (v != kGlyphTransparent) ++ink;
        }
        // Bold strokes: a visible share of the cell, far from all of it.
        EXPECT_GT(ink, 200u * 400u / 10) << d;
        EXPECT_LT(ink, 200u * 400u * 2 / 3) << d;
        seen.emplace(glyph.begin(), glyph.end());
    }
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_TRUE(DigitGlyph(10).empty());
    EXPECT_TRUE(DigitGlyph(-1).empty());
}
