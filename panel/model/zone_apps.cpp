#include "panel/model/zone_apps.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace orv::panel {
namespace {

bool Holds(const ZoneItem& z, double fx, double fy) {
    return fx >= z.x0 && fx <= z.x1 && fy >= z.y0 && fy <= z.y1;
}

}  // namespace

ZoneItem ZoneUnder(const std::vector<ZoneItem>& zones, double fx, double fy) {
    for (auto it = zones.rbegin(); it != zones.rend(); ++it) {
        if (Holds(*it, fx, fy)) return *it;
    }
    return ZoneItem{0, 0, 1, 1};
}

std::optional<std::size_t> AppAt(const std::vector<ZoneApp>& apps, double fx, double fy) {
    for (std::size_t i = 0; i < apps.size(); ++i) {
        if (Holds(apps[i].rect, fx, fy)) return i;
    }
    return std::nullopt;
}

std::optional<WallDesktop> ParseWallDesktop(std::string_view line) {
    std::istringstream in{std::string(line)};
    WallDesktop d;
    int x = 0, y = 0, w = 0, h = 0;
    if (!(in >> d.display >> x >> y >> w >> h)) return std::nullopt;
    std::string rest;
    if (in >> rest) return std::nullopt;
    if (d.display.find(':') == std::string::npos || w <= 0 || h <= 0 || x < 0 || y < 0) {
        return std::nullopt;
    }
    d.area = Rect{x, y, x + w, y + h};
    return d;
}

std::optional<WallDesktop> ReadWallDesktop(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return ParseWallDesktop(line);
}

Rect MapZone(const ZoneItem& zone, const Rect& area) {
    const double w = area.right - area.left;
    const double h = area.bottom - area.top;
    auto at = [](double origin, double extent, double f) {
        return static_cast<int>(std::lround(origin + extent * f));
    };
    return Rect{at(area.left, w, zone.x0), at(area.top, h, zone.y0), at(area.left, w, zone.x1),
                at(area.top, h, zone.y1)};
}

}  // namespace orv::panel
