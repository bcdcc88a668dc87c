#include <gtest/gtest.h>

#include "panel/model/panel_layout.h"
#include "panel/model/panel_zones.h"

namespace orv::panel {
namespace {

TEST(StripLayout, TwentyTilesMakeTwoRowsOfTenAndTwentyOneRowsOfElevenAndTen) {
    const Size client{1100, 200};
    const auto twenty = StripTileRects(20, client);
    EXPECT_EQ(twenty[9], (Rect{995, 5, 1095, 95}));   // last of the first row
    EXPECT_EQ(twenty[10], (Rect{5, 105, 105, 195}));  // first of the second
    EXPECT_EQ(twenty[19], (Rect{995, 105, 1095, 195}));

    const auto twentyOne = StripTileRects(21, client);
    EXPECT_EQ(TilesPerRow(21), 11);
    EXPECT_EQ(twentyOne[10], (Rect{1005, 5, 1095, 95}));  // eleventh tile still on row 0
    EXPECT_EQ(twentyOne[11].top, 105);
    EXPECT_EQ(twentyOne[20], (Rect{905, 105, 995, 195}));  // ten on row 1

    // Few tiles keep the width of ten per row.
    EXPECT_EQ(StripTileRects(3, client)[2], (Rect{225, 5, 325, 95}));
    EXPECT_EQ(TileAt(twenty, {110, 50}), std::nullopt);  // the gap between two tiles
    EXPECT_EQ(TileAt(twenty, {120, 150}), std::optional<std::size_t>(11));
}

TEST(HitCell, IndexIsColumnMajorAndOutsideHitsNothing) {
    const Size client{300, 300};
    // A 3-row wall: second column, top row.
    EXPECT_EQ(HitCell({150, 10}, 3, 3, client), (CellHit{4, 1, 0, Rect{100, 0, 200, 100}}));
    // 3 columns x 2 rows: column 2, row 1 is cell 6.
    EXPECT_EQ(HitCell({250, 250}, 3, 2, client)->index, 6);
    EXPECT_EQ(HitCell({-1, 10}, 3, 3, client), std::nullopt);
    EXPECT_EQ(HitCell({300, 10}, 3, 3, client), std::nullopt);
    // 301 / 2 leaves a one-pixel remainder at the right that is no cell.
    EXPECT_EQ(HitCell({300, 10}, 2, 2, Size{301, 300}), std::nullopt);
    EXPECT_EQ(HitCell({10, 10}, 0, 3, client), std::nullopt);
}

TEST(ZoneTemplates, EveryTemplateTilesTheWall) {
    const std::size_t counts[] = {0, 3, 4, 6, 4, 4, 6, 9, 16};
    for (int n = 0; n <= kTemplateCount; ++n) {
        const auto zones = TemplateZones(n);
        EXPECT_EQ(zones.size(), counts[n]) << n;
        EXPECT_TRUE(ZonesTileWall(zones)) << n;
    }
    // Column by column, top to bottom.
    EXPECT_EQ(TemplateZones(7)[1], (ZoneItem{0, 0.25, 0.25, 0.75}));
    EXPECT_EQ(TemplateZones(8)[4], (ZoneItem{0.25, 0, 0.5, 0.25}));
    EXPECT_FALSE(ZonesTileWall({{0, 0, 0.6, 1}, {0.5, 0, 1, 1}}));  // overlap
    EXPECT_FALSE(ZonesTileWall({{0, 0, 0.5, 1}}));                  // a gap
}

class BorderMove : public ::testing::Test {
protected:
    const Size client_{800, 400};  // 2 x 2 wall: cells of 400 x 200
    std::vector<ZoneItem> zones_ = TemplateZones(2);
};

TEST_F(BorderMove, VerticalBorderMovesAnEighthFor100PixelsAndNotFor200) {
    EXPECT_EQ(HitBorder(zones_, {402, 100}, client_), BorderKind::kVertical);
    auto moved = zones_;
    ASSERT_TRUE(MoveBorder(moved, BorderKind::kVertical, {400, 100}, {500, 100}, client_, 2, 2));
    // The upper half of the line moves; the lower half stays (a T-junction).
    EXPECT_EQ(moved[0], (ZoneItem{0, 0, 0.625, 0.5}));
    EXPECT_EQ(moved[2], (ZoneItem{0.625, 0, 1, 0.5}));
    EXPECT_EQ(moved[1], zones_[1]);
    EXPECT_EQ(moved[3], zones_[3]);

    auto far = zones_;
    EXPECT_FALSE(MoveBorder(far, BorderKind::kVertical, {400, 100}, {600, 100}, client_, 2, 2));
    EXPECT_EQ(far, zones_);
    // Too far across the drag.
    EXPECT_FALSE(MoveBorder(far, BorderKind::kVertical, {400, 100}, {450, 180}, client_, 2, 2));
    // Leftwards moves the other way.
    ASSERT_TRUE(MoveBorder(far, BorderKind::kVertical, {400, 300}, {350, 300}, client_, 2, 2));
    EXPECT_EQ(far[1], (ZoneItem{0, 0.5, 0.375, 1}));
}

TEST_F(BorderMove, HorizontalBorderMovesFor50PixelsButNotFor100) {
    EXPECT_EQ(HitBorder(zones_, {100, 195}, client_), BorderKind::kHorizontal);
    auto moved = zones_;
    EXPECT_FALSE(MoveBorder(moved, BorderKind::kHorizontal, {100, 200}, {100, 300}, client_, 2, 2));
    ASSERT_TRUE(MoveBorder(moved, BorderKind::kHorizontal, {100, 200}, {100, 250}, client_, 2, 2));
    EXPECT_EQ(moved[0], (ZoneItem{0, 0, 0.5, 0.625}));
    EXPECT_EQ(moved[1], (ZoneItem{0, 0.625, 0.5, 1}));
    EXPECT_EQ(moved[2], zones_[2]);
}

TEST_F(BorderMove, TheWholeLineMovesSoZonesKeepTilingTheWall) {
    // Template 1: two zones on the left, one tall zone on the right. Moving
    // only the pressed zone's edge would overlap the tall zone.
    auto zones = TemplateZones(1);
    ASSERT_TRUE(MoveBorder(zones, BorderKind::kVertical, {400, 100}, {480, 100}, client_, 2, 2));
    EXPECT_EQ(zones[0].x1, 0.625);
    EXPECT_EQ(zones[1].x1, 0.625);
    EXPECT_EQ(zones[2].x0, 0.625);
    EXPECT_TRUE(ZonesTileWall(zones));
}

TEST_F(BorderMove, MovesThatEmptyAZoneOrTouchTheWallEdgeAreRefused) {
    // 1 column: a step is a quarter of the width, the width of a template-8 zone.
    auto zones = TemplateZones(8);
    const auto before = zones;
    EXPECT_FALSE(MoveBorder(zones, BorderKind::kVertical, {200, 50}, {300, 50}, client_, 1, 2));
    EXPECT_EQ(zones, before);
    // The right edge of the wall is no border to move.
    auto halves = TemplateZones(2);
    EXPECT_FALSE(MoveBorder(halves, BorderKind::kVertical, {798, 100}, {700, 100}, client_, 2, 2));
    // A press more than 5 pixels from the edge moves nothing.
    EXPECT_FALSE(MoveBorder(halves, BorderKind::kVertical, {407, 100}, {507, 100}, client_, 2, 2));
}

TEST(TemplateTable, AMovedLayoutReplacesItsTemplateUntilRebuilt) {
    TemplateTable table;
    table.Build();
    auto zones = table.Zones(2);
    ASSERT_TRUE(MoveBorder(zones, BorderKind::kVertical, {400, 100}, {500, 100}, {800, 400}, 2, 2));
    table.Replace(2, zones);
    EXPECT_EQ(table.Zones(2), zones);
    table.Build();
    EXPECT_EQ(table.Zones(2), TemplateZones(2));
    EXPECT_TRUE(table.Zones(0).empty());
}

}  // namespace
}  // namespace orv::panel
