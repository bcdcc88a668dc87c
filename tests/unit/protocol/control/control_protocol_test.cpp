#include "protocol/control/control_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <vector>

namespace orv::control {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::int32_t I32At(const Bytes& b, std::size_t offset) {
    std::uint32_t v = 0;
    EXPECT_TRUE(bytes::GetU32(b, offset, v)) << "offset " << offset;
    return static_cast<std::int32_t>(v);
}

void PutI32At(Bytes& b, std::size_t offset, std::int32_t v) {
    ASSERT_TRUE(bytes::PutU32(b, offset, static_cast<std::uint32_t>(v)));
}

WallRecord TwoZoneWall() {
    WallRecord w = PanelWallRecord(7, kPixelMode4K, 2, 2, 3, {{0, 0, 0.5, 1}, {0.5, 0, 1, 1}});
    return w;
}

// One message of every type, with fields that differ from one another.
std::vector<Request> EveryRequest() {
    return {Hello{},
            Bezel{1, 2.5f},
            ChangeMonitorId{3, 4},
            GetWalls{},
            GetMonitors{},
            GetEncodeMode{},
            SelectWall{2},
            CreateWall{TwoZoneWall()},
            RemoveWallEntry{2, 1},
            ThreadCount{20},
            AddWallEntry{3, 3},
            DestroyWall{},
            SetWallCells{1, {{5, 1, 0, 0}, {6, 4, 1, 1}}},
            RemoveMonitor{1, 5},
            SwapMonitors{1, 5, 6},
            PanelLeaving{},
            ZoneTemplate{1, 8},
            SaveConfiguration{},
            SetEncodeMode{kEncodeCpu}};
}

std::vector<ServiceMessage> EveryServiceMessage() {
    return {HelloReply{},
            ChangeIdReply{kIdsExchanged, 3, 4},
            WallList{2, {TwoZoneWall()}},
            MonitorList{{{1, 0, 0, 5}, {kNotInWall, kNotInWall, kNotInWall, 9}}},
            EncodeModeReply{kEncodeGpu},
            CpuValue{-5'000'000'000},
            DriverLost{},
            ThreadStatus{1},
            MonitorChange{kMonitorLeft, 12},
            AdapterRemoved{{3, 4}},
            CreateResult{1},
            WallDestroyed{}};
}

TEST(ControlProtocol, WallListWithoutWallIsExactlyNineBytes) {
    EXPECT_EQ(EncodeServiceMessage(WallList{5, {}}), (Bytes{0x40, 0, 0, 0, 0, 1, 0, 0, 0}));
    const auto d = DecodeServiceMessage(Bytes{0x40, 0, 0, 0, 0, 1, 0, 0, 0});
    ASSERT_TRUE(d.value) << d.refusal.reason;
    EXPECT_TRUE(std::get<WallList>(*d.value).walls.empty());
}

TEST(ControlProtocol, WallListWithTwoZoneWallIsLaidOutFieldByField) {
    WallRecord wall = TwoZoneWall();
    wall.wallId = 1;
    const Bytes b = EncodeServiceMessage(WallList{3, {wall}});
    ASSERT_EQ(b.size(), 117u);  // 1 + 4 + 4 + 40 + 64 + 4
    EXPECT_EQ(b[0], 0x40);
    EXPECT_EQ(I32At(b, kWallListOffCount), 1);
    EXPECT_EQ(I32At(b, kWallListOffSelection), 3);
    const std::size_t w = kWallListOffWalls;
    EXPECT_EQ(I32At(b, w + kWallOffId), 1);
    EXPECT_EQ(I32At(b, w + kWallOffPixelMode), kPixelMode4K);
    EXPECT_EQ(I32At(b, w + kWallOffColumns), 2);
    EXPECT_EQ(I32At(b, w + kWallOffRows), 2);
    EXPECT_EQ(I32At(b, w + kWallOffTotalWidth), 3840);
    EXPECT_EQ(I32At(b, w + kWallOffTotalHeight), 2160);
    EXPECT_EQ(I32At(b, w + kWallOffMonitorWidth), 1920);
    EXPECT_EQ(I32At(b, w + kWallOffMonitorHeight), 1080);
    EXPECT_EQ(I32At(b, w + kWallOffZoneCount), 2);
    EXPECT_EQ(I32At(b, w + kWallOffZoneTemplate), 3);
    std::uint64_t x1 = 0;  // second zone's x0 is 0.5
    ASSERT_TRUE(
        bytes::Get(bytes::ConstBytes(b), w + kWallOffZones + kZoneItemSize + kZoneOffX0, x1));
    EXPECT_EQ(std::bit_cast<double>(x1), 0.5);
    EXPECT_EQ(I32At(b, 113), kWallListEnd);
}

TEST(ControlProtocol, GreetingAndFixedLayouts) {
    EXPECT_EQ(EncodeRequest(Hello{}), Bytes{0x01});
    EXPECT_EQ(EncodeServiceMessage(HelloReply{}), (Bytes{0x02, 0, 0, 0}));
    EXPECT_EQ(EncodeRequest(ChangeMonitorId{3, 260}), (Bytes{0x14, 3, 0, 0, 0, 4, 1, 0, 0}));
    EXPECT_EQ(EncodeServiceMessage(MonitorChange{kMonitorLeft, 258}), (Bytes{0x57, 1, 2, 1, 0, 0}));
    EXPECT_EQ(EncodeServiceMessage(AdapterRemoved{}), (Bytes{0x5D, 0, 0, 0, 0}));
    const Bytes bezel = EncodeRequest(Bezel{1, 1.0f});
    EXPECT_EQ(bezel, (Bytes{0x12, 1, 0, 0, 0, 0x00, 0x00, 0x80, 0x3F}));
}

TEST(ControlProtocol, CreateWallCarriesTheRecordFromOffsetOne) {
    const Bytes b = EncodeRequest(CreateWall{TwoZoneWall()});
    ASSERT_EQ(b.size(), kCreateWallFixedSize + 2 * kZoneItemSize);
    EXPECT_EQ(I32At(b, kCreateOffRecord + kWallOffId), 7);
    EXPECT_EQ(I32At(b, kCreateOffZoneCount), 2);
    EXPECT_EQ(I32At(b, kCreateOffRecord + kWallOffZoneTemplate), 3);
}

TEST(ControlProtocol, EveryMessageRoundTripsAndMatchesItsLength) {
    for (const Request& r : EveryRequest()) {
        const Bytes b = EncodeRequest(r);
        const auto d = DecodeRequest(b);
        ASSERT_TRUE(d.value) << "type " << int(b[0]) << ": " << d.refusal.reason;
        EXPECT_EQ(*d.value, r) << "type " << int(b[0]);
    }
    for (const ServiceMessage& m : EveryServiceMessage()) {
        const Bytes b = EncodeServiceMessage(m);
        const auto d = DecodeServiceMessage(b);
        ASSERT_TRUE(d.value) << "type " << int(b[0]) << ": " << d.refusal.reason;
        EXPECT_EQ(*d.value, m) << "type " << int(b[0]);
    }
}

// A request one byte short is refused with a reason naming it; one byte more
// is refused too (fixed types: too long; counted: the count does not match).
TEST(ControlProtocol, RequestsNotOfTheirLayoutLengthAreRefused) {
    for (const Request& r : EveryRequest()) {
        const Bytes b = EncodeRequest(r);
        const bool counted = b[0] == type::kCreateWall || b[0] == type::kSetWallCells;
        if (b.size() > 1) {
            const auto shorter = DecodeRequest(bytes::ConstBytes(b).first(b.size() - 1));
            EXPECT_FALSE(shorter.value);
            EXPECT_EQ(shorter.refusal.fault, counted ? Fault::kCountMismatch : Fault::kTooShort)
                << shorter.refusal.reason;
            EXPECT_NE(shorter.refusal.reason.find(std::to_string(b.size() - 1)), std::string::npos)
                << shorter.refusal.reason;
        }
        Bytes longer = b;
        longer.push_back(0);
        EXPECT_EQ(DecodeRequest(longer).refusal.fault,
                  counted ? Fault::kCountMismatch : Fault::kTooLong);
    }
    const auto cut = DecodeRequest(Bytes{0x14, 1, 0, 0, 0});
    EXPECT_EQ(cut.refusal.fault, Fault::kTooShort);
    EXPECT_EQ(cut.refusal.reason, "0x14 is 5 bytes, its layout 9");
    EXPECT_EQ(DecodeRequest(Bytes(20, 0x50)).refusal.fault, Fault::kTooShort);
    EXPECT_EQ(DecodeRequest(Bytes{}).refusal.fault, Fault::kEmpty);
    EXPECT_EQ(DecodeRequest(Bytes{0x02}).refusal.fault, Fault::kUnknownType);
    EXPECT_EQ(DecodeServiceMessage(Bytes{0x01}).refusal.fault, Fault::kUnknownType);
}

TEST(ControlProtocol, CountsThatDoNotMatchTheBytesAreRefused) {
    // 0x59 announcing three cells but carrying two, and a huge count: refused
    // before any cell is read (no allocation follows the count).
    Bytes cells = EncodeRequest(SetWallCells{1, {{5, 1, 0, 0}, {6, 2, 0, 1}}});
    PutI32At(cells, kCellsOffCount, 3);
    EXPECT_EQ(DecodeRequest(cells).refusal.fault, Fault::kCountMismatch);
    PutI32At(cells, kCellsOffCount, 0x7FFFFFFF);
    EXPECT_EQ(DecodeRequest(cells).refusal.fault, Fault::kBadCount);
    PutI32At(cells, kCellsOffCount, -1);
    EXPECT_EQ(DecodeRequest(cells).refusal.fault, Fault::kBadCount);
    PutI32At(cells, kCellsOffCount, 1);
    EXPECT_EQ(DecodeRequest(cells).refusal.fault, Fault::kCountMismatch);

    Bytes create = EncodeRequest(CreateWall{TwoZoneWall()});
    PutI32At(create, kCreateOffZoneCount, 1);
    EXPECT_EQ(DecodeRequest(create).refusal.fault, Fault::kCountMismatch);
    PutI32At(create, kCreateOffZoneCount, -2);
    EXPECT_EQ(DecodeRequest(create).refusal.fault, Fault::kBadCount);

    // The service's counted answers are held to the same rule.
    Bytes list = EncodeServiceMessage(WallList{1, {TwoZoneWall()}});
    PutI32At(list, kWallListOffWalls + kWallOffZoneCount, 3);
    EXPECT_EQ(DecodeServiceMessage(list).refusal.fault, Fault::kCountMismatch);
    PutI32At(list, kWallListOffCount, -1);
    EXPECT_EQ(DecodeServiceMessage(list).refusal.fault, Fault::kBadCount);
    Bytes removed = EncodeServiceMessage(AdapterRemoved{{1, 2}});
    PutI32At(removed, kRemovedOffCount, 1);
    EXPECT_EQ(DecodeServiceMessage(removed).refusal.fault, Fault::kCountMismatch);
}

TEST(ControlProtocol, ServiceFieldsOutsideTheirValuesAreRefused) {
    EXPECT_EQ(DecodeServiceMessage(Bytes{0x02, 0, 1, 0}).refusal.fault, Fault::kBadValue);
    EXPECT_EQ(DecodeServiceMessage(Bytes{0x57, 2, 1, 0, 0, 0}).refusal.fault, Fault::kBadValue);
    EXPECT_EQ(DecodeServiceMessage(Bytes{0x40, 0, 0, 0, 0, 0, 0, 0, 0}).refusal.fault,
              Fault::kBadValue);
}

TEST(ControlProtocol, OversizedMessagesAreNotEncoded) {
    SetWallCells cells{1, std::vector<WallCell>(kMaxCells + 1)};
    EXPECT_TRUE(EncodeRequest(cells).empty());
    cells.cells.pop_back();
    EXPECT_EQ(EncodeRequest(cells).size(), kSetWallCellsFixedSize + kMaxCells * kWallCellSize);
}

// ---------------------------------------------------------------- cutter

Bytes Concatenate(const std::vector<Bytes>& messages) {
    Bytes all;
    for (const Bytes& m : messages) all.insert(all.end(), m.begin(), m.end());
    return all;
}

// Feeds `stream` in pieces of `piece` bytes; returns the messages cut.
std::vector<Bytes> Cut(Direction d, const Bytes& stream, std::size_t piece) {
    MessageCutter cutter(d);
    std::vector<Bytes> out;
    for (std::size_t pos = 0; pos < stream.size(); pos += piece) {
        cutter.Append(bytes::ConstBytes(stream).subspan(pos, std::min(piece, stream.size() - pos)));
        Bytes m;
        Refusal why;
        MessageCutter::Step step;
        while ((step = cutter.Next(m, why)) == MessageCutter::Step::kMessage) out.push_back(m);
        EXPECT_EQ(step, MessageCutter::Step::kNeedMore) << why.reason;
    }
    EXPECT_EQ(cutter.Buffered(), 0u);
    return out;
}

TEST(ControlCutter, MergedOrSplitMessagesComeOutWhole) {
    std::vector<Bytes> requests, answers;
    for (const Request& r : EveryRequest()) requests.push_back(EncodeRequest(r));
    for (const ServiceMessage& m : EveryServiceMessage())
        answers.push_back(EncodeServiceMessage(m));
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
        EXPECT_EQ(Cut(Direction::kToService, Concatenate(requests), piece), requests) << piece;
        EXPECT_EQ(Cut(Direction::kToPanel, Concatenate(answers), piece), answers) << piece;
    }
}

TEST(ControlCutter, UnknownTypeOrBadCountDropsTheReceiveAndCuttingResumes) {
    MessageCutter cutter(Direction::kToService);
    Bytes m;
    Refusal why;
    cutter.Append(Concatenate({EncodeRequest(GetWalls{}), Bytes{0x77, 1, 2}, Bytes{0x01}}));
    ASSERT_EQ(cutter.Next(m, why), MessageCutter::Step::kMessage);
    EXPECT_EQ(m, Bytes{0x40});
    ASSERT_EQ(cutter.Next(m, why), MessageCutter::Step::kRefused);
    EXPECT_EQ(why.fault, Fault::kUnknownType);
    EXPECT_EQ(why.reason, "unknown message type 0x77; 4 bytes dropped");
    EXPECT_EQ(cutter.Next(m, why), MessageCutter::Step::kNeedMore);

    Bytes cells = EncodeRequest(SetWallCells{1, {}});
    PutI32At(cells, kCellsOffCount, 0x40000000);
    cutter.Append(cells);
    ASSERT_EQ(cutter.Next(m, why), MessageCutter::Step::kRefused);
    EXPECT_EQ(why.fault, Fault::kBadCount);
    EXPECT_EQ(cutter.Buffered(), 0u);

    cutter.Append(EncodeRequest(Hello{}));
    ASSERT_EQ(cutter.Next(m, why), MessageCutter::Step::kMessage);
    EXPECT_EQ(m, Bytes{0x01});
}

TEST(ControlCutter, DropPartialRefusesAShortRequest) {
    MessageCutter cutter(Direction::kToService);
    EXPECT_EQ(cutter.DropPartial().fault, Fault::kNone);
    cutter.Append(Bytes{0x5B, 1, 0, 0, 0});
    Bytes m;
    Refusal why;
    EXPECT_EQ(cutter.Next(m, why), MessageCutter::Step::kNeedMore);
    const Refusal r = cutter.DropPartial();
    EXPECT_EQ(r.fault, Fault::kTooShort);
    EXPECT_EQ(r.reason, "0x5b cut short at 5 bytes of 13");
    EXPECT_EQ(cutter.Buffered(), 0u);
    cutter.Append(Bytes{0x50, 1});
    EXPECT_EQ(cutter.DropPartial().reason, "0x50 cut short at 2 bytes of at least 41");
}

// ---------------------------------------------------------------- panel rules

TEST(ControlPanelRules, CellIndexIsColumnMajorFromOne) {
    EXPECT_EQ(CellIndex(0, 0, 2), 1);
    EXPECT_EQ(CellIndex(0, 1, 2), 2);
    EXPECT_EQ(CellIndex(2, 1, 2), 6);  // 3 columns x 2 rows, last cell
}

TEST(ControlPanelRules, PixelBudgetChoosesTheMonitorSize) {
    constexpr MonitorSize kFullHd{1920, 1080}, kHd{1280, 720};
    EXPECT_EQ(MonitorSizeFor(kPixelMode4K, 2, 2), kFullHd);
    EXPECT_EQ(MonitorSizeFor(kPixelMode4K, 3, 2), kHd);
    EXPECT_EQ(MonitorSizeFor(kPixelMode2K, 1, 1), kFullHd);
    EXPECT_EQ(MonitorSizeFor(kPixelMode2K, 2, 1), kHd);
    EXPECT_EQ(MonitorSizeFor(kPixelMode1080P, 1, 1), kFullHd);
    EXPECT_EQ(MonitorSizeFor(kPixelMode1080P, 1, 2), kHd);
    EXPECT_EQ(MonitorSizeFor(0, 1, 1), kHd);
    const WallRecord w = PanelWallRecord(1, kPixelMode4K, 3, 2, 0, {});
    EXPECT_EQ(w.totalWidth, 3 * 1280);
    EXPECT_EQ(w.totalHeight, 2 * 720);
    EXPECT_EQ(w.monitorWidth, 1280);
    EXPECT_EQ(EncodeRequest(CreateWall{w}).size(), kCreateWallFixedSize);
}

TEST(ControlPanelRules, ZoneTemplatesTileTheWallInTheirOrder) {
    const std::size_t counts[] = {0, 3, 4, 6, 4, 4, 6, 9, 16};
    for (std::int32_t t = 0; t <= kZoneTemplateCount; ++t) {
        const std::vector<ZoneItem> zones = TemplateZones(t);
        ASSERT_EQ(zones.size(), counts[t]) << "template " << t;
        // Every template covers the wall exactly once: inside it, no zone
        // empty, areas summing to the whole.
        double area = 0;
        for (const ZoneItem& z : zones) {
            EXPECT_TRUE(0 <= z.x0 && z.x0 < z.x1 && z.x1 <= 1) << "template " << t;
            EXPECT_TRUE(0 <= z.y0 && z.y0 < z.y1 && z.y1 <= 1) << "template " << t;
            area += (z.x1 - z.x0) * (z.y1 - z.y0);
        }
        if (t > 0) {
            EXPECT_DOUBLE_EQ(area, 1.0) << "template " << t;
        }
    }
    EXPECT_TRUE(TemplateZones(9).empty());
    EXPECT_TRUE(TemplateZones(-1).empty());
    // Column by column, top to bottom.
    EXPECT_EQ(TemplateZones(3)[1], (ZoneItem{0, 0.25, 0.5, 0.75}));
    EXPECT_EQ(TemplateZones(3)[3], (ZoneItem{0.5, 0, 1, 0.25}));
    EXPECT_EQ(TemplateZones(7)[3], (ZoneItem{0.25, 0, 0.75, 0.25}));
    EXPECT_EQ(TemplateZones(8)[5], (ZoneItem{0.25, 0.25, 0.5, 0.5}));
}

}  // namespace
}  // namespace orv::control
