#include "tools/orvctl/format.h"

#include <sstream>

namespace orv::orvctl {
namespace {

using namespace orv::control;
using nlohmann::json;

template <typename... F>
struct Overload : F... {
    using F::operator()...;
};
template <typename... F>
Overload(F...) -> Overload<F...>;

std::string IdChangeOutcome(std::int32_t result) {
    switch (result) {
        case kIdChanged:
            return "changed";
        case kIdsExchanged:
            return "exchanged";
        case kIdRefusedPlaced:
            return "refused";
        default:
            return "unknown";
    }
}

std::string IdList(const std::vector<std::int32_t>& ids) {
    std::string s;
    for (std::size_t i = 0; i < ids.size(); ++i) s += (i ? ", " : "") + std::to_string(ids[i]);
    return s;
}

void PutWall(std::ostream& o, const WallRecord& w) {
    o << "wall " << w.wallId << ": " << w.columns << " x " << w.rows << " monitors of "
      << w.monitorWidth << " x " << w.monitorHeight << " (" << w.totalWidth << " x "
      << w.totalHeight << "), pixels " << PixelModeName(w.pixelMode) << ", zone template "
      << w.zoneTemplate << "\n";
    for (std::size_t i = 0; i < w.zones.size(); ++i) {
        const ZoneItem& z = w.zones[i];
        o << "  zone " << i + 1 << ": (" << z.x0 << ", " << z.y0 << ")-(" << z.x1 << ", " << z.y1
          << ")\n";
    }
}

}  // namespace

json WallToJson(const WallRecord& w) {
    json zones = json::array();
    for (const ZoneItem& z : w.zones)
        zones.push_back({{"x0", z.x0}, {"y0", z.y0}, {"x1", z.x1}, {"y1", z.y1}});
    return {{"id", w.wallId},
            {"pixelMode", w.pixelMode},
            {"pixels", PixelModeName(w.pixelMode)},
            {"columns", w.columns},
            {"rows", w.rows},
            {"totalWidth", w.totalWidth},
            {"totalHeight", w.totalHeight},
            {"monitorWidth", w.monitorWidth},
            {"monitorHeight", w.monitorHeight},
            {"zoneTemplate", w.zoneTemplate},
            {"zones", std::move(zones)}};
}

std::string DescribeWall(const WallRecord& wall) {
    std::ostringstream o;
    PutWall(o, wall);
    return o.str();
}

std::string PixelModeName(std::int32_t pixelMode) {
    switch (pixelMode) {
        case kPixelMode4K:
            return "4K";
        case kPixelMode2K:
            return "2K";
        case kPixelMode1080P:
            return "1080P";
        default:
            return std::to_string(pixelMode);
    }
}

std::string EncodeModeName(std::int32_t mode) {
    switch (mode) {
        case kEncodeGpu:
            return "GPU";
        case kEncodeCpu:
            return "CPU";
        default:
            return std::to_string(mode);
    }
}

std::string Describe(const ServiceMessage& message) {
    std::ostringstream o;
    std::visit(Overload{
                   [&](const HelloReply&) { o << "greeting answered\n"; },
                   [&](const ChangeIdReply& m) {
                       switch (m.result) {
                           case kIdChanged:
                               o << "monitor " << m.oldId << " is now monitor " << m.newId << "\n";
                               break;
                           case kIdsExchanged:
                               o << "monitors " << m.oldId << " and " << m.newId
                                 << " exchanged ids\n";
                               break;
                           case kIdRefusedPlaced:
                               o << "monitor " << m.oldId << " keeps its id: monitor " << m.newId
                                 << " is placed in the wall\n";
                               break;
                           default:
                               o << "id change " << m.oldId << " -> " << m.newId << ": result "
                                 << m.result << "\n";
                       }
                   },
                   [&](const WallList& m) {
                       if (m.walls.empty()) {
                           o << "no wall\n";
                           return;
                       }
                       o << "selected wall: " << m.selection << "\n";
                       for (const WallRecord& w : m.walls) PutWall(o, w);
                   },
                   [&](const MonitorList& m) {
                       if (m.entries.empty()) o << "no monitor attached\n";
                       for (const MonitorEntry& e : m.entries) {
                           o << "monitor " << e.monitorId << ": ";
                           if (e.column < 0)
                               o << "free\n";
                           else
                               o << "cell " << e.cellIndex << ", column " << e.column << ", row "
                                 << e.row << "\n";
                       }
                   },
                   [&](const EncodeModeReply& m) {
                       o << "encode mode: " << EncodeModeName(m.mode) << "\n";
                   },
                   [&](const CpuValue& m) { o << "cpu value: " << m.value << "\n"; },
                   [&](const DriverLost&) { o << "the display driver's connection was lost\n"; },
                   [&](const ThreadStatus& m) { o << "thread status: " << int{m.status} << "\n"; },
                   [&](const MonitorChange& m) {
                       o << "monitor " << m.monitorId
                         << (m.change == kMonitorArrived ? " arrived\n" : " left\n");
                   },
                   [&](const AdapterRemoved& m) {
                       if (m.monitorIds.empty())
                           o << "adapter removed, no monitors with it\n";
                       else
                           o << "adapter removed with monitors " << IdList(m.monitorIds) << "\n";
                   },
                   [&](const CreateResult& m) {
                       o << (m.ok ? "wall built\n" : "the service could not build the wall\n");
                   },
                   [&](const WallDestroyed&) { o << "wall destroyed\n"; },
               },
               message);
    return o.str();
}

json ToJson(const ServiceMessage& message) {
    return std::visit(
        Overload{
            [](const HelloReply&) {
                return json{{"type", "hello"}};
            },
            [](const ChangeIdReply& m) {
                return json{{"type", "id-change"},
                            {"result", m.result},
                            {"outcome", IdChangeOutcome(m.result)},
                            {"oldId", m.oldId},
                            {"newId", m.newId}};
            },
            [](const WallList& m) {
                json walls = json::array();
                for (const WallRecord& w : m.walls) walls.push_back(WallToJson(w));
                // The selection travels only with a wall.
                return json{{"type", "walls"},
                            {"selection", m.walls.empty() ? json(nullptr) : json(m.selection)},
                            {"walls", std::move(walls)}};
            },
            [](const MonitorList& m) {
                json monitors = json::array();
                for (const MonitorEntry& e : m.entries) {
                    json j{{"id", e.monitorId}, {"placed", e.column >= 0}};
                    if (e.column >= 0) {
                        j["cell"] = e.cellIndex;
                        j["column"] = e.column;
                        j["row"] = e.row;
                    }
                    monitors.push_back(std::move(j));
                }
                return json{{"type", "monitors"}, {"monitors", std::move(monitors)}};
            },
            [](const EncodeModeReply& m) {
                return json{
                    {"type", "encode-mode"}, {"mode", m.mode}, {"name", EncodeModeName(m.mode)}};
            },
            [](const CpuValue& m) {
                return json{{"type", "cpu-value"}, {"value", m.value}};
            },
            [](const DriverLost&) {
                return json{{"type", "driver-lost"}};
            },
            [](const ThreadStatus& m) {
                return json{{"type", "thread-status"}, {"status", m.status}};
            },
            [](const MonitorChange& m) {
                return json{
                    {"type", m.change == kMonitorArrived ? "monitor-arrived" : "monitor-left"},
                    {"monitor", m.monitorId}};
            },
            [](const AdapterRemoved& m) {
                return json{{"type", "adapter-removed"}, {"monitors", m.monitorIds}};
            },
            [](const CreateResult& m) {
                return json{{"type", "create-result"}, {"built", m.ok != 0}};
            },
            [](const WallDestroyed&) {
                return json{{"type", "wall-destroyed"}};
            },
        },
        message);
}

}  // namespace orv::orvctl
