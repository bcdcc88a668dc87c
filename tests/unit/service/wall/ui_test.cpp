// Monitor numbers: the container, the configuration file, the 1024 limit.
#include "service/wall/ui.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/net/tcp.h"
#include "protocol/driver/driver_protocol.h"
#include "service/adapter/adapter.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_util.h"

using namespace orv::wall;
using orv::adapter::COvwAdapter;
using orv::adapter::COvwMonitor;

TEST(MonitorIdContainer, EncodesUpperCaseAndReadsOtherCharactersAsZero) {
    MonitorIdContainer c{};
    c[0] = 0x07;
    c[127] = 0xA5;
    const std::string text = EncodeContainer(c);
    EXPECT_EQ(text.size(), 256u);
    EXPECT_EQ(text.substr(0, 2), "07");
    EXPECT_EQ(text.substr(254), "A5");
    EXPECT_EQ(DecodeContainer(text), c);
    // Lower-case digits and anything else count as 0; short values leave
    // the rest 0; more than 256 digits are not read.
    EXPECT_EQ(DecodeContainer("0a")[0], 0x00);
    EXPECT_EQ(DecodeContainer("aB")[0], 0x0B);
    EXPECT_EQ(DecodeContainer("F")[0], 0xF0);
    EXPECT_EQ(DecodeContainer("0")[0], 0x00);
    EXPECT_EQ(DecodeContainer(text + "FF"), c);
}

namespace {

// Monitors need an adapter for their name; this one has no link, so their
// mode sets and pictures go nowhere.
class UiTest : public ::testing::Test {
protected:
    orv::test::TempDir dir_;
    const std::string path_ = dir_.File("ORVVideoWallConfigFile.ini");
    COvwAdapter adapter_{{}};
};

}  // namespace

TEST_F(UiTest, FirstStartWritesZeroAndHandsOutTheLowestFreeIds) {
    COvwUI ui(path_);
    orv::platform::Profile file(path_);
    EXPECT_EQ(file.GetString(kContainerSection, kContainerKey), "0");

    COvwMonitor a(adapter_, 0x01), b(adapter_, 0x04), c(adapter_, 0x02);
    EXPECT_EQ(ui.AssignMonitorId(a), 0);
    EXPECT_EQ(ui.AssignMonitorId(b), 0);
    EXPECT_EQ(a.MonitorId(), 1);
    EXPECT_EQ(b.MonitorId(), 2);
    EXPECT_EQ(file.GetString(a.Name(), kMonitorIdKey), "1");
    EXPECT_EQ(file.GetString(kContainerSection, kContainerKey), "03" + std::string(254, '0'));

    // A monitor that leaves keeps its id taken; the next new one gets 3.
    ui.MonitorLeaves(a);
    EXPECT_EQ(ui.MonitorById(1), nullptr);
    EXPECT_EQ(ui.AssignMonitorId(c), 0);
    EXPECT_EQ(c.MonitorId(), 3);
    // Back again, it finds its id in the file.
    COvwMonitor again(adapter_, 0x01);
    EXPECT_EQ(ui.AssignMonitorId(again), 0);
    EXPECT_EQ(again.MonitorId(), 1);
    EXPECT_EQ(ui.MonitorById(1), &again);

    // A new wall object reads the container back.
    COvwUI reloaded(path_);
    EXPECT_EQ(reloaded.Container()[0], 0x07);
}

TEST_F(UiTest, SavedIdsAreUsedButNeverShared) {
    orv::platform::Profile file(path_);
    COvwMonitor seven(adapter_, 0x01), twin(adapter_, 0x04);
    ASSERT_TRUE(file.WriteString(seven.Name(), kMonitorIdKey, "7"));
    // A second section claiming the same number (an edited file).
    ASSERT_TRUE(file.WriteString(twin.Name(), kMonitorIdKey, "7"));
    COvwUI ui(path_);
    EXPECT_EQ(ui.AssignMonitorId(seven), 0);
    EXPECT_EQ(seven.MonitorId(), 7);
    EXPECT_EQ(ui.AssignMonitorId(twin), 0);
    EXPECT_NE(twin.MonitorId(), 7);
    EXPECT_EQ(twin.MonitorId(), 1);
    // The saved id is marked in the container, so nobody else gets it.
    EXPECT_TRUE(ui.Container()[0] & 0x40);
}

TEST_F(UiTest, NoIdIsLeftAfter1024) {
    orv::platform::Profile file(path_);
    MonitorIdContainer full{};
    full.fill(0xFF);
    ASSERT_TRUE(file.WriteString(kContainerSection, kContainerKey, EncodeContainer(full)));
    COvwUI ui(path_);
    COvwMonitor m(adapter_, 0x01);
    EXPECT_EQ(ui.AssignMonitorId(m), -1);
    EXPECT_EQ(m.MonitorId(), 0);
    EXPECT_EQ(ui.ReleaseMonitor(0), 0);
}

namespace {

// The wall records of one wall.
class Records final : public IWallRecords {
public:
    explicit Records(std::vector<CellPlacement> cells) : cells_(std::move(cells)) {}
    std::vector<std::vector<CellPlacement>> Walls() const override { return {cells_}; }
    std::vector<int> RemoveWall(int) override {
        std::vector<int> ids;
        for (const CellPlacement& c : cells_) ids.push_back(c.monitorId);
        cells_.clear();
        return ids;
    }

private:
    std::vector<CellPlacement> cells_;
};

// A driver that creates its events and accepts every view and every drop.
class AcceptingDriver {
public:
    explicit AcceptingDriver(std::uint16_t port) {
        namespace drv = orv::driver;
        for (std::size_t i = 0; i < 4; ++i)
            events_[i] = orv::platform::NamedEvent::Create(drv::kEventNames[i], false, false);
        conn_ = orv::net::TcpConnection::Connect("127.0.0.1", port);
        conn_->Send(drv::EncodeHello().Span());
        thread_ = std::thread([this] {
            drv::MessageCutter cutter(drv::Direction::kToDriver);
            std::array<std::uint8_t, 256> buffer{};
            for (long n; (n = conn_->Receive(buffer)) > 0;) {
                cutter.Append(orv::bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(n)));
                drv::Message m;
                while (cutter.Next(m) == drv::MessageCutter::Step::kMessage) {
                    if (m.type == drv::msg::kCreateView)
                        conn_->Send(drv::EncodeCreateAnswer(1, m.fields[0]).Span());
                    if (m.type == drv::msg::kDropView)
                        conn_->Send(drv::EncodeDropAnswer(1, m.fields[0]).Span());
                }
            }
        });
    }
    ~AcceptingDriver() {
        conn_->Interrupt();
        thread_.join();
    }

private:
    std::array<std::unique_ptr<orv::platform::NamedEvent>, 4> events_;
    std::unique_ptr<orv::net::TcpConnection> conn_;
    std::thread thread_;
};

class WallTest : public UiTest {
protected:
    void SetUp() override {
        setenv("ORV_ROOT", dir_.Path().c_str(), 1);
        const std::string ns = "wall" + std::to_string(getpid()) + "-" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        setenv("ORV_IPC_NAMESPACE", ns.c_str(), 1);
        orv::driver::DriverChannelOptions o;
        o.port = 0;
        ui_ = std::make_unique<COvwUI>(path_, o);
        driver_ = std::make_unique<AcceptingDriver>(ui_->DriverChannel()->Port());
        for (int i = 0; i < 500 && !ui_->DriverChannel()->DriverConnected(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    void TearDown() override {
        ui_.reset();
        driver_.reset();
    }
    std::unique_ptr<COvwUI> ui_;
    std::unique_ptr<AcceptingDriver> driver_;
};

}  // namespace

TEST_F(WallTest, WallsAreBuiltPlacedAndDestroyedAndLeavingMonitorsLeaveNoCell) {
    EXPECT_EQ(ui_->BuildWall(7, 3, 7 * 64, 3 * 64, 64, 64), -1);  // 21 monitors
    EXPECT_EQ(ui_->DestroyWall(1), 0);                            // nothing built

    COvwMonitor a(adapter_, 0x01), b(adapter_, 0x04);
    ASSERT_EQ(ui_->AssignMonitorId(a), 0);
    ASSERT_EQ(ui_->AssignMonitorId(b), 0);
    const int vwid = ui_->BuildWall(3, 2, 5760, 2160, 1920, 1080);
    ASSERT_EQ(vwid, 1);
    ui_->SetCurrentWall(vwid);
    ui_->SetWallRecords(std::make_unique<Records>(
        std::vector<CellPlacement>{{a.MonitorId(), 2, 1}, {b.MonitorId(), 0, 0}}));
    ui_->ApplyWallLayout();
    WallGrid* grid = ui_->GridByVwid(1);
    ASSERT_NE(grid, nullptr);
    {
        orv::MutexLock lock(WallLayoutLock);
        EXPECT_EQ(grid->Cell(2, 1), &a);
        EXPECT_EQ(grid->Cell(0, 0), &b);
        ASSERT_NE(grid->view, nullptr);
        EXPECT_FALSE(grid->view->Frames()->Idle());
    }
    EXPECT_EQ(a.CurrentMode(), (orv::adapter::DisplayMode{1920, 1080, 32, 60, 0}));
    EXPECT_TRUE(a.Placed());

    // Both leave: no cell points to them, and the view becomes idle.
    ui_->MonitorLeaves(a);
    ui_->MonitorLeaves(b);
    {
        orv::MutexLock lock(WallLayoutLock);
        EXPECT_EQ(grid->Cell(2, 1), nullptr);
        EXPECT_EQ(grid->Cell(0, 0), nullptr);
        EXPECT_TRUE(grid->view->Frames()->Idle());
    }

    EXPECT_EQ(ui_->DestroyWall(vwid), 0);
    EXPECT_EQ(ui_->GridByVwid(1), nullptr);
    EXPECT_EQ(ui_->DestroyWall(vwid), 4);  // the flag is still set, the grid gone
    // The freed VWID is handed out again.
    EXPECT_EQ(ui_->BuildWall(1, 1, 64, 64, 64, 64), 1);
}

TEST_F(UiTest, ChangeMonitorIdTakesARememberedIdWithItsSectionOrRefusesAndChangesNothing) {
    orv::platform::Profile file(path_);
    ASSERT_TRUE(file.WriteString("ORV-GONE-MONITOR", kMonitorIdKey, "7"));
    MonitorIdContainer remembered{};
    remembered[0] = 0x40;  // id 7
    ASSERT_TRUE(file.WriteString(kContainerSection, kContainerKey, EncodeContainer(remembered)));
    COvwUI ui(path_);
    COvwMonitor a(adapter_, 0x01), b(adapter_, 0x04);
    ASSERT_EQ(ui.AssignMonitorId(a), 0);  // 1
    ASSERT_EQ(ui.AssignMonitorId(b), 0);  // 2

    // Refusals: no attached monitor has the old id; new ids outside 1..1024.
    const std::string before = orv::platform::test::ReadFile(path_);
    EXPECT_EQ(ui.ChangeMonitorId(5, 9), COvwUI::kIdRefused);
    EXPECT_EQ(ui.ChangeMonitorId(1, 0), COvwUI::kIdRefused);
    EXPECT_EQ(ui.ChangeMonitorId(1, 1025), COvwUI::kIdRefused);
    EXPECT_EQ(orv::platform::test::ReadFile(path_), before);
    EXPECT_EQ(ui.MonitorById(1), &a);

    // 1 -> 7: the remembered monitor gives up 7 with its section; 1 is free.
    EXPECT_EQ(ui.ChangeMonitorId(1, 7), COvwUI::kIdChanged);
    EXPECT_EQ(a.MonitorId(), 7);
    EXPECT_EQ(ui.MonitorById(7), &a);
    EXPECT_EQ(ui.MonitorById(1), nullptr);
    EXPECT_EQ(file.GetString("ORV-GONE-MONITOR", kMonitorIdKey), "");
    EXPECT_EQ(file.GetString(a.Name(), kMonitorIdKey), "7");
    EXPECT_EQ(ui.Container()[0], 0x42);  // ids 2 and 7
    EXPECT_EQ(DecodeContainer(file.GetString(kContainerSection, kContainerKey))[0], 0x42);

    // 7 <-> 2 between attached monitors: both sections change, the
    // container does not.
    EXPECT_EQ(ui.ChangeMonitorId(7, 2), COvwUI::kIdsExchanged);
    EXPECT_EQ(a.MonitorId(), 2);
    EXPECT_EQ(b.MonitorId(), 7);
    EXPECT_EQ(ui.MonitorById(2), &a);
    EXPECT_EQ(ui.MonitorById(7), &b);
    EXPECT_EQ(file.GetString(a.Name(), kMonitorIdKey), "2");
    EXPECT_EQ(file.GetString(b.Name(), kMonitorIdKey), "7");
    EXPECT_EQ(ui.Container()[0], 0x42);
}

namespace {

// Wall records that keep what the restore hands them.
class RestoredRecords final : public IWallRecords {
public:
    std::vector<std::vector<CellPlacement>> Walls() const override {
        std::vector<std::vector<CellPlacement>> out;
        for (const WallDescription& w : restored) out.push_back(w.cells);
        return out;
    }
    std::vector<int> RemoveWall(int) override { return {}; }
    void AddRestoredWall(const WallDescription& wall) override { restored.push_back(wall); }
    void SetSelection(int s) override { selection = s; }

    std::vector<WallDescription> restored;
    int selection = 0;
};

std::vector<std::uint8_t> Fields(std::initializer_list<int> fields) {
    std::vector<std::uint8_t> out(4 * fields.size());
    std::size_t offset = 0;
    for (int v : fields) {
        orv::bytes::PutU32(out, offset, static_cast<std::uint32_t>(v));
        offset += 4;
    }
    return out;
}

}  // namespace

TEST_F(WallTest, RestoreRebuildsTheSavedWallAndSkipsDamagedValues) {
    COvwMonitor a(adapter_, 0x01), b(adapter_, 0x04);
    ASSERT_EQ(ui_->AssignMonitorId(a), 0);
    ASSERT_EQ(ui_->AssignMonitorId(b), 0);
    orv::platform::Profile file(path_);
    // A section whose info is damaged is skipped; the next one is rebuilt.
    ASSERT_TRUE(file.WriteString("VIDEO_WALL_9", kWallInfoKey, "0011"));
    ASSERT_TRUE(file.WriteStruct("VIDEO_WALL_1", kWallInfoKey,
                                 Fields({1, 2560, 720, 1280, 720, 2, 1, 4, 3})));
    ASSERT_TRUE(file.WriteStruct("VIDEO_WALL_1", a.Name(), Fields({1, 1, 0, 2})));
    // b's cell has a wrong checksum; a cell for a monitor not attached, or
    // whose key is not its name, is left out.
    std::string damaged = orv::platform::Profile::EncodeStruct(Fields({2, 0, 0, 1}));
    damaged.back() = damaged.back() == '0' ? '1' : '0';
    ASSERT_TRUE(file.WriteString("VIDEO_WALL_1", b.Name(), damaged));
    ASSERT_TRUE(file.WriteStruct("VIDEO_WALL_1", "ORV-NOT-HERE", Fields({5, 0, 0, 1})));
    ASSERT_TRUE(file.WriteStruct("VIDEO_WALL_1", "ORV-WRONG-NAME", Fields({2, 0, 0, 1})));

    auto records = std::make_unique<RestoredRecords>();
    RestoredRecords* seen = records.get();
    ui_->SetWallRecords(std::move(records));
    int pauses = 0;
    ui_->RestoreConfiguration([&](int) { return ++pauses < 100; });
    EXPECT_EQ(pauses, 0);  // the driver was there
    ASSERT_EQ(seen->restored.size(), 1u);
    const WallDescription& w = seen->restored[0];
    EXPECT_EQ(w.columns, 2);
    EXPECT_EQ(w.zoneTemplate, 4);
    EXPECT_EQ(w.pixelMode, 3);
    ASSERT_EQ(w.cells.size(), 1u);
    EXPECT_EQ(w.cells[0].monitorId, 1);
    EXPECT_EQ(w.cells[0].column, 1);
    EXPECT_EQ(w.cells[0].cellIndex, 2);
    EXPECT_EQ(seen->selection, 1);
    EXPECT_TRUE(ui_->WallBuilt());
    orv::MutexLock lock(WallLayoutLock);
    EXPECT_EQ(ui_->GridByVwid(ui_->CurrentVwid())->Cell(1, 0), &a);
    EXPECT_FALSE(b.Placed());
}
