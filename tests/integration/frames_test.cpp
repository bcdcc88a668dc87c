// Frames through the service, as real processes: zentrelle, the adapter
// simulator with two adapters of two monitors each, and a display driver:
// either a small one in the test that speaks the driver channel through its
// protocol header, or the real orv-display-driver with its test pattern. The
// wall (2 x 2 monitors of 1280 x 720) is built and placed through the
// TestWallLayout registry value.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "codec/encode/picture_encoder.h"
#include "common/png/png_io.h"
#include "platform/named_event.h"
#include "platform/net/tcp.h"
#include "platform/shared_memory.h"
#include "protocol/driver/driver_protocol.h"
#include "sim/driver/frame_source.h"
#include "tests/support/child_process.h"
#include "tests/support/flip_records.h"
#include "tests/support/wall_rig.h"
#include "tests/support/xvfb.h"

#include <X11/Xlib.h>

using namespace orv::testing;
using namespace std::chrono_literals;
namespace drv = orv::driver;

namespace {

constexpr int kColumns = 2, kRows = 2, kMonitorW = 1280, kMonitorH = 720;

// The colour (B, G, R) of cell (column, row).
std::array<std::uint8_t, 3> CellColour(int column, int row) {
    return {static_cast<std::uint8_t>(column == 0 ? 0x20 : 0xE0),
            static_cast<std::uint8_t>(row == 0 ? 0x30 : 0xC0), 0x80};
}

// The driver side of the channel, just enough to create one view and feed
// it frames of solid cells.
class TestDriver {
public:
    explicit TestDriver(std::uint16_t port) {
        for (std::size_t i = 0; i < 4; ++i) {
            events_[i] = orv::platform::NamedEvent::Create(drv::kEventNames[i], false, false);
            events_[i]->Reset();
        }
        for (int i = 0; i < 100 && !conn_; ++i) {
            conn_ = orv::net::TcpConnection::Connect("127.0.0.1", port);
            if (!conn_) std::this_thread::sleep_for(100ms);
        }
    }
    bool Connected() const { return conn_ != nullptr; }

    // Greets and serves requests until a view exists; false on time-out.
    bool Greet() {
        if (!conn_->Send(drv::EncodeHello().Span())) return false;
        drv::Message m;
        return Next(m, 5s) && m.type == drv::msg::kHelloReply;
    }
    bool WaitForView(std::chrono::seconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        drv::Message m;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!Next(m, 1s)) continue;
            if (m.type == drv::msg::kCalgValue) calg_ = m.fields[0];
            if (m.type != drv::msg::kCreateView) continue;
            viewId_ = m.fields[0];
            const drv::ViewGeometry g{
                static_cast<std::uint32_t>(m.fields[1]), static_cast<std::uint32_t>(m.fields[2]),
                static_cast<std::uint32_t>(m.fields[3]), static_cast<std::uint32_t>(m.fields[4])};
            layout_ = *drv::LayoutFor(g);
            memory_ = orv::platform::SharedMemory::Open(drv::ShareBufferName(viewId_), 0);
            conn_->Send(drv::EncodeCreateAnswer(memory_ ? 1 : 0, viewId_).Span());
            return memory_ != nullptr;
        }
        return false;
    }

    // The packets of one frame of solid cells, slot by slot (column-major).
    static std::vector<std::vector<std::uint8_t>> SolidCells() {
        std::vector<std::uint8_t> pixels(std::size_t{kMonitorW} * kMonitorH * 4);
        std::vector<std::uint8_t> packet(4u << 20);
        std::vector<std::vector<std::uint8_t>> packets;
        orv::codec::PictureEncoder encoder;
        for (int column = 0; column < kColumns; ++column)
            for (int row = 0; row < kRows; ++row) {
                const auto c = CellColour(column, row);
                for (std::size_t i = 0; i < pixels.size(); i += 4) {
                    pixels[i] = c[0];
                    pixels[i + 1] = c[1];
                    pixels[i + 2] = c[2];
                    pixels[i + 3] = 0xFF;
                }
                orv::codec::PictureDescriptor d;
                d.pixels = pixels;
                d.width = kMonitorW;
                d.height = kMonitorH;
                d.stride = kMonitorW * 4;
                d.compressionCode = orv::adapter::kCompressYuv;
                const std::uint32_t n = encoder.EncodeFramePacket(d, 0, packet);
                packets.emplace_back(packet.begin(), packet.begin() + n);
            }
        return packets;
    }

    // Writes one frame into the next half with `fill` (which gets the half's
    // bytes and the layout) and signals it. False when the service did not
    // release the half within 5 s.
    bool Publish(const std::function<void(orv::bytes::MutBytes, const drv::ShareLayout&)>& fill) {
        const int half = next_;
        next_ = 1 - next_;
        bool released = true;
        if (used_[half])
            released =
                events_[half == 0 ? drv::kEventHalf1Released : drv::kEventHalf2Released]->Wait(
                    5000) == orv::platform::kWaitObject0;
        used_[half] = true;
        fill(memory_->Bytes().subspan(layout_.HalfOffset(half + 1), layout_.half), layout_);
        events_[half == 0 ? drv::kEventHalf1Ready : drv::kEventHalf2Ready]->Set();
        return released;
    }

    // Writes `frames` frames of solid cells into alternate halves; false when
    // a half was not released in time.
    bool Produce(int frames) {
        const auto packets = SolidCells();
        bool released = true;
        for (int f = 0; f < frames; ++f)
            released = Publish([&](orv::bytes::MutBytes bytes, const drv::ShareLayout& layout) {
                           std::uint32_t slot = 0;
                           for (int column = 0; column < kColumns; ++column)
                               for (int row = 0; row < kRows; ++row, ++slot)
                                   drv::WriteFrameSlot(
                                       bytes, layout, slot, static_cast<std::uint32_t>(column),
                                       static_cast<std::uint32_t>(row), packets[slot]);
                           drv::WriteSlotCount(bytes, layout, static_cast<std::uint16_t>(slot));
                       }) &&
                       released;
        return released;
    }
    bool Send(orv::bytes::ConstBytes bytes) { return conn_->Send(bytes); }
    int Calg() const { return calg_; }

private:
    bool Next(drv::Message& m, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (cutter_.Next(m) == drv::MessageCutter::Step::kMessage) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            if (!conn_->WaitReadable(100)) continue;
            std::array<std::uint8_t, 256> buffer{};
            const long n = conn_->Receive(buffer);
            if (n <= 0) return false;
            cutter_.Append(orv::bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(n)));
        }
    }

    std::array<std::unique_ptr<orv::platform::NamedEvent>, 4> events_;
    std::unique_ptr<orv::net::TcpConnection> conn_;
    drv::MessageCutter cutter_{drv::Direction::kToDriver};
    drv::ShareLayout layout_;
    std::unique_ptr<orv::platform::SharedMemory> memory_;
    int viewId_ = 0;
    int calg_ = -1;
    int next_ = 0;                   // the half the next frame goes to
    bool used_[2] = {false, false};  // a frame was written there before
};

class FramesTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(rig_.StopService(), 0);
        rig_.Stop();
    }
    // The simulator with `adapters` (1 or 2) adapters of two monitors each.
    void StartSim(int adapters = 2) {
        ASSERT_TRUE(rig_.StartSim(adapters)) << "simulator did not answer";
    }
    std::string Sim(const std::string& command) { return rig_.Sim(command); }
    std::string Log() const { return rig_.Log(); }
    int SavedId(const std::string& name) const { return rig_.SavedId(name); }
    std::uint64_t Stat(const std::string& adapter, const std::string& key) {
        return rig_.Stat(adapter, key);
    }
    // Neither simulated adapter counted a protocol violation.
    void ExpectNoViolations() {
        for (const char* a : {"a0", "a1"})
            EXPECT_EQ(Stat(a, "violations"), 0u) << Sim("violations " + std::string(a));
    }
    // The driver stand-in ends cleanly on SIGTERM.
    static void ExpectCleanStop(ChildProcess& driver) {
        driver.Signal(SIGTERM);
        EXPECT_EQ(driver.Wait(10s), 0);
    }

    // Starts the service with the 2 x 2 test wall and waits until the four
    // monitors have their ids. Ids follow arrival order; the layout names ids
    // 1..4 and a test reads back which monitor got which id.
    void StartServiceWithWall(
        const std::string& layout = "2 2 2560 1440 1280 720 1:0:0 2:1:0 3:0:1 4:1:1",
        int monitors = 4) {
        rig_.SetTestWallLayout(layout);
        ASSERT_TRUE(rig_.StartService(monitors)) << Log();
    }
    std::string LogPath() const { return rig_.LogPath(); }
    // The real display driver with its test pattern.
    std::unique_ptr<ChildProcess> StartDriver(std::vector<std::string> extra = {}) {
        auto driver = rig_.NewDriver(std::move(extra));
        EXPECT_TRUE(driver->Started());
        return driver;
    }
    ChildProcess* Service() { return rig_.Service(); }

    FlipRecords ReadFlips() { return rig_.ReadFlips(); }
    bool EachFlippedSince(const std::vector<std::string>& monitors, std::int64_t since,
                          int count = 5, std::chrono::seconds timeout = 20s) {
        return rig_.EachFlippedSince(monitors, since, count, timeout);
    }

    WallRig rig_{{ZENTRELLE, SIMULATOR, DISPLAY_DRIVER, FAKE_SYSTEMCTL}, "frames"};
    const std::string root_ = rig_.Root();
    const std::uint16_t port_ = rig_.DriverPort();
};

TEST_F(FramesTest, FramesReachEveryMonitorOfATwoByTwoWallAtItsPlace) {
    StartSim();
    StartServiceWithWall();

    TestDriver driver(port_);
    ASSERT_TRUE(driver.Connected());
    ASSERT_TRUE(driver.Greet());
    ASSERT_TRUE(driver.WaitForView(20s)) << Log();
    EXPECT_EQ(driver.Calg(), drv::kCalgUnread);  // no CALG value in the registry
    ASSERT_TRUE(WaitForFileContaining(root_ + "/var/log/orv-videowall/ServiceManager.log.txt",
                                      "BuildWall-CreateView sucessful! VWID=1.", 10s))
        << Log();
    // Placing switches every monitor to the wall mode; give it time to
    // settle before the frames (frames during a mode set are refused).
    std::this_thread::sleep_for(2s);
    constexpr int kFrames = 60;
    ASSERT_TRUE(driver.Produce(kFrames));
    // Every adapter saw frames and show-frame commands, without violations.
    for (const char* a : {"a0", "a1"}) {
        bool shown = false;
        for (int i = 0; i < 100 && !shown; ++i) {
            shown = Stat(a, "shows") >= kFrames / 2;
            if (!shown) std::this_thread::sleep_for(100ms);
        }
        EXPECT_TRUE(shown) << Sim("stats " + std::string(a)) << Log();
        EXPECT_GE(Stat(a, "frames"), std::uint64_t{kFrames}) << Sim("stats " + std::string(a));
        EXPECT_EQ(Stat(a, "violations"), 0u) << Sim("violations " + std::string(a));
    }

    // Each monitor shows the colour of the cell its id was placed at.
    const std::map<std::string, std::pair<std::string, int>> monitors = {
        {"ORV-FRAMES-ADAPTER-A1", {"a0", 1}},
        {"ORV-FRAMES-ADAPTER-A4", {"a0", 4}},
        {"ORV-FRAMES-ADAPTER-B1", {"a1", 1}},
        {"ORV-FRAMES-ADAPTER-B4", {"a1", 4}}};
    for (const auto& [name, where] : monitors) {
        const int id = SavedId(name);
        ASSERT_GE(id, 1);
        ASSERT_LE(id, 4);
        const int column = (id - 1) % 2, row = (id - 1) / 2;
        const std::string file = root_ + "/" + name + ".png";
        ASSERT_EQ(Sim("png " + where.first + " " + std::to_string(where.second) + " " + file)
                      .rfind("ok", 0),
                  0u);
        orv::png::Image image;
        std::string error;
        ASSERT_TRUE(orv::png::ReadPng(file, image, error)) << error;
        ASSERT_EQ(image.width, std::uint32_t{kMonitorW});
        const std::size_t centre =
            (std::size_t{image.height} / 2 * image.width + image.width / 2) * 4;
        const auto want = CellColour(column, row);
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(image.bgrx[centre + ch], want[ch], 6) << name << " channel " << ch;
    }
    EXPECT_EQ(Log().find("Wait frame index timeout."), std::string::npos);
}

// The four simulated monitors: "adapter:port" and the name their id is
// saved under.
const std::vector<std::pair<std::string, std::string>> kWallMonitors = {
    {"a0:1", "ORV-FRAMES-ADAPTER-A1"},
    {"a0:4", "ORV-FRAMES-ADAPTER-A4"},
    {"a1:1", "ORV-FRAMES-ADAPTER-B1"},
    {"a1:4", "ORV-FRAMES-ADAPTER-B4"}};

std::vector<std::string> WallMonitorNames() {
    std::vector<std::string> names;
    for (const auto& m : kWallMonitors) names.push_back(m.first);
    return names;
}

// The pixel (B, G, R) at (x, y) of a BGRX picture.
std::array<int, 3> PixelAt(const orv::png::Image& image, std::uint32_t x, std::uint32_t y) {
    const std::size_t i = (std::size_t{y} * image.width + x) * 4;
    return {image.bgrx[i], image.bgrx[i + 1], image.bgrx[i + 2]};
}

void ExpectPatternColour(const orv::png::Image& image, std::uint32_t x, std::uint32_t y, int column,
                         int row, const std::string& what) {
    const auto want = orv::driver::PatternColour(static_cast<std::uint32_t>(column),
                                                 static_cast<std::uint32_t>(row));
    const auto got = PixelAt(image, x, y);
    EXPECT_NEAR(got[0], want.b, 8) << what;
    EXPECT_NEAR(got[1], want.g, 8) << what;
    EXPECT_NEAR(got[2], want.r, 8) << what;
}

TEST_F(FramesTest, RealDriverPatternFillsTheWallInStep) {
    StartSim();
    StartServiceWithWall();
    // One precomputed frame: every frame is the same picture, so monitor
    // snapshots and the wall snapshot taken apart can be compared exactly.
    auto driver = StartDriver({"--precompute", "1"});
    ASSERT_TRUE(WaitForFileContaining(LogPath(), "BuildWall-CreateView sucessful! VWID=1.", 20s))
        << Log();
    ASSERT_TRUE(EachFlippedSince(WallMonitorNames(), 0, 30)) << Sim("flips 3") << Log();

    // Frames keep flowing; every monitor flipped to the same frames.
    ASSERT_TRUE(ExpectFlippedInStep([this] { return ReadFlips(); }, 4)) << Sim("flips 3");
    ExpectNoViolations();

    // Each monitor shows its cell's pattern colour (its top-left quarter is
    // nothing else), and the placed wall snapshot holds each monitor's
    // picture at its cell, so it composes the whole pattern.
    std::string placement;
    std::map<std::string, orv::png::Image> pictures;
    std::map<std::string, std::pair<int, int>> cells;
    for (const auto& [where, name] : kWallMonitors) {
        const int id = SavedId(name);
        ASSERT_GE(id, 1);
        ASSERT_LE(id, 4);
        const int column = (id - 1) % 2, row = (id - 1) / 2;
        cells[where] = {column, row};
        const auto colon = where.find(':');
        const std::string file = root_ + "/" + name + ".png";
        ASSERT_EQ(Sim("png " + where.substr(0, colon) + " " + where.substr(colon + 1) + " " + file)
                      .rfind("ok", 0),
                  0u);
        std::string error;
        ASSERT_TRUE(orv::png::ReadPng(file, pictures[where], error)) << error;
        ASSERT_EQ(pictures[where].width, std::uint32_t{kMonitorW});
        ASSERT_EQ(pictures[where].height, std::uint32_t{kMonitorH});
        ExpectPatternColour(pictures[where], kMonitorW / 8, kMonitorH / 8, column, row, name);
        placement += " " + where + "=" + std::to_string(column) + "," + std::to_string(row);
    }
    const std::string wallFile = root_ + "/wall.png";
    ASSERT_EQ(Sim("wall-png " + wallFile + placement).rfind("ok", 0), 0u);
    orv::png::Image wall;
    std::string error;
    ASSERT_TRUE(orv::png::ReadPng(wallFile, wall, error)) << error;
    ASSERT_EQ(wall.width, std::uint32_t{kColumns * kMonitorW});
    ASSERT_EQ(wall.height, std::uint32_t{kRows * kMonitorH});
    for (const auto& [where, cell] : cells) {
        const auto& picture = pictures[where];
        int differing = 0;
        for (std::uint32_t y = 0; y < kMonitorH; y += 7)
            for (std::uint32_t x = 0; x < kMonitorW; x += 7)
                differing += PixelAt(picture, x, y) !=
                             PixelAt(wall, static_cast<std::uint32_t>(cell.first * kMonitorW) + x,
                                     static_cast<std::uint32_t>(cell.second * kMonitorH) + y);
        EXPECT_EQ(differing, 0) << where;
    }
    EXPECT_EQ(Log().find("Wait frame index timeout."), std::string::npos);
    ExpectCleanStop(*driver);
    EXPECT_NE(driver->Output().find("stopped: "), std::string::npos) << driver->Output();
}

TEST_F(FramesTest, DriverKilledMidFramesLeavesTheServiceReadyForTheNext) {
    StartSim();
    StartServiceWithWall();
    auto driver = StartDriver();
    ASSERT_TRUE(EachFlippedSince(WallMonitorNames(), 0, 10)) << Sim("flips 3") << Log();

    driver->Signal(SIGKILL);
    driver->Wait(10s);
    ASSERT_TRUE(WaitForFileContaining(LogPath(), "Reset video wall successful.", 15s)) << Log();
    EXPECT_FALSE(Service()->Wait(0ms).has_value()) << "the service ended";

    const std::int64_t restarted = NowMicros();
    auto second = StartDriver();
    EXPECT_TRUE(EachFlippedSince(WallMonitorNames(), restarted, 10))
        << Sim("flips 3") << Log() << second->Output();
    ExpectNoViolations();
    ExpectCleanStop(*second);
}

// An adapter unplugged while frames flow: the other adapter's monitors keep
// flipping; back on the bus, its monitors get their ids again, are placed
// again and flip again.
TEST_F(FramesTest, AnAdapterUnpluggedMidFramesComesBackWithItsIdsAndFrames) {
    StartSim();
    StartServiceWithWall();
    const int idB1 = SavedId("ORV-FRAMES-ADAPTER-B1"), idB4 = SavedId("ORV-FRAMES-ADAPTER-B4");
    ASSERT_GE(idB1, 1);
    ASSERT_GE(idB4, 1);
    auto driver = StartDriver();
    ASSERT_TRUE(EachFlippedSince(WallMonitorNames(), 0, 10)) << Sim("flips 3") << Log();

    ASSERT_EQ(Sim("detach a1"), "ok");
    const std::int64_t detached = NowMicros();
    EXPECT_TRUE(EachFlippedSince({"a0:1", "a0:4"}, detached, 30))
        << Sim("flips 3") << Log() << driver->Output();

    const std::size_t logBefore = Log().size();
    ASSERT_EQ(Sim("attach a1"), "ok");
    const std::int64_t attached = NowMicros();
    EXPECT_TRUE(EachFlippedSince(WallMonitorNames(), attached, 10, 30s))
        << Sim("flips 3") << Log() << driver->Output();
    const std::string after = Log().substr(logBefore);
    for (const int id : {idB1, idB4})
        EXPECT_NE(after.find("--ORVPlugInMonitor::MonitorID=" + std::to_string(id) + "--"),
                  std::string::npos)
            << "id " << id << " not given again:\n"
            << after;
    EXPECT_EQ(SavedId("ORV-FRAMES-ADAPTER-B1"), idB1);
    EXPECT_EQ(SavedId("ORV-FRAMES-ADAPTER-B4"), idB4);
    ExpectNoViolations();
    ExpectCleanStop(*driver);
}

// A driver that writes halves no honest driver writes: every one is refused
// with a log line, its half is still released; junk and unasked-for answers
// on the channel are ignored; and the good frames after reach every adapter
// without a protocol violation.
TEST_F(FramesTest, AHostileDriverNeitherCrashesTheServiceNorStopsGoodFrames) {
    StartSim();
    StartServiceWithWall();
    TestDriver driver(port_);
    ASSERT_TRUE(driver.Connected());
    ASSERT_TRUE(driver.Greet());
    ASSERT_TRUE(driver.WaitForView(20s)) << Log();
    ASSERT_TRUE(WaitForFileContaining(LogPath(), "BuildWall-CreateView sucessful! VWID=1.", 10s))
        << Log();
    std::this_thread::sleep_for(2s);  // the monitors switch to the wall mode
    ASSERT_TRUE(driver.Produce(10));

    const auto packets = TestDriver::SolidCells();
    using Layout = drv::ShareLayout;
    // Four good slots, then `spoil` on them.
    auto halfWith = [&](std::function<void(orv::bytes::MutBytes, const Layout&)> spoil) {
        return [&packets, spoil](orv::bytes::MutBytes half, const Layout& layout) {
            std::uint32_t slot = 0;
            for (std::uint32_t column = 0; column < kColumns; ++column)
                for (std::uint32_t row = 0; row < kRows; ++row, ++slot)
                    ASSERT_TRUE(
                        drv::WriteFrameSlot(half, layout, slot, column, row, packets[slot]));
            drv::WriteSlotCount(half, layout, static_cast<std::uint16_t>(slot));
            spoil(half, layout);
        };
    };
    auto slotField = [](const Layout& layout, std::uint32_t slot, std::size_t field) {
        return drv::kHalfOffSlots + std::size_t{slot} * layout.stride + field;
    };
    auto setUsed = [&](std::uint32_t slot, std::uint32_t used) {
        return halfWith([=](orv::bytes::MutBytes half, const Layout& layout) {
            orv::bytes::PutU32(half, slotField(layout, slot, drv::kSlotOffUsed), used);
        });
    };
    auto setCount = [&](auto count) {
        return halfWith([=](orv::bytes::MutBytes half, const Layout& layout) {
            orv::bytes::PutU16(half, drv::kHalfOffCount, static_cast<std::uint16_t>(count(layout)));
        });
    };
    const std::vector<
        std::pair<std::string, std::function<void(orv::bytes::MutBytes, const Layout&)>>>
        hostile = {
            {"used length past the stride", setUsed(1, 4u << 20)},
            {"used length past the half", setUsed(3, 0xFFFFFFFFu)},
            {"packet larger than the adapter's buffer",
             setUsed(0,
                     static_cast<std::uint32_t>(drv::kMaxPacketSize + drv::kSlotHeaderSize + 1))},
            {"used length shorter than the headers", setUsed(2, 20)},
            {"count one past the half", setCount([](const Layout& l) { return l.cells + 1; })},
            {"count 65535", setCount([](const Layout&) { return 0xFFFF; })},
            {"a cell outside the wall",
             halfWith([&](orv::bytes::MutBytes half, const Layout& layout) {
                 orv::bytes::PutU32(half, slotField(layout, 1, drv::kSlotOffColumn), 7);
                 orv::bytes::PutU32(half, slotField(layout, 2, drv::kSlotOffRow), 0xFFFFFFFFu);
             })},
            {"one place twice", halfWith([&](orv::bytes::MutBytes half, const Layout& layout) {
                 orv::bytes::PutU32(half, slotField(layout, 3, drv::kSlotOffColumn), 0);
                 orv::bytes::PutU32(half, slotField(layout, 3, drv::kSlotOffRow), 0);
             })},
        };
    // Twice over, so each kind lands in both halves.
    for (int round = 0; round < 2; ++round)
        for (const auto& [what, fill] : hostile) {
            EXPECT_TRUE(driver.Publish(fill)) << what << ": the half before was not released";
            ASSERT_FALSE(Service()->Wait(0ms).has_value()) << "the service ended after " << what;
        }
    for (const char* text : {"used length beyond the slot", "packet longer than the adapter buffer",
                             "used length shorter than a packet header",
                             "slot count beyond the half", "its place already has a packet"})
        EXPECT_TRUE(WaitForFileContaining(LogPath(), text, 5s)) << "no log line: " << text;

    // And on the channel: a burst of bytes of no known message, then answers
    // to requests the service never made.
    ASSERT_TRUE(driver.Send(std::vector<std::uint8_t>(64 * 1024, 0xA5)));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(driver.Send(drv::EncodeCreateAnswer(1, 77).Span()));
    ASSERT_TRUE(driver.Send(drv::EncodeDropAnswer(1, 1).Span()));
    std::this_thread::sleep_for(200ms);
    ASSERT_FALSE(Service()->Wait(0ms).has_value()) << "the service ended after the junk";

    std::map<std::string, std::uint64_t> shows;
    for (const char* a : {"a0", "a1"}) shows[a] = Stat(a, "shows");
    ASSERT_TRUE(driver.Produce(30)) << Log();
    for (const char* a : {"a0", "a1"}) {
        bool shown = false;
        for (int i = 0; i < 100 && !shown; ++i) {
            shown = Stat(a, "shows") >= shows[a] + 25;
            if (!shown) std::this_thread::sleep_for(100ms);
        }
        EXPECT_TRUE(shown) << Sim("stats " + std::string(a)) << Log();
        EXPECT_EQ(Stat(a, "violations"), 0u) << Sim("violations " + std::string(a));
    }
}

// An X11 desktop on a 2 x 1 wall: a private Xvfb screen painted in four
// quadrants, captured by the real driver (XShm) and cut into the two
// monitors, each showing its half of the desktop.
TEST_F(FramesTest, AnXvfbDesktopFillsATwoByOneWall) {
    if (!PrivateXvfb::Installed())
        GTEST_SKIP() << PrivateXvfb::kProgram << " is not installed (scripts/install-deps puts "
                     << "the xvfb package in)";
    PrivateXvfb xvfb;
    ASSERT_FALSE(xvfb.Display().empty()) << "Xvfb did not start";
    Display* x = XOpenDisplay(xvfb.Display().c_str());
    ASSERT_NE(x, nullptr) << xvfb.Display();
    // The 640 x 480 desktop in four quadrants, (column, row) each in its own
    // colour, as 0xRRGGBB.
    auto desktopColour = [](int column, int row) -> unsigned long {
        static constexpr unsigned long kColours[2][2] = {{0x2060A0, 0xA0C020},
                                                         {0xC04010, 0x30D0D0}};
        return kColours[column][row];
    };
    const Window root = DefaultRootWindow(x);
    GC gc = XCreateGC(x, root, 0, nullptr);
    for (int column = 0; column < 2; ++column)
        for (int row = 0; row < 2; ++row) {
            XSetForeground(x, gc, desktopColour(column, row));
            XFillRectangle(x, root, gc, column * 320, row * 240, 320, 240);
        }
    XSync(x, False);

    StartSim(1);
    StartServiceWithWall("2 1 2560 720 1280 720 1:0:0 2:1:0", 2);
    auto driver = StartDriver({"--source", "x11:" + xvfb.Display()});
    ASSERT_TRUE(EachFlippedSince({"a0:1", "a0:4"}, 0, 5))
        << Sim("flips 3") << Log() << driver->Output();
    for (const auto& [port, name] : std::vector<std::pair<int, std::string>>{
             {1, "ORV-FRAMES-ADAPTER-A1"}, {4, "ORV-FRAMES-ADAPTER-A4"}}) {
        const int id = SavedId(name);
        ASSERT_TRUE(id == 1 || id == 2) << name << " has id " << id;
        const int column = id - 1;
        const std::string file = root_ + "/" + name + ".png";
        ASSERT_EQ(Sim("png a0 " + std::to_string(port) + " " + file).rfind("ok", 0), 0u);
        orv::png::Image image;
        std::string error;
        ASSERT_TRUE(orv::png::ReadPng(file, image, error)) << error;
        ASSERT_EQ(image.width, std::uint32_t{kMonitorW});
        ASSERT_EQ(image.height, std::uint32_t{kMonitorH});
        // The middle of each quadrant of the monitor's half of the desktop.
        for (int row = 0; row < 2; ++row)
            for (int side = 0; side < 2; ++side) {
                const unsigned long want = desktopColour(column, row);
                const auto got =
                    PixelAt(image, static_cast<std::uint32_t>(kMonitorW / 4 * (1 + 2 * side)),
                            static_cast<std::uint32_t>(kMonitorH / 4 * (1 + 2 * row)));
                const std::string where = name + " quadrant row " + std::to_string(row);
                EXPECT_NEAR(got[0], static_cast<int>(want & 0xFF), 8) << where;
                EXPECT_NEAR(got[1], static_cast<int>((want >> 8) & 0xFF), 8) << where;
                EXPECT_NEAR(got[2], static_cast<int>((want >> 16) & 0xFF), 8) << where;
            }
    }
    EXPECT_EQ(Stat("a0", "violations"), 0u) << Sim("violations a0");
    ExpectCleanStop(*driver);
    XFreeGC(x, gc);
    XCloseDisplay(x);
}

}  // namespace
