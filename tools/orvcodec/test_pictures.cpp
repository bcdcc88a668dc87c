#include "tools/orvcodec/test_pictures.h"

#include <algorithm>
#include <cmath>

namespace orv::orvcodec {
namespace {

class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_ >> 16);
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }

private:
    std::uint64_t state_;
};

struct Canvas {
    std::vector<std::uint8_t>& px;
    std::uint32_t w, h, stride;

    void Set(std::uint32_t x, std::uint32_t y, std::uint32_t bgr) {
        std::uint8_t* p = px.data() + std::size_t{y} * stride + 4 * std::size_t{x};
        p[0] = static_cast<std::uint8_t>(bgr);
        p[1] = static_cast<std::uint8_t>(bgr >> 8);
        p[2] = static_cast<std::uint8_t>(bgr >> 16);
        p[3] = 0xFF;
    }
    void Fill(std::uint32_t x0, std::uint32_t y0, std::uint32_t x1, std::uint32_t y1,
              std::uint32_t bgr) {
        for (std::uint32_t y = y0; y < std::min(y1, h); ++y) {
            for (std::uint32_t x = x0; x < std::min(x1, w); ++x) Set(x, y, bgr);
        }
    }
};

void Desktop(Canvas& c, Random& rnd) {
    c.Fill(0, 0, c.w, c.h, 0x3A6EA5);
    const std::uint32_t ink[] = {0x000000, 0x202020, 0x0000C0, 0x606060};
    const std::uint32_t windows = 2 + c.w * c.h / 200000;
    for (std::uint32_t i = 0; i < windows; ++i) {
        const std::uint32_t x0 = rnd.Below(std::max(1u, c.w * 3 / 4));
        const std::uint32_t y0 = rnd.Below(std::max(1u, c.h * 3 / 4));
        const std::uint32_t x1 = x0 + 40 + rnd.Below(std::max(1u, c.w / 2));
        const std::uint32_t y1 = y0 + 30 + rnd.Below(std::max(1u, c.h / 2));
        c.Fill(x0, y0, x1 + 1, y1 + 1, 0x808080);       // edge
        c.Fill(x0 + 1, y0 + 1, x1, y0 + 20, 0xC06020);  // title bar
        c.Fill(x0 + 1, y0 + 20, x1, y1, 0xFFFFFF);      // client area
        // Lines of 6x9 glyphs made of random strokes.
        for (std::uint32_t ty = y0 + 24; ty + 10 < y1; ty += 14) {
            const std::uint32_t colour = ink[rnd.Below(4)];
            for (std::uint32_t tx = x0 + 4; tx + 7 < x1 && tx + 7 < c.w; tx += 7) {
                if (rnd.Below(8) == 0) continue;  // a space
                const std::uint32_t glyph = rnd.Next();
                for (std::uint32_t gy = 0; gy < 9; ++gy) {
                    for (std::uint32_t gx = 0; gx < 5; ++gx) {
                        if ((glyph >> ((gy * 5 + gx) % 31)) & 1 && (gy + gx) % 3 != 0 &&
                            ty + gy < c.h) {
                            c.Set(tx + gx, ty + gy, colour);
                        }
                    }
                }
            }
        }
    }
}

void Photo(Canvas& c, Random& rnd) {
    for (std::uint32_t y = 0; y < c.h; ++y) {
        for (std::uint32_t x = 0; x < c.w; ++x) {
            const double fx = x / 97.0;
            const double fy = y / 61.0;
            const double base =
                120 + 60 * std::sin(fx) * std::cos(fy) + 30 * std::sin(fx * 0.3 + fy);
            auto channel = [&](double shift) {
                const double v =
                    base + 25 * std::sin(fx * 2.1 + shift) + static_cast<double>(rnd.Below(9)) - 4;
                return static_cast<std::uint32_t>(std::clamp(v, 0.0, 255.0));
            };
            c.Set(x, y, channel(0) | channel(1.3) << 8 | channel(2.6) << 16);
        }
    }
}

}  // namespace

std::vector<std::uint8_t> MakePattern(std::string_view name, std::uint32_t w, std::uint32_t h,
                                      std::uint32_t stride, std::uint32_t seed) {
    if (stride == 0) stride = 4 * w;
    if (std::find(std::begin(kPatternNames), std::end(kPatternNames), name) ==
            std::end(kPatternNames) ||
        stride < 4 * w) {
        return {};
    }
    std::vector<std::uint8_t> px(std::size_t{stride} * h, 0xCD);
    Canvas c{px, w, h, stride};
    Random rnd(seed);
    if (name == "constant") {
        c.Fill(0, 0, w, h, 0x336699 + seed);
    } else if (name == "gradient") {
        for (std::uint32_t y = 0; y < h; ++y) {
            for (std::uint32_t x = 0; x < w; ++x) {
                c.Set(x, y, (x & 0xFF) | ((y & 0xFF) << 8) | (((x + y) / 2 & 0xFF) << 16));
            }
        }
    } else if (name == "desktop") {
        Desktop(c, rnd);
    } else if (name == "photo") {
        Photo(c, rnd);
    } else if (name == "noise") {
        for (std::uint32_t y = 0; y < h; ++y) {
            for (std::uint32_t x = 0; x < w; ++x) c.Set(x, y, rnd.Next());
        }
    } else {
        // Four frequent colours, forty rare ones, runs of 1 to 4.
        for (std::uint32_t y = 0; y < h; ++y) {
            for (std::uint32_t x = 0; x < w;) {
                const std::uint32_t v = rnd.Below(3) != 0 ? rnd.Below(4) * 0x151515
                                                          : 0x404040 + rnd.Below(40) * 0x030201;
                for (std::uint32_t n = 1 + rnd.Below(4); n > 0 && x < w; --n) c.Set(x++, y, v);
            }
        }
    }
    return px;
}

}  // namespace orv::orvcodec
