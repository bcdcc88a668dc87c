// Programs the panel places into the zones of a wall: the records it keeps
// of them, which zone or record lies under a point of the topology view,
// where a zone lies on the wall's desktop, and where that desktop is.
//
// The wall's desktop is the X11 display and the rectangle of it that the
// display driver captures for the wall; the driver publishes it as one line
// "<display> <x> <y> <width> <height>" in a file of the runtime folder
// (kWallDesktopFileName).
//
// Pure functions and value types, but ReadWallDesktop, which reads that
// file; UI thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/model/panel_layout.h"
#include "panel/model/panel_zones.h"

namespace orv::panel {

// One program placed into a zone of a wall.
struct ZoneApp {
    std::int64_t processId = 0;
    std::uint64_t window = 0;  // X11 window id, 0 for none
    bool running = false;
    ZoneItem rect;  // the zone, in fractions of the wall

    bool operator==(const ZoneApp&) const = default;
};

// The zone under the point (fx, fy) in fractions of the wall: the last zone
// in list order that holds it, or the whole wall when there are no zones
// (or none holds it).
ZoneItem ZoneUnder(const std::vector<ZoneItem>& zones, double fx, double fy);

// The first record whose zone holds (fx, fy).
std::optional<std::size_t> AppAt(const std::vector<ZoneApp>& apps, double fx, double fy);

// The point of the view in fractions of the wall.
inline double FractionOf(int pixel, int extent) {
    return extent > 0 ? static_cast<double>(pixel) / extent : 0.0;
}

inline constexpr std::string_view kWallDesktopFileName = "wall-desktop";

struct WallDesktop {
    std::string display;  // ":0", "host:1.0"
    Rect area;            // in the display's root window

    bool operator==(const WallDesktop&) const = default;
};

// Parses the published line; nothing when it is malformed or the area empty.
std::optional<WallDesktop> ParseWallDesktop(std::string_view line);
std::optional<WallDesktop> ReadWallDesktop(const std::filesystem::path& path);

// Where `zone` lies on the desktop `area` (rounded to whole pixels; zones
// that share an edge share it on the desktop too).
Rect MapZone(const ZoneItem& zone, const Rect& area);

}  // namespace orv::panel
