#include "panel/model/zone_apps.h"

#include <gtest/gtest.h>

#include "panel/model/wall_editor.h"

namespace orv::panel {
namespace {

TEST(ZoneApps, ZoneUnderAPointIsTheLastHoldingItOrTheWholeWall) {
    const auto zones = TemplateZones(2);
    EXPECT_EQ(ZoneUnder(zones, 0.7, 0.2), (ZoneItem{0.5, 0, 1, 0.5}));
    // On the shared edge the later zone wins.
    EXPECT_EQ(ZoneUnder(zones, 0.5, 0.2), (ZoneItem{0.5, 0, 1, 0.5}));
    EXPECT_EQ(ZoneUnder({}, 0.3, 0.3), (ZoneItem{0, 0, 1, 1}));
}

TEST(ZoneApps, WallDesktopLineAndZoneMapping) {
    EXPECT_EQ(ParseWallDesktop("localhost:1.0 0 0 640 480")->display, "localhost:1.0");
    const auto d = ParseWallDesktop(":7 100 50 1920 1080");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->display, ":7");
    EXPECT_EQ(d->area, (Rect{100, 50, 2020, 1130}));
    EXPECT_EQ(MapZone({0.5, 0, 1, 0.5}, d->area), (Rect{1060, 50, 2020, 590}));
    // Neighbours share their edge on the desktop.
    EXPECT_EQ(MapZone({0, 0, 1.0 / 3, 1}, {0, 0, 100, 10}).right,
              MapZone({1.0 / 3, 0, 1, 1}, {0, 0, 100, 10}).left);
    for (const char* bad :
         {"", ":7 1 2 3", "7 0 0 10 10", ":7 0 0 0 10", ":7 0 0 10 10 x", ":7 -1 0 10 10"}) {
        EXPECT_FALSE(ParseWallDesktop(bad)) << bad;
    }
}

TEST(ZoneApps, RecordsAreReusedAndTemplatesCloseTheirPrograms) {
    WallEditor editor;
    editor.ApplyWallList({});
    editor.SetMatrix(2, 2);
    (void)editor.Create();
    (void)editor.ChooseZoneTemplate(2);

    const auto open = editor.OpenAppTarget(0.7, 0.2);
    ASSERT_TRUE(open);
    EXPECT_EQ(editor.Shown()->apps[open->index].rect, (ZoneItem{0.5, 0, 1, 0.5}));
    editor.MarkAppRunning(open->index, 4242, 0x600001);
    EXPECT_EQ(editor.OpenAppTarget(0.8, 0.4)->index, open->index);  // the same zone
    EXPECT_EQ(editor.OpenAppTarget(0.2, 0.2)->index, 1u);
    EXPECT_EQ(editor.ProcessesInUse(1), (std::vector<std::int64_t>{4242}));

    // A player over a running program closes it and takes its record.
    const auto player = editor.PlayerTarget(0.7, 0.2);
    EXPECT_EQ(player->index, open->index);
    EXPECT_EQ(player->closeWindows, (std::vector<std::uint64_t>{0x600001}));
    EXPECT_FALSE(editor.Shown()->apps[open->index].running);
    EXPECT_FALSE(editor.CloseAppAt(0.7, 0.2));  // nothing runs there now

    editor.MarkAppRunning(1, 77, 0x700001);
    EXPECT_EQ(editor.CloseAppAt(0.2, 0.2), std::optional<std::uint64_t>(0x700001));
    editor.MarkAppRunning(1, 77, 0x700001);
    EXPECT_EQ(editor.ChooseZoneTemplate(1).closeWindows, (std::vector<std::uint64_t>{0x700001}));
    EXPECT_TRUE(editor.Shown()->apps.empty());
}

}  // namespace
}  // namespace orv::panel
