#include "panel/model/panel_zones.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace orv::panel {
namespace {

constexpr double kEps = 1e-9;
constexpr int kBorderHitPixels = 10;
constexpr int kPressedEdgePixels = 5;
constexpr int kMaxAcrossPixels = 80;           // exclusive
constexpr int kMaxAlongVerticalPixels = 154;   // inclusive
constexpr int kMaxAlongHorizontalPixels = 74;  // inclusive

bool Same(double a, double b) {
    return std::fabs(a - b) < kEps;
}

// A zone seen along the axis a border moves on (a0, a1) and the axis the
// border runs along (c0, c1).
struct Axes {
    double* a0;
    double* a1;
    double c0;
    double c1;
};

Axes AxesOf(ZoneItem& z, BorderKind kind) {
    if (kind == BorderKind::kVertical) return {&z.x0, &z.x1, z.y0, z.y1};
    return {&z.y0, &z.y1, z.x0, z.x1};
}

void Split(std::vector<ZoneItem>& out, double x0, double x1, const std::vector<double>& ys) {
    for (std::size_t i = 0; i + 1 < ys.size(); ++i) out.push_back({x0, ys[i], x1, ys[i + 1]});
}

}  // namespace

std::vector<ZoneItem> TemplateZones(int number) {
    std::vector<ZoneItem> z;
    const std::vector<double> halves{0, 0.5, 1};
    const std::vector<double> quarterCut{0, 0.25, 0.75, 1};
    const std::vector<double> quarters{0, 0.25, 0.5, 0.75, 1};
    switch (number) {
        case 1:
            Split(z, 0, 0.5, halves);
            z.push_back({0.5, 0, 1, 1});
            break;
        case 2:
            Split(z, 0, 0.5, halves);
            Split(z, 0.5, 1, halves);
            break;
        case 3:
            Split(z, 0, 0.5, quarterCut);
            Split(z, 0.5, 1, quarterCut);
            break;
        case 4:
            z.push_back({0, 0, 0.5, 1});
            Split(z, 0.5, 1, quarterCut);
            break;
        case 5:
            Split(z, 0, 0.5, quarterCut);
            z.push_back({0.5, 0, 1, 1});
            break;
        case 6:
            Split(z, 0, 0.5, halves);
            Split(z, 0.5, 1, quarters);
            break;
        case 7:
            for (std::size_t c = 0; c + 1 < quarterCut.size(); ++c) {
                Split(z, quarterCut[c], quarterCut[c + 1], quarterCut);
            }
            break;
        case 8:
            for (std::size_t c = 0; c + 1 < quarters.size(); ++c) {
                Split(z, quarters[c], quarters[c + 1], quarters);
            }
            break;
        default:
            break;
    }
    return z;
}

void TemplateTable::Build() {
    table_.clear();
    for (int n = 1; n <= kTemplateCount; ++n) table_[n] = TemplateZones(n);
}

std::vector<ZoneItem> TemplateTable::Zones(int number) const {
    const auto it = table_.find(number);
    return it == table_.end() ? std::vector<ZoneItem>{} : it->second;
}

void TemplateTable::Replace(int number, std::vector<ZoneItem> zones) {
    if (number < 1 || number > kTemplateCount) return;
    table_[number] = std::move(zones);
}

bool ZonesTileWall(const std::vector<ZoneItem>& zones) {
    if (zones.empty()) return true;
    double area = 0;
    for (std::size_t i = 0; i < zones.size(); ++i) {
        const ZoneItem& z = zones[i];
        if (z.x0 < -kEps || z.y0 < -kEps || z.x1 > 1 + kEps || z.y1 > 1 + kEps) return false;
        if (z.x1 - z.x0 < kEps || z.y1 - z.y0 < kEps) return false;
        area += (z.x1 - z.x0) * (z.y1 - z.y0);
        for (std::size_t j = i + 1; j < zones.size(); ++j) {
            const ZoneItem& o = zones[j];
            const double w = std::min(z.x1, o.x1) - std::max(z.x0, o.x0);
            const double h = std::min(z.y1, o.y1) - std::max(z.y0, o.y0);
            if (w > kEps && h > kEps) return false;
        }
    }
    return Same(area, 1);
}

std::optional<BorderKind> HitBorder(const std::vector<ZoneItem>& zones, Point p, Size client) {
    const double W = client.width;
    const double H = client.height;
    for (const ZoneItem& z : zones) {
        if (p.x >= z.x0 * W && p.x <= z.x1 * W && std::fabs(z.y1 * H - p.y) <= kBorderHitPixels) {
            return BorderKind::kHorizontal;
        }
        if (p.y >= z.y0 * H && p.y <= z.y1 * H && std::fabs(z.x1 * W - p.x) <= kBorderHitPixels) {
            return BorderKind::kVertical;
        }
    }
    return std::nullopt;
}

bool MoveBorder(std::vector<ZoneItem>& zones, BorderKind kind, Point press, Point release,
                Size client, int columns, int rows) {
    if (columns <= 0 || rows <= 0) return false;
    const bool vertical = kind == BorderKind::kVertical;
    const int along = vertical ? release.x - press.x : release.y - press.y;
    const int across = vertical ? release.y - press.y : release.x - press.x;
    const int maxAlong = vertical ? kMaxAlongVerticalPixels : kMaxAlongHorizontalPixels;
    if (std::abs(along) < 1 || std::abs(along) > maxAlong) return false;
    if (std::abs(across) >= kMaxAcrossPixels) return false;

    const double alongPixels = vertical ? client.width : client.height;
    const double acrossPixels = vertical ? client.height : client.width;
    const double pressAlong = vertical ? press.x : press.y;
    const double pressAcross = vertical ? press.y : press.x;

    // The pressed zone and its edge on the border line.
    std::optional<double> line;
    double runLow = 0;
    double runHigh = 0;
    for (ZoneItem& z : zones) {
        const Axes a = AxesOf(z, kind);
        if (pressAcross < a.c0 * acrossPixels || pressAcross > a.c1 * acrossPixels) continue;
        if (std::fabs(*a.a1 * alongPixels - pressAlong) <= kPressedEdgePixels) {
            line = *a.a1;
        } else if (std::fabs(*a.a0 * alongPixels - pressAlong) <= kPressedEdgePixels) {
            line = *a.a0;
        } else {
            continue;
        }
        runLow = a.c0;
        runHigh = a.c1;
        break;
    }
    if (!line || Same(*line, 0) || Same(*line, 1)) return false;

    // Grow the run along the line through every zone touching it.
    std::vector<bool> moves(zones.size(), false);
    for (bool grown = true; grown;) {
        grown = false;
        for (std::size_t i = 0; i < zones.size(); ++i) {
            if (moves[i]) continue;
            const Axes a = AxesOf(zones[i], kind);
            if (!Same(*a.a0, *line) && !Same(*a.a1, *line)) continue;
            if (a.c0 >= runHigh - kEps || a.c1 <= runLow + kEps) continue;
            moves[i] = true;
            runLow = std::min(runLow, a.c0);
            runHigh = std::max(runHigh, a.c1);
            grown = true;
        }
    }

    const double step = 1.0 / (4.0 * (vertical ? columns : rows));
    const double moved = *line + (along > 0 ? step : -step);
    std::vector<ZoneItem> result = zones;
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (!moves[i]) continue;
        const Axes a = AxesOf(result[i], kind);
        if (Same(*a.a0, *line)) *a.a0 = moved;
        if (Same(*a.a1, *line)) *a.a1 = moved;
    }
    if (!ZonesTileWall(result)) return false;
    zones = std::move(result);
    return true;
}

}  // namespace orv::panel
