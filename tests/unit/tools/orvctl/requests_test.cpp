// The bytes orvctl sends for each wall command, built from the service's
// lists the way the panel builds them, and the commands it refuses to send.
#include "tools/orvctl/requests.h"

#include <gtest/gtest.h>

#include <vector>

namespace orv::orvctl {
namespace {

using namespace orv::control;
using Bytes = std::vector<std::uint8_t>;

// Little-endian i32 fields after a type byte.
Bytes Msg(std::uint8_t type, std::vector<std::int32_t> fields) {
    Bytes b{type};
    for (const std::int32_t f : fields)
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(f >> (8 * i)));
    return b;
}

std::vector<Bytes> Wire(const Planned& plan) {
    EXPECT_EQ(plan.refusal, "");
    std::vector<Bytes> out;
    for (const Request& r : plan.requests) out.push_back(EncodeRequest(r));
    return out;
}

// The service's wall 1 of 3 columns x 2 rows, selected.
WallList ThreeByTwo() {
    return {1, {PanelWallRecord(1, kPixelMode4K, 3, 2, 0, {})}};
}

// Monitor 1 at column 0 row 0, 2 free, 3 at column 1 row 1.
MonitorList Monitors() {
    return {{{1, 0, 0, 1}, {kNotInWall, kNotInWall, kNotInWall, 2}, {4, 1, 1, 3}}};
}

TEST(OrvctlRequests, CreateAddsTheWallEntryThenSendsThePanelsRecord) {
    EXPECT_EQ(Wire(CreatePlan({}, {2, 2, kPixelMode4K, 0})),
              (std::vector<Bytes>{Msg(0x55, {1, 1}),
                                  Msg(0x50, {1, 1, 2, 2, 3840, 2160, 1920, 1080, 0, 0})}));

    // Six monitors outgrow the 4K budget at 1920 x 1080; template 2 adds
    // its four zones after the record.
    const std::vector<Bytes> wire = Wire(CreatePlan({}, {3, 2, kPixelMode4K, 2}));
    ASSERT_EQ(wire.size(), 2u);
    const Bytes& create = wire[1];
    ASSERT_EQ(create.size(), 41u + 4 * 32);
    EXPECT_EQ(Bytes(create.begin(), create.begin() + 41),
              Msg(0x50, {1, 1, 3, 2, 3840, 1440, 1280, 720, 4, 2}));
    const auto decoded = DecodeRequest(create);
    ASSERT_TRUE(decoded.value);
    EXPECT_EQ(std::get<CreateWall>(*decoded.value).wall.zones, TemplateZones(2));

    EXPECT_NE(CreatePlan(ThreeByTwo(), {1, 1, 1, 0}).refusal.find("destroy it first"),
              std::string::npos);
}

TEST(OrvctlRequests, PlaceSendsEveryCellColumnMajor) {
    // Column 2, row 1 of a 2-row wall is cell 6; the placed cells go first,
    // in the monitor list's order.
    EXPECT_EQ(Wire(PlacePlan(ThreeByTwo(), Monitors(), {2, 2, 1})),
              (std::vector<Bytes>{Msg(0x59, {1, 3, 1, 1, 0, 0, 3, 4, 1, 1, 2, 6, 2, 1})}));
    // Onto an occupied cell: the occupant is taken out first, the new
    // monitor takes its place in the list.
    EXPECT_EQ(Wire(PlacePlan(ThreeByTwo(), Monitors(), {2, 0, 0})),
              (std::vector<Bytes>{Msg(0x5A, {1, 1}), Msg(0x59, {1, 2, 2, 1, 0, 0, 3, 4, 1, 1})}));
    // A placed monitor moves: its old cell is gone.
    EXPECT_EQ(Wire(PlacePlan(ThreeByTwo(), Monitors(), {1, 2, 0})),
              (std::vector<Bytes>{Msg(0x59, {1, 2, 3, 4, 1, 1, 1, 5, 2, 0})}));
    // Placing a monitor where it is sends the same cells again.
    EXPECT_EQ(Wire(PlacePlan(ThreeByTwo(), Monitors(), {3, 1, 1})),
              (std::vector<Bytes>{Msg(0x59, {1, 2, 1, 1, 0, 0, 3, 4, 1, 1})}));
}

TEST(OrvctlRequests, EditsNeedAWallAndMonitorsInIt) {
    EXPECT_NE(PlacePlan({}, Monitors(), {2, 0, 0}).refusal.find("no wall"), std::string::npos);
    EXPECT_NE(PlacePlan(ThreeByTwo(), Monitors(), {2, 3, 0}).refusal.find("outside"),
              std::string::npos);
    EXPECT_NE(PlacePlan(ThreeByTwo(), Monitors(), {2, 0, 2}).refusal.find("outside"),
              std::string::npos);
    EXPECT_NE(PlacePlan(ThreeByTwo(), Monitors(), {9, 0, 0}).refusal.find("no attached monitor"),
              std::string::npos);

    EXPECT_EQ(Wire(RemovePlan(ThreeByTwo(), Monitors(), {3})),
              (std::vector<Bytes>{Msg(0x5A, {1, 3})}));
    EXPECT_NE(RemovePlan(ThreeByTwo(), Monitors(), {2}).refusal.find("not in the wall"),
              std::string::npos);
    EXPECT_EQ(Wire(SwapPlan(ThreeByTwo(), Monitors(), {3, 1})),
              (std::vector<Bytes>{Msg(0x5B, {1, 3, 1})}));
    EXPECT_NE(SwapPlan(ThreeByTwo(), Monitors(), {1, 2}).refusal.find("monitor 2"),
              std::string::npos);
    EXPECT_NE(SwapPlan({}, Monitors(), {1, 3}).refusal.find("no wall"), std::string::npos);
}

TEST(OrvctlRequests, DestroyAndSelectFollowTheWallEntries) {
    // The panel's Reset: destroy, then drop its wall entry, leaving none
    // selected.
    EXPECT_EQ(Wire(DestroyPlan(ThreeByTwo())),
              (std::vector<Bytes>{Bytes{0x56}, Msg(0x51, {1, 0})}));
    EXPECT_EQ(Wire(DestroyPlan({})), (std::vector<Bytes>{Bytes{0x56}}));
    EXPECT_EQ(Wire(SelectPlan(ThreeByTwo(), {1})), (std::vector<Bytes>{Msg(0x43, {1})}));
    EXPECT_NE(SelectPlan(ThreeByTwo(), {2}).refusal.find("no wall 2"), std::string::npos);
}

TEST(OrvctlRequests, TheCurrentWallIsTheSelectedOne) {
    WallList two{2, {PanelWallRecord(1, 1, 1, 1, 0, {}), PanelWallRecord(2, 1, 3, 2, 0, {})}};
    EXPECT_EQ(CurrentWall(two)->wallId, 2);
    two.selection = 0;  // names no wall: the first
    EXPECT_EQ(CurrentWall(two)->wallId, 1);
    EXPECT_EQ(CurrentWall({}), nullptr);
}

}  // namespace
}  // namespace orv::orvctl
