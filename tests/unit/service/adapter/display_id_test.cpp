#include "service/adapter/display_id.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/bytes.h"
#include "service/resources/resources.h"

using namespace orv::adapter;

namespace {

std::uint32_t Pixel(const std::vector<std::uint8_t>& pic, int x, int y) {
    std::uint32_t v = 0;
    orv::bytes::GetU32(pic, (std::size_t(y) * kDisplayIdWidth + x) * 4, v);
    return v;
}

// Columns of the picture that hold at least one painted pixel.
std::vector<bool> PaintedColumns(const std::vector<std::uint8_t>& pic) {
    std::vector<bool> cols(kDisplayIdWidth, false);
    for (int y = 0; y < kDisplayIdHeight; ++y)
        for (int x = 0; x < kDisplayIdWidth; ++x)
            if (Pixel(pic, x, y) == kDigitPaint) cols[x] = true;
    return cols;
}

}  // namespace

TEST(DisplayId, LayoutCentresTwoThreeOrFourDigits) {
    DisplayIdLayout seven = LayoutDisplayId(7);
    ASSERT_EQ(seven.count, 2);
    EXPECT_EQ(seven.digits[0], 0);
    EXPECT_EQ(seven.digits[1], 7);
    EXPECT_EQ(seven.left[0], 390);
    EXPECT_EQ(seven.left[1], 640);

    DisplayIdLayout d123 = LayoutDisplayId(123);
    ASSERT_EQ(d123.count, 3);
    EXPECT_EQ((std::array<int, 3>{d123.digits[0], d123.digits[1], d123.digits[2]}),
              (std::array<int, 3>{1, 2, 3}));
    EXPECT_EQ(d123.left[0], 265);

    DisplayIdLayout d1023 = LayoutDisplayId(1023);
    ASSERT_EQ(d1023.count, 4);
    EXPECT_EQ(d1023.digits[1], 0);  // an inner zero is drawn
    EXPECT_EQ(d1023.left[0], 140);
    EXPECT_EQ(d1023.left[3], 890);

    EXPECT_EQ(LayoutDisplayId(10000).count, 0);
    EXPECT_EQ(LayoutDisplayId(-1).count, 0);
}

TEST(DisplayId, PictureKeepsBackgroundAndPaintsOnlyInsideTheDigitCells) {
    std::vector<std::uint8_t> pic(kDisplayIdBytes);
    ASSERT_TRUE(ComposeDisplayIdPicture(1023, pic));
    const auto background = orv::resources::Resource("RGB_Binary", 125);
    // Outside the digit band the background is untouched.
    EXPECT_TRUE(
        std::equal(pic.begin(), pic.begin() + kDisplayIdWidth * 4 * kDigitTop, background.begin()));
    const auto cols = PaintedColumns(pic);
    for (int x = 0; x < kDisplayIdWidth; ++x) {
        const bool inCell = x >= 140 && x < 140 + 4 * 250 && (x - 140) % 250 < 200;
        if (!inCell) {
            EXPECT_FALSE(cols[x]) << "paint outside a digit cell at x=" << x;
        }
    }
    // Every one of the four cells has paint.
    for (int k = 0; k < 4; ++k) {
        bool any = false;
        for (int x = 140 + 250 * k; x < 340 + 250 * k; ++x) any = any || cols[x];
        EXPECT_TRUE(any) << k;
    }
    // Each painted pixel shows the glyph's ink: check one digit against its glyph.
    const auto glyph = orv::resources::DigitGlyph(3);
    for (int gy = 0; gy < 400; gy += 7)
        for (int gx = 0; gx < 200; gx += 5) {
            std::uint32_t g = 0;
            orv::bytes::GetU32(glyph, (std::size_t(gy) * 200 + gx) * 4, g);
            const bool painted = Pixel(pic, 890 + gx, 160 + gy) == kDigitPaint;
            EXPECT_EQ(painted, g != orv::resources::kGlyphTransparent) << gx << "," << gy;
        }
}

TEST(DisplayId, RefusesWhatItCannotDraw) {
    std::vector<std::uint8_t> small(kDisplayIdBytes - 1);
    EXPECT_FALSE(ComposeDisplayIdPicture(5, small));
    std::vector<std::uint8_t> pic(kDisplayIdBytes);
    EXPECT_FALSE(ComposeDisplayIdPicture(12345, pic));
}
