// What orvctl prints for the service's answers and notices, human and JSON.
#include "tools/orvctl/format.h"

#include <gtest/gtest.h>

namespace orv::orvctl {
namespace {

using namespace orv::control;
using nlohmann::json;

TEST(OrvctlFormat, WallList) {
    EXPECT_EQ(Describe(WallList{}), "no wall\n");
    EXPECT_EQ(ToJson(WallList{}), json::parse(R"({"type":"walls","selection":null,"walls":[]})"));

    const WallList one{1, {PanelWallRecord(1, kPixelMode2K, 2, 1, 1, TemplateZones(1))}};
    EXPECT_EQ(Describe(one),
              "selected wall: 1\n"
              "wall 1: 2 x 1 monitors of 1280 x 720 (2560 x 720), pixels 2K, zone template 1\n"
              "  zone 1: (0, 0)-(0.5, 0.5)\n"
              "  zone 2: (0, 0.5)-(0.5, 1)\n"
              "  zone 3: (0.5, 0)-(1, 1)\n");
    const json j = ToJson(one);
    EXPECT_EQ(j["selection"], 1);
    const json& w = j["walls"][0];
    EXPECT_EQ(w["pixels"], "2K");
    EXPECT_EQ(w["pixelMode"], 2);
    EXPECT_EQ(w["totalWidth"], 2560);
    EXPECT_EQ(w["monitorHeight"], 720);
    EXPECT_EQ(w["zones"].size(), 3u);
    EXPECT_EQ(w["zones"][2], json::parse(R"({"x0":0.5,"y0":0.0,"x1":1.0,"y1":1.0})"));
}

TEST(OrvctlFormat, MonitorListShowsFreeMonitors) {
    const MonitorList m{{{3, 1, 0, 5}, {kNotInWall, kNotInWall, kNotInWall, 6}}};
    EXPECT_EQ(Describe(m), "monitor 5: cell 3, column 1, row 0\nmonitor 6: free\n");
    EXPECT_EQ(ToJson(m), json::parse(R"({"type":"monitors","monitors":[
        {"id":5,"placed":true,"cell":3,"column":1,"row":0},{"id":6,"placed":false}]})"));
    EXPECT_EQ(Describe(MonitorList{}), "no monitor attached\n");
}

TEST(OrvctlFormat, NoticesAndResults) {
    EXPECT_EQ(Describe(MonitorChange{kMonitorArrived, 4}), "monitor 4 arrived\n");
    EXPECT_EQ(ToJson(MonitorChange{kMonitorLeft, 4}),
              json::parse(R"({"type":"monitor-left","monitor":4})"));
    EXPECT_EQ(Describe(AdapterRemoved{{1, 2}}), "adapter removed with monitors 1, 2\n");
    EXPECT_EQ(Describe(AdapterRemoved{}), "adapter removed, no monitors with it\n");
    EXPECT_EQ(ToJson(AdapterRemoved{{1, 2}})["monitors"], json::parse("[1,2]"));
    EXPECT_EQ(ToJson(DriverLost{})["type"], "driver-lost");
    EXPECT_EQ(Describe(EncodeModeReply{kEncodeCpu}), "encode mode: CPU\n");
    EXPECT_EQ(ToJson(EncodeModeReply{7})["name"], "7");

    EXPECT_EQ(Describe(ChangeIdReply{kIdChanged, 3, 9}), "monitor 3 is now monitor 9\n");
    EXPECT_EQ(Describe(ChangeIdReply{kIdsExchanged, 3, 9}), "monitors 3 and 9 exchanged ids\n");
    EXPECT_EQ(Describe(ChangeIdReply{kIdRefusedPlaced, 3, 9}),
              "monitor 3 keeps its id: monitor 9 is placed in the wall\n");
    EXPECT_EQ(ToJson(ChangeIdReply{kIdRefusedPlaced, 3, 9})["outcome"], "refused");
    EXPECT_EQ(ToJson(CreateResult{0})["built"], false);
}

}  // namespace
}  // namespace orv::orvctl
