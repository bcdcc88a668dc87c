#include "tools/orvctl/requests.h"

#include <algorithm>

namespace orv::orvctl {
namespace {

using namespace orv::control;

Planned Refuse(std::string why) {
    return {{}, std::move(why)};
}

const MonitorEntry* FindMonitor(const MonitorList& monitors, std::int32_t id) {
    for (const MonitorEntry& e : monitors.entries)
        if (e.monitorId == id) return &e;
    return nullptr;
}

bool Placed(const MonitorEntry* e) {
    return e && e->column >= 0;
}

std::string NotPlaced(std::int32_t id) {
    return "monitor " + std::to_string(id) + " is not in the wall";
}

}  // namespace

const WallRecord* CurrentWall(const WallList& walls) {
    if (walls.walls.empty()) return nullptr;
    const std::int32_t s = walls.selection;
    if (s >= 1 && static_cast<std::size_t>(s) <= walls.walls.size()) return &walls.walls[s - 1];
    return &walls.walls.front();
}

std::vector<WallCell> PlacedCells(const MonitorList& monitors) {
    std::vector<WallCell> cells;
    for (const MonitorEntry& e : monitors.entries)
        if (e.column >= 0) cells.push_back({e.monitorId, e.cellIndex, e.column, e.row});
    return cells;
}

Planned CreatePlan(const WallList& walls, const CreateCommand& c) {
    if (!walls.walls.empty()) return Refuse("the service has a wall already; destroy it first");
    const auto n = static_cast<std::int32_t>(walls.walls.size()) + 1;
    return {{AddWallEntry{n, n},
             CreateWall{PanelWallRecord(n, c.pixelMode, c.columns, c.rows, c.zoneTemplate,
                                        TemplateZones(c.zoneTemplate))}},
            {}};
}

Planned PlacePlan(const WallList& walls, const MonitorList& monitors, const PlaceCommand& c) {
    const WallRecord* wall = CurrentWall(walls);
    if (!wall) return Refuse("the service has no wall; create one first");
    if (c.column >= wall->columns || c.row >= wall->rows)
        return Refuse("column " + std::to_string(c.column) + ", row " + std::to_string(c.row) +
                      " is outside the wall of " + std::to_string(wall->columns) + " x " +
                      std::to_string(wall->rows));
    if (!FindMonitor(monitors, c.monitorId))
        return Refuse("no attached monitor has id " + std::to_string(c.monitorId));

    const std::int32_t index = CellIndex(c.column, c.row, wall->rows);
    std::vector<WallCell> cells = PlacedCells(monitors);
    Planned plan;
    // A monitor placed elsewhere leaves its old cell.
    std::erase_if(cells, [&](const WallCell& cell) {
        return cell.monitorId == c.monitorId && cell.cellIndex != index;
    });
    const auto at = std::find_if(cells.begin(), cells.end(),
                                 [&](const WallCell& cell) { return cell.cellIndex == index; });
    if (at == cells.end()) {
        cells.push_back({c.monitorId, index, c.column, c.row});
    } else if (at->monitorId != c.monitorId) {
        plan.requests.push_back(RemoveMonitor{wall->wallId, at->monitorId});
        at->monitorId = c.monitorId;
    }
    plan.requests.push_back(SetWallCells{wall->wallId, std::move(cells)});
    return plan;
}

Planned RemovePlan(const WallList& walls, const MonitorList& monitors, const RemoveCommand& c) {
    const WallRecord* wall = CurrentWall(walls);
    if (!wall) return Refuse("the service has no wall");
    if (!Placed(FindMonitor(monitors, c.monitorId))) return Refuse(NotPlaced(c.monitorId));
    return {{RemoveMonitor{wall->wallId, c.monitorId}}, {}};
}

Planned SwapPlan(const WallList& walls, const MonitorList& monitors, const SwapCommand& c) {
    const WallRecord* wall = CurrentWall(walls);
    if (!wall) return Refuse("the service has no wall");
    for (const std::int32_t id : {c.monitorA, c.monitorB})
        if (!Placed(FindMonitor(monitors, id))) return Refuse(NotPlaced(id));
    return {{SwapMonitors{wall->wallId, c.monitorA, c.monitorB}}, {}};
}

Planned DestroyPlan(const WallList& walls) {
    Planned plan{{DestroyWall{}}, {}};
    if (walls.walls.empty()) return plan;
    // The panel removes its selected wall entry and selects the one at the
    // same place, or the one before when it removed the last.
    const auto count = static_cast<std::int32_t>(walls.walls.size());
    const std::int32_t index =
        walls.selection >= 1 && walls.selection <= count ? walls.selection - 1 : 0;
    const std::int32_t left = count - 1;
    const std::int32_t newIndex = left == 0 ? -1 : std::min(index, left - 1);
    plan.requests.push_back(RemoveWallEntry{index + 1, newIndex + 1});
    return plan;
}

Planned SelectPlan(const WallList& walls, const SelectCommand& c) {
    if (static_cast<std::size_t>(c.selection) > walls.walls.size())
        return Refuse("the service has no wall " + std::to_string(c.selection) + " (it has " +
                      std::to_string(walls.walls.size()) + ")");
    return {{SelectWall{c.selection}}, {}};
}

}  // namespace orv::orvctl
