#include "sim/driver/frame_source.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace orv::driver {
namespace {

// 5 x 7 glyphs, one row per byte, bit 4 the leftmost column.
struct Glyph {
    char c;
    std::array<std::uint8_t, 7> rows;
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
};
constexpr Colour kWhite{0xF0, 0xF0, 0xF0};

void FillRect(Picture& p, std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h,
              Colour c) {
    const std::uint32_t right = std::min(p.width, x + w), bottom = std::min(p.height, y + h);
    for (std::uint32_t row = y; row < bottom; ++row) {
        std::uint8_t* px = p.bgrx.data() + (std::size_t{row} * p.width + x) * 4;
        for (std::uint32_t col = x; col < right; ++col, px += 4) {
            px[0] = c.b;
            px[1] = c.g;
            px[2] = c.r;
            px[3] = 0xFF;
        }
    }
}

class TestPattern final : public FrameSource {
public:
    explicit TestPattern(const WallGeometry& wall) : wall_(wall) {}

    bool Render(std::uint32_t number, Picture& p) override {
        p.width = wall_.SourceWidth();
        p.height = wall_.SourceHeight();
        p.bgrx.assign(std::size_t{p.width} * p.height * 4, 0);
        const std::uint32_t w = wall_.CellWidth(), h = wall_.CellHeight();
        // Two text lines of at most 11 glyphs (16 glyph cells high, 66 wide)
        // in the lower half, above the block's lane (the lowest eighth).
        const std::uint32_t scale = std::max(1u, std::min(h * 3 / 128, w * 15 / 16 / 66));
        for (std::uint32_t r = 0; r < wall_.rows; ++r) {
            for (std::uint32_t c = 0; c < wall_.columns; ++c) {
                const std::uint32_t x = wall_.CellLeft(c), y = wall_.CellTop(r);
                FillRect(p, x, y, w, h, PatternColour(c, r));
                const std::uint32_t textX = x + w / 16, textY = y + h / 2;
                DrawText(p, textX, textY, scale, "C" + std::to_string(c) + " R" + std::to_string(r),
                         kWhite);
                DrawText(p, textX, textY + 9 * scale, scale, "F" + std::to_string(number), kWhite);
            }
        }
        // The block: one step per frame along the bottom lane of the wall.
        const std::uint32_t blockW = std::max(1u, w / 8), blockH = std::max(1u, h / 8);
        const std::uint32_t step = std::max(1u, p.width / 240);
        const std::uint32_t left = static_cast<std::uint32_t>(
            (std::uint64_t{number} * step) % std::max(1u, p.width - std::min(p.width, blockW)));
        FillRect(p, left, p.height - blockH, blockW, blockH, kWhite);
        return true;
    }

private:
    const WallGeometry wall_;
};

class StillPicture final : public FrameSource {
public:
    StillPicture(const WallGeometry& wall, Picture picture) : wall_(wall), picture_(picture) {}

    bool Render(std::uint32_t, Picture& p) override {
        p.width = wall_.SourceWidth();
        p.height = wall_.SourceHeight();
        ScaleNearest(picture_.bgrx.data(), picture_.width, picture_.height, picture_.width * 4, p);
        return true;
    }
    bool Still() const override { return true; }

private:
    const WallGeometry wall_;
    const Picture picture_;
};

}  // namespace

Colour PatternColour(std::uint32_t column, std::uint32_t row) {
    return {static_cast<std::uint8_t>(40 + 60 * (column % 4)),
            static_cast<std::uint8_t>(40 + 60 * (row % 4)),
            static_cast<std::uint8_t>(90 + 40 * ((column + row) % 3))};
}

std::unique_ptr<FrameSource> MakeTestPattern(const WallGeometry& wall) {
    return std::make_unique<TestPattern>(wall);
}

std::unique_ptr<FrameSource> MakeStillPicture(const WallGeometry& wall, const std::string& path,
                                              std::string* error) {
    Picture picture;
    std::string why;
    if (!png::ReadPng(path, picture, why) || picture.width == 0 || picture.height == 0) {
        if (error) *error = path + ": " + (why.empty() ? "empty picture" : why);
        return nullptr;
    }
    return std::make_unique<StillPicture>(wall, std::move(picture));
}

void ScaleNearest(const std::uint8_t* from, std::uint32_t fromWidth, std::uint32_t fromHeight,
                  std::uint32_t fromStride, Picture& to) {
    to.bgrx.resize(std::size_t{to.width} * to.height * 4);
    if (fromWidth == to.width && fromHeight == to.height) {
        for (std::uint32_t y = 0; y < to.height; ++y)
            std::memcpy(to.bgrx.data() + std::size_t{y} * to.width * 4,
                        from + std::size_t{y} * fromStride, std::size_t{to.width} * 4);
        return;
    }
    for (std::uint32_t y = 0; y < to.height; ++y) {
        const std::uint8_t* row =
            from +
            std::size_t{static_cast<std::uint32_t>(std::uint64_t{y} * fromHeight / to.height)} *
                fromStride;
        std::uint8_t* out = to.bgrx.data() + std::size_t{y} * to.width * 4;
        for (std::uint32_t x = 0; x < to.width; ++x, out += 4)
            std::memcpy(out, row + std::uint64_t{x} * fromWidth / to.width * 4, 4);
    }
}

void DrawText(Picture& picture, std::uint32_t x, std::uint32_t y, std::uint32_t scale,
              const std::string& text, Colour colour) {
    for (char ch : text) {
        const auto* glyph = std::find_if(std::begin(kGlyphs), std::end(kGlyphs),
                                         [ch](const Glyph& g) { return g.c == ch; });
        if (glyph != std::end(kGlyphs)) {
            for (std::uint32_t gy = 0; gy < 7; ++gy)
                for (std::uint32_t gx = 0; gx < 5; ++gx)
                    if (glyph->rows[gy] & (0x10 >> gx))
                        FillRect(picture, x + gx * scale, y + gy * scale, scale, scale, colour);
        }
        x += 6 * scale;
    }
}

}  // namespace orv::driver
