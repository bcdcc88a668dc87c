// What the service lists on its control channel (0x40 and 0x41), asked on a
// connection of the caller's own, which then says goodbye. The service
// serves one panel at a time and keeps its lists across connections, so a
// test closes its panel first.
//
// Header only: its users link orv_orvctl. Blocks at most about 10 s.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "protocol/control/control_protocol.h"
#include "tools/orvctl/session.h"

namespace orv::test {

struct ServiceLists {
    control::WallList walls;
    std::vector<control::MonitorEntry> monitors;

    const control::MonitorEntry* Monitor(std::int32_t id) const {
        for (const auto& e : monitors)
            if (e.monitorId == id) return &e;
        return nullptr;
    }
    // {column, row} of the monitor: {-1, -1} in no wall, {-9, -9} unknown.
    std::pair<int, int> Place(std::int32_t id) const {
        const control::MonitorEntry* e = Monitor(id);
        return e ? std::pair<int, int>{e->column, e->row} : std::pair<int, int>{-9, -9};
    }
};

// Nothing when the service could not be reached or did not answer.
inline std::optional<ServiceLists> AskServiceLists(std::uint16_t port) {
    orvctl::SessionError error;
    auto session = orvctl::Session::Open("127.0.0.1", port, 10000, error);
    if (!session) return std::nullopt;
    auto walls = session->Ask(control::GetWalls{}, control::type::kGetWalls, error);
    auto monitors = session->Ask(control::GetMonitors{}, control::type::kGetMonitors, error);
    session->Leave();
    if (!walls || !monitors) return std::nullopt;
    ServiceLists lists;
    lists.walls = std::get<control::WallList>(*walls);
    lists.monitors = std::get<control::MonitorList>(*monitors).entries;
    return lists;
}

}  // namespace orv::test
