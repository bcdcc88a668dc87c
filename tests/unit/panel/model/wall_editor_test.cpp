#include "panel/model/wall_editor.h"

#include <gtest/gtest.h>

#include <vector>

namespace orv::panel {
namespace {

using control::Request;

std::vector<std::uint8_t> Bytes(const std::vector<Request>& requests) {
    std::vector<std::uint8_t> all;
    for (const Request& r : requests) {
        const auto b = control::EncodeRequest(r);
        all.insert(all.end(), b.begin(), b.end());
    }
    return all;
}

void PutI32(std::vector<std::uint8_t>& b, std::int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A panel that started against a service without walls and with monitors
// 3, 5 and 7 free.
class Editor : public ::testing::Test {
protected:
    void SetUp() override {
        editor_.ApplyEncodeMode({control::kEncodeCpu});
        editor_.ApplyWallList({});
        editor_.ApplyMonitorList({{{-1, -1, -1, 3}, {-1, -1, -1, 5}, {-1, -1, -1, 7}}});
    }
    // Builds a 2 x 2 wall as wall 1 and confirms it.
    void BuildWall() {
        editor_.SetMatrix(2, 2);
        (void)editor_.Create();
        (void)editor_.Handle(control::CreateResult{1});
    }
    WallEditor editor_;
};

TEST_F(Editor, Create2x2In4KSendsTheWallWith1080pMonitors) {
    EXPECT_FALSE(editor_.State().reset);  // no wall yet
    editor_.SetMatrix(2, 2);
    editor_.SetPixelMode(control::kPixelMode4K);
    const Outcome out = editor_.Create();

    std::vector<std::uint8_t> want = {0x55};
    PutI32(want, 1);
    PutI32(want, 1);
    want.push_back(0x50);
    for (std::int32_t v : {1, 1, 2, 2, 3840, 2160, 1920, 1080, 0, 0}) PutI32(want, v);
    EXPECT_EQ(Bytes(out.requests), want);
    EXPECT_FALSE(out.message);
    EXPECT_FALSE(editor_.State().matrix);
    EXPECT_TRUE(editor_.State().create);  // until the answer

    (void)editor_.Handle(control::CreateResult{1});
    EXPECT_FALSE(editor_.State().create);
    EXPECT_TRUE(editor_.State().reset);
    ASSERT_NE(editor_.Shown(), nullptr);
    EXPECT_EQ(editor_.Shown()->monitorWidth, 1920);
}

TEST_F(Editor, MatrixOfTenOrMoreIsRefusedBeforeAnythingIsSent) {
    editor_.SetMatrix(4, 3);
    const Outcome refused = editor_.Create();
    EXPECT_TRUE(refused.requests.empty());
    EXPECT_EQ(refused.message, StringId::kMatrixTooBig);
    EXPECT_TRUE(editor_.Walls().empty());

    editor_.SetMatrix(3, 3);
    const Outcome accepted = editor_.Create();
    ASSERT_EQ(accepted.requests.size(), 2u);
    const auto& wall = std::get<control::CreateWall>(accepted.requests[1]).wall;
    EXPECT_EQ(wall.monitorWidth, 1280);  // 9 monitors exceed the 4K budget
    EXPECT_EQ(wall.totalWidth, 3 * 1280);
}

TEST_F(Editor, FailedCreateShowsMessage115AndResets) {
    editor_.SetMatrix(2, 2);
    (void)editor_.Create();
    const Outcome out = editor_.Handle(control::CreateResult{0});
    EXPECT_EQ(out.message, StringId::kCreateFailed);
    ASSERT_EQ(out.requests.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<control::DestroyWall>(out.requests[0]));
    EXPECT_EQ(std::get<control::RemoveWallEntry>(out.requests[1]),
              (control::RemoveWallEntry{1, 0}));
    EXPECT_TRUE(editor_.Walls().empty());
    EXPECT_EQ(editor_.Shown(), nullptr);

    (void)editor_.Handle(control::WallDestroyed{});
    EXPECT_EQ(editor_.State().create, true);
    EXPECT_EQ(editor_.State().reset, false);
    EXPECT_EQ(editor_.State().matrix, true);
}

TEST_F(Editor, PlacingOntoAnOccupiedCellRemovesTheOldMonitorFirst) {
    BuildWall();
    Outcome first = editor_.PlaceMonitor(5, 1);
    EXPECT_TRUE(first.accepted);
    EXPECT_EQ(first.requests, (std::vector<Request>{control::SetWallCells{1, {{5, 1, 0, 0}}}}));

    const Outcome second = editor_.PlaceMonitor(7, 1);
    EXPECT_EQ(second.requests, (std::vector<Request>{control::RemoveMonitor{1, 5},
                                                     control::SetWallCells{1, {{7, 1, 0, 0}}}}));
    EXPECT_TRUE(editor_.Strip().Find(5)->free);
    EXPECT_FALSE(editor_.Strip().Find(7)->free);

    // Cell 4 of a 2-row wall is column 1, row 1; a placed tile cannot be dropped again.
    EXPECT_EQ(editor_.PlaceMonitor(3, 4).requests,
              (std::vector<Request>{control::SetWallCells{1, {{7, 1, 0, 0}, {3, 4, 1, 1}}}}));
    EXPECT_FALSE(editor_.PlaceMonitor(3, 2).accepted);
    EXPECT_FALSE(editor_.PlaceMonitor(5, 5).accepted);  // no cell 5 in 2 x 2
}

TEST_F(Editor, CellsMoveSwapAndGoBackToTheStrip) {
    BuildWall();
    (void)editor_.PlaceMonitor(3, 1);
    (void)editor_.PlaceMonitor(5, 2);

    EXPECT_EQ(editor_.DropCell(3, 3).requests,
              (std::vector<Request>{control::SetWallCells{1, {{3, 3, 1, 0}, {5, 2, 0, 1}}}}));
    EXPECT_EQ(editor_.DropCell(5, 3).requests,
              (std::vector<Request>{control::SwapMonitors{1, 3, 5}}));
    EXPECT_EQ(editor_.Shown()->CellOf(5)->cellIndex, 3);
    EXPECT_EQ(editor_.Shown()->CellOf(3)->cellIndex, 2);
    EXPECT_TRUE(editor_.DropCell(5, 3).requests.empty());  // onto itself

    EXPECT_EQ(editor_.ReturnToStrip(5).requests,
              (std::vector<Request>{control::RemoveMonitor{1, 5}}));
    EXPECT_TRUE(editor_.Strip().Find(5)->free);
    EXPECT_EQ(editor_.Shown()->CellOf(5), nullptr);
}

TEST_F(Editor, ResetFreesEveryTileAndHidesTheWall) {
    BuildWall();
    (void)editor_.PlaceMonitor(3, 1);
    (void)editor_.ChooseZoneTemplate(2);
    EXPECT_EQ(editor_.Shown()->zones.size(), 4u);
    const Outcome out = editor_.Reset();
    EXPECT_EQ(Bytes(out.requests), (std::vector<std::uint8_t>{0x56, 0x51, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(editor_.Shown(), nullptr);
    EXPECT_TRUE(editor_.Strip().Find(3)->free);
    EXPECT_EQ(editor_.TemplateChoice(), 0);
}

TEST_F(Editor, AMovedBorderStaysWithItsTemplateUntilReset) {
    BuildWall();
    (void)editor_.ChooseZoneTemplate(2);
    ASSERT_TRUE(editor_.MoveZoneBorder(BorderKind::kVertical, {400, 100}, {500, 100}, {800, 400}));
    const auto moved = editor_.Shown()->zones;
    (void)editor_.ChooseZoneTemplate(1);
    (void)editor_.ChooseZoneTemplate(2);
    EXPECT_EQ(editor_.Shown()->zones, moved);
    (void)editor_.Reset();
    EXPECT_EQ(editor_.Templates().Zones(2), TemplateZones(2));
}

TEST_F(Editor, DriverLostResetsOnlyAWallThatIsBuilt) {
    EXPECT_TRUE(editor_.Handle(control::DriverLost{}).requests.empty());
    BuildWall();
    EXPECT_FALSE(editor_.Handle(control::DriverLost{}).requests.empty());
}

TEST_F(Editor, NineWallsAtMostAndTheLastCannotBeRemoved) {
    for (int i = 0; i < 9; ++i) ASSERT_EQ(editor_.AddWall().requests.size(), 1u);
    EXPECT_FALSE(editor_.State().addWall);
    EXPECT_TRUE(editor_.AddWall().requests.empty());
    EXPECT_EQ(editor_.ChooseWall(3).requests, (std::vector<Request>{control::SelectWall{4}}));
    // Removing the fourth keeps the fourth place selected.
    EXPECT_EQ(editor_.RemoveWall().requests,
              (std::vector<Request>{control::RemoveWallEntry{4, 4}}));
    EXPECT_EQ(editor_.Current()->id, 5);
    while (editor_.Walls().size() > 1) (void)editor_.RemoveWall();
    EXPECT_FALSE(editor_.State().removeWall);
}

TEST_F(Editor, MonitorIdChangeRules) {
    EXPECT_TRUE(editor_.ChangeMonitorId(5, "5").requests.empty());
    EXPECT_FALSE(editor_.ChangeMonitorId(5, "5").message);
    EXPECT_EQ(editor_.ChangeMonitorId(5, "0").message, StringId::kIdZero);
    EXPECT_EQ(editor_.ChangeMonitorId(5, "").message, StringId::kIdZero);
    EXPECT_EQ(editor_.ChangeMonitorId(5, "10000").message, StringId::kIdTooBig);
    EXPECT_EQ(editor_.ChangeMonitorId(5, "99999999999999").message, StringId::kIdTooBig);
    EXPECT_EQ(editor_.ChangeMonitorId(5, "9999").requests,
              (std::vector<Request>{control::ChangeMonitorId{5, 9999}}));

    EXPECT_TRUE(editor_.Handle(control::ChangeIdReply{1, 5, 12}).repaintStrip);
    EXPECT_NE(editor_.Strip().Find(12), nullptr);
    EXPECT_EQ(editor_.Handle(control::ChangeIdReply{2, 3, 7}).message, StringId::kIdRunning);
    (void)editor_.Handle(control::ChangeIdReply{3, 3, 7});
    EXPECT_EQ(editor_.Strip().Tiles()[0].monitorId, 7);
    EXPECT_EQ(editor_.Strip().Tiles()[2].monitorId, 3);
}

TEST_F(Editor, MonitorsLeavingLoseTheirCells) {
    BuildWall();
    (void)editor_.PlaceMonitor(3, 1);
    (void)editor_.PlaceMonitor(5, 2);
    (void)editor_.Handle(control::MonitorChange{control::kMonitorLeft, 3});
    EXPECT_EQ(editor_.Strip().Find(3), nullptr);
    EXPECT_EQ(editor_.Shown()->CellOf(3), nullptr);
    (void)editor_.Handle(control::AdapterRemoved{{5, 7}});
    EXPECT_TRUE(editor_.Strip().Tiles().empty());
    EXPECT_TRUE(editor_.Shown()->cells.empty());
    // An arrival appends a free tile; a repeated one replaces the old tile.
    (void)editor_.Handle(control::MonitorChange{control::kMonitorArrived, 9});
    (void)editor_.Handle(control::MonitorChange{control::kMonitorArrived, 9});
    EXPECT_EQ(editor_.Strip().Tiles(), (std::vector<PanelMonitor>{{9, true}}));
}

TEST(EditorStart, AWallFromTheServiceComesBackWithItsPlacedMonitors) {
    WallEditor editor;
    control::WallList list;
    list.selection = 1;
    list.walls.push_back(control::PanelWallRecord(1, control::kPixelMode4K, 2, 2, 2, {}));
    list.walls.push_back(control::PanelWallRecord(2, control::kPixelMode4K, 5, 2, 0, {}));  // 10
    editor.ApplyWallList(list);
    editor.ApplyMonitorList({{{3, 1, 0, 4}, {-1, -1, -1, 6}, {9, 2, 2, 8}}});

    ASSERT_EQ(editor.Walls().size(), 1u);  // the wall of ten monitors is refused
    EXPECT_FALSE(editor.State().create);
    EXPECT_FALSE(editor.State().matrix);
    EXPECT_EQ(editor.Shown()->zones, TemplateZones(2));
    EXPECT_EQ(editor.Shown()->cells, (std::vector<PanelCell>{{3, 1, 0, 4}}));
    EXPECT_FALSE(editor.Strip().Find(4)->free);
    EXPECT_TRUE(editor.Strip().Find(6)->free);
    EXPECT_TRUE(editor.Strip().Find(8)->free);  // cell 9 is not in a 2 x 2 wall
}

TEST(EditorSettings, ThreadNumberEncodeBezelAndSave) {
    WallEditor editor;
    EXPECT_EQ(editor.ApplyThreadNumber(8).requests,
              (std::vector<Request>{control::ThreadCount{8}}));
    EXPECT_EQ(editor.ThreadField(), 8);
    EXPECT_EQ(editor.ThreadNumber(), 1);  // the member keeps the previous value
    EXPECT_TRUE(editor.ApplyThreadNumber(21).requests.empty());
    EXPECT_EQ(editor.ThreadField(), 1);
    (void)editor.ApplyThreadNumber(8);
    (void)editor.Handle(control::ThreadStatus{0});
    EXPECT_EQ(editor.ThreadField(), 1);

    EXPECT_EQ(editor.ChooseEncode("GPU").requests,
              (std::vector<Request>{control::SetEncodeMode{1}}));
    EXPECT_EQ(editor.ChooseEncode("CPU").requests,
              (std::vector<Request>{control::SetEncodeMode{2}}));
    EXPECT_TRUE(editor.ApplyBezel(1.5f).requests.empty());  // no wall built
    EXPECT_EQ(editor.Save().message, StringId::kSaved);

    (void)editor.Handle(control::CpuValue{100});
    EXPECT_EQ(editor.CpuValue(), 0);
    (void)editor.Handle(control::CpuValue{42});
    EXPECT_EQ(editor.CpuValue(), 42);
}

TEST(MonitorLabel, TwoDigitsAtLeast) {
    EXPECT_EQ(MonitorLabel(7), "07");
    EXPECT_EQ(MonitorLabel(123), "123");
}

}  // namespace
}  // namespace orv::panel
