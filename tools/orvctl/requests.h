// The requests of each orvctl command, built the way the panel builds them
// from what the service reported (its wall list and monitor list). Pure.
//
// The panel's picture of the current wall: the wall the selection names in
// the wall list (the first one when the selection names none), and as its
// cells the monitors that the monitor list shows placed, in list order.
#pragma once

#include <string>
#include <vector>

#include "protocol/control/control_protocol.h"
#include "tools/orvctl/options.h"

namespace orv::orvctl {

struct Planned {
    std::vector<control::Request> requests;  // in sending order
    std::string refusal;                     // set when the command cannot be done
};

// The panel's current wall, or nullptr when the list is empty.
const control::WallRecord* CurrentWall(const control::WallList& walls);

// The current wall's cells as the monitor list shows them.
std::vector<control::WallCell> PlacedCells(const control::MonitorList& monitors);

// 0x55 (the new wall entry, numbered after the walls there are) then 0x50
// with the panel's wall description. Refused while a wall exists: the
// service keeps one wall.
Planned CreatePlan(const control::WallList& walls, const CreateCommand& c);

// 0x59 with every cell of the current wall, the monitor put at the cell; a
// monitor already at that cell is first taken out with 0x5A, and a monitor
// placed elsewhere moves. Refused without a wall, for a cell outside it and
// for a monitor that is not attached.
Planned PlacePlan(const control::WallList& walls, const control::MonitorList& monitors,
                  const PlaceCommand& c);

// 0x5A; refused unless the monitor is placed.
Planned RemovePlan(const control::WallList& walls, const control::MonitorList& monitors,
                   const RemoveCommand& c);

// 0x5B; refused unless both monitors are placed.
Planned SwapPlan(const control::WallList& walls, const control::MonitorList& monitors,
                 const SwapCommand& c);

// 0x56, then, when there is a wall, 0x51 naming the wall entry removed and
// the selection left (0 when no wall is left).
Planned DestroyPlan(const control::WallList& walls);

// 0x43; refused for a wall number the list does not have.
Planned SelectPlan(const control::WallList& walls, const SelectCommand& c);

}  // namespace orv::orvctl
