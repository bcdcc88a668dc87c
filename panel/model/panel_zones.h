// Zone templates and zone border moves in the topology view.
//
// A wall's zones are rectangles in fractions of the wall (0 to 1 on both
// axes). The eight templates split the wall in fixed ways; the user then
// moves a border between zones by dragging it, one step (a quarter of a
// cell) per drag. Zones always tile the wall: every zone is non-empty, none
// overlaps another and together they cover the wall; a move that would break
// this is refused.
//
// Pure functions and a value type; any thread. TemplateTable belongs to the
// topology view (UI thread).
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "panel/model/panel_layout.h"
#include "protocol/control/control_protocol.h"

namespace orv::panel {

using control::ZoneItem;

inline constexpr int kTemplateCount = 8;  // templates 1 to 8; 0 is "None"

// The zones of template `number` in their list order; none for 0 or an
// unknown number.
std::vector<ZoneItem> TemplateZones(int number);

// Template number -> zones. Rebuilt from the fixed templates at start and on
// Reset; a moved border replaces the entry of the wall's template, so the
// same template applied again gives the moved layout.
class TemplateTable {
public:
    void Build();
    std::vector<ZoneItem> Zones(int number) const;
    void Replace(int number, std::vector<ZoneItem> zones);

private:
    std::map<int, std::vector<ZoneItem>> table_;
};

// True when `zones` tile the unit square (within 1e-9): every zone
// non-empty and inside it, no two overlapping, their areas summing to 1.
// No zones at all also counts (the wall has no template).
bool ZonesTileWall(const std::vector<ZoneItem>& zones);

enum class BorderKind { kHorizontal, kVertical };

// The zone border within 10 pixels of `p` in a view of `client` size: a zone
// whose horizontal extent holds p.x and whose bottom edge is near p.y gives a
// horizontal border, else a zone whose vertical extent holds p.y and whose
// right edge is near p.x gives a vertical one. The first zone that matches
// wins.
std::optional<BorderKind> HitBorder(const std::vector<ZoneItem>& zones, Point p, Size client);

// Moves the border pressed at `press` and released at `release` by one step:
// 1 / (4 x columns) of the width for a vertical border, 1 / (4 x rows) of the
// height for a horizontal one, towards the release point. The drag must go
// 1 to 154 pixels (vertical) or 1 to 74 pixels (horizontal) along its
// direction and stay under 80 pixels across it.
//
// The pressed zone is the first one whose extent across the border holds the
// press point and whose moving edge lies within 5 pixels of it. The whole
// straight run of border through it moves: every zone with an edge on the
// same line whose extent across the border overlaps the run, so zones on
// both sides of the line move together. Returns true when the zones moved;
// false (zones unchanged) when the drag did not qualify, the edge is the
// wall's own edge, or the move would leave a zone empty or break the tiling.
bool MoveBorder(std::vector<ZoneItem>& zones, BorderKind kind, Point press, Point release,
                Size client, int columns, int rows);

}  // namespace orv::panel
