// Build-time generator of the service's pictures: the 1280 x 720 background of
// the monitor identification picture and the ten 200 x 400 digit glyphs drawn
// over it. Writes raw 32-bit little-endian pixels (B, G, R, X in memory).
//
//   orv_resource_gen BACKGROUND.bin DIGITS.bin
//
// Digits are thick rounded strokes along hand-placed centre lines (straight
// lines, elliptical arcs and quadratic curves), so they read well from across
// a room. A glyph pixel is either ink or the transparent key 0xFF0000A0.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kBgWidth = 1280, kBgHeight = 720;
constexpr int kGlyphWidth = 200, kGlyphHeight = 400;
constexpr std::uint32_t kTransparent = 0xFF0000A0u;
constexpr std::uint32_t kInk = 0xFFFFFFFFu;
constexpr double kHalfStroke = 23.0;
constexpr double kPi = 3.14159265358979323846;

struct Point {
    double x, y;
};
using Polyline = std::vector<Point>;

Polyline Line(Point a, Point b) {
    return {a, b};
}

// Elliptical arc from angle t0 to t1 (degrees, counter-clockwise as seen on
// screen, 0 = right), y growing downwards.
Polyline Arc(Point c, double rx, double ry, double t0, double t1) {
    Polyline p;
    const int steps = 96;
    for (int i = 0; i <= steps; ++i) {
        const double t = (t0 + (t1 - t0) * i / steps) * kPi / 180.0;
        p.push_back({c.x + rx * std::cos(t), c.y - ry * std::sin(t)});
    }
    return p;
}

Polyline Curve(Point a, Point control, Point b) {
    Polyline p;
    const int steps = 64;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps, u = 1 - t;
        p.push_back({u * u * a.x + 2 * u * t * control.x + t * t * b.x,
                     u * u * a.y + 2 * u * t * control.y + t * t * b.y});
    }
    return p;
}

std::vector<Polyline> Digit(int d) {
    switch (d) {
        case 0:
            return {Arc({100, 200}, 68, 168, 0, 360)};
        case 1:
            return {Line({104, 32}, {104, 368}), Line({52, 84}, {104, 32}),
                    Line({50, 368}, {158, 368})};
        case 2:
            return {Arc({100, 110}, 70, 78, 165, -35), Line({157, 155}, {32, 368}),
                    Line({32, 368}, {170, 368})};
        case 3:
            return {Arc({100, 108}, 66, 76, 155, -90), Arc({100, 273}, 78, 95, 90, -155)};
        case 4:
            return {Line({136, 32}, {30, 272}), Line({30, 272}, {172, 272}),
                    Line({136, 32}, {136, 368})};
        case 5:
            return {Line({164, 32}, {50, 32}), Line({50, 32}, {44, 196}),
                    Arc({100, 272}, 76, 96, 128, -150)};
        case 6:
            return {Arc({100, 280}, 72, 88, 0, 360), Curve({150, 36}, {36, 110}, {28, 280})};
        case 7:
            return {Line({30, 32}, {170, 32}), Line({170, 32}, {78, 368})};
        case 8:
            return {Arc({100, 110}, 60, 78, 0, 360), Arc({100, 276}, 74, 92, 0, 360)};
        case 9: {
            // The six turned half way round.
            std::vector<Polyline> six = Digit(6);
            for (auto& line : six)
                for (auto& p : line) p = {kGlyphWidth - p.x, kGlyphHeight - p.y};
            return six;
        }
    }
    return {};
}

double SegmentDistance(Point p, Point a, Point b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    const double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
    return std::sqrt(ex * ex + ey * ey);
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t Bgrx(double r, double g, double b) {
    auto c = [](double v) {
        return static_cast<std::uint32_t>(v < 0 ? 0 : (v > 255 ? 255 : std::lround(v)));
    };
    return 0xFF000000u | (c(r) << 16) | (c(g) << 8) | c(b);
}

// A calm dark blue field, lighter in the middle, with a thin frame, so the
// red digits stand out and the monitor's edges are visible.
std::vector<std::uint8_t> Background() {
    std::vector<std::uint8_t> out;
    out.reserve(std::size_t(kBgWidth) * kBgHeight * 4);
    for (int y = 0; y < kBgHeight; ++y)
        for (int x = 0; x < kBgWidth; ++x) {
            const double nx = (x - kBgWidth / 2.0) / (kBgWidth / 2.0);
            const double ny = (y - kBgHeight / 2.0) / (kBgHeight / 2.0);
            const double glow = 1.0 - 0.55 * std::sqrt(nx * nx + ny * ny);
            const bool frame = x < 12 || y < 12 || x >= kBgWidth - 12 || y >= kBgHeight - 12;
            const bool innerLine =
                (x == 24 || y == 24 || x == kBgWidth - 25 || y == kBgHeight - 25) && x >= 24 &&
                y >= 24 && x <= kBgWidth - 25 && y <= kBgHeight - 25;
            if (frame)
                Put32(out, Bgrx(70, 86, 120));
            else if (innerLine)
                Put32(out, Bgrx(54, 68, 98));
            else
                Put32(out, Bgrx(14 + 16 * glow, 20 + 24 * glow, 38 + 46 * glow));
        }
    return out;
}

std::vector<std::uint8_t> Digits() {
    std::vector<std::uint8_t> out;
    out.reserve(std::size_t(10) * kGlyphWidth * kGlyphHeight * 4);
    for (int d = 0; d < 10; ++d) {
        const std::vector<Polyline> strokes = Digit(d);
        for (int y = 0; y < kGlyphHeight; ++y)
            for (int x = 0; x < kGlyphWidth; ++x) {
                const Point p{x + 0.5, y + 0.5};
                bool ink = false;
                for (const auto& line : strokes) {
                    for (std::size_t i = 0; i + 1 < line.size() && !ink; ++i)
                        ink = SegmentDistance(p, line[i], line[i + 1]) <= kHalfStroke;
                    if (ink) break;
                }
                Put32(out, ink ? kInk : kTransparent);
            }
    }
    return out;
}

bool WriteFile(const char* path, const std::vector<std::uint8_t>& data) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s BACKGROUND.bin DIGITS.bin\n", argv[0]);
        return 2;
    }
    if (!WriteFile(argv[1], Background()) || !WriteFile(argv[2], Digits())) {
        std::perror("orv_resource_gen");
        return 1;
    }
    return 0;
}
