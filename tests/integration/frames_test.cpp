// Frames through the service, as real processes: zentrelle, the adapter
// simulator with two adapters of two monitors each, and a display driver:
// either a small one in the test that speaks the driver channel through its
// protocol header, or the real orv-display-driver with its test pattern. The
// wall (2 x 2 monitors of 1280 x 720) is built and placed through the
// TestWallLayout registry value.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "codec/encode/picture_encoder.h"
#include "common/png/png_io.h"
#include "platform/named_event.h"
#include "platform/net/tcp.h"
#include "platform/profile.h"
#include "platform/shared_memory.h"
#include "protocol/driver/driver_protocol.h"
#include "sim/adapter/control_server.h"
#include "sim/driver/frame_source.h"
#include "tests/support/child_process.h"

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

    // Writes `frames` frames of solid cells into alternate halves.
    void Produce(int frames) {
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
        bool used[2] = {false, false};
        for (int f = 0; f < frames; ++f) {
            const int half = f % 2;
            if (used[half])
                events_[half == 0 ? drv::kEventHalf1Released : drv::kEventHalf2Released]->Wait(
                    5000);
            used[half] = true;
            const auto bytes = memory_->Bytes().subspan(layout_.HalfOffset(half + 1), layout_.half);
            std::uint32_t slot = 0;
            for (int column = 0; column < kColumns; ++column)
                for (int row = 0; row < kRows; ++row, ++slot)
                    drv::WriteFrameSlot(bytes, layout_, slot, static_cast<std::uint32_t>(column),
                                        static_cast<std::uint32_t>(row), packets[slot]);
            drv::WriteSlotCount(bytes, layout_, static_cast<std::uint16_t>(slot));
            events_[half == 0 ? drv::kEventHalf1Ready : drv::kEventHalf2Ready]->Set();
        }
    }
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
};

class FramesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = tmp_.Path();
        port_ = static_cast<std::uint16_t>(20000 + getpid() % 20000);
        const std::string ns = "frames" + std::to_string(getpid());
        // The test's own driver opens the same IPC names as the service.
        setenv("ORV_IPC_NAMESPACE", ns.c_str(), 1);
        std::filesystem::create_directories(root_ + "/run");
        std::filesystem::create_directories(root_ + "/rom");
        std::filesystem::create_directories(root_ + "/etc/orv-videowall");
        env_ = {{"ORV_ROOT", root_},
                {"ORV_RUNTIME_DIR", root_ + "/run"},
                {"ORV_IPC_NAMESPACE", ns},
                {"ORV_DRIVER_PORT", std::to_string(port_)},
                {"ORV_SYSTEMCTL", FAKE_SYSTEMCTL},
                {"FAKE_SYSTEMCTL_STATE", root_ + "/run"}};
    }
    void TearDown() override {
        if (service_) {
            service_->Signal(SIGTERM);
            EXPECT_EQ(service_->Wait(40s), 0);
        }
        if (sim_) {
            sim_->Signal(SIGTERM);
            sim_->Wait(10s);
        }
    }
    void StartSim() {
        const std::string config = root_ + "/sim.json";
        std::ofstream(config) << R"({"bus": ")" << root_ << R"(/run/usb", "rom_dir": ")" << root_
                              << R"(/rom", "control": ")" << Control() << R"(", "adapters": [
          {"name": "a0", "identity": "ORV-FRAMES-ADAPTER-A", "monitors": [{"port": 1}, {"port": 4}]},
          {"name": "a1", "identity": "ORV-FRAMES-ADAPTER-B", "monitors": [{"port": 1}, {"port": 4}]}]})";
        sim_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{SIMULATOR, "--config", config}, env_);
        ASSERT_TRUE(sim_->Started());
        bool up = false;
        for (int i = 0; i < 200 && !up; ++i) {
            up = Sim("list").rfind("ok", 0) == 0;
            if (!up) std::this_thread::sleep_for(50ms);
        }
        ASSERT_TRUE(up);
    }
    std::string Control() const { return root_ + "/run/sim.ctl"; }
    std::string Sim(const std::string& command) {
        return orv::sim::AskSimulator(Control(), command);
    }
    std::string Log() const {
        return ReadFile(root_ + "/var/log/orv-videowall/ServiceManager.log.txt");
    }
    int SavedId(const std::string& name) const {
        const std::string v =
            orv::platform::Profile(root_ + "/var/lib/orv-videowall/ORVVideoWallConfigFile.ini")
                .GetString(name, "Monitor_Id");
        return v.empty() ? 0 : std::stoi(v);
    }
    std::uint64_t Stat(const std::string& adapter, const std::string& key) {
        const std::string s = Sim("stats " + adapter);
        const auto pos = s.find(" " + key + "=");
        return pos == std::string::npos ? ~0ull : std::stoull(s.substr(pos + key.size() + 2));
    }

    // Starts the service with the 2 x 2 test wall and waits until the four
    // monitors have their ids. Ids follow arrival order; the layout names ids
    // 1..4 and a test reads back which monitor got which id.
    void StartServiceWithWall() {
        std::ofstream(root_ + "/etc/orv-videowall/registry.conf")
            << "[Software\\ORVVideoWallControlSet]\nTestWallLayout=REG_SZ:2 2 2560 1440 1280 720 "
               "1:0:0 2:1:0 3:0:1 4:1:1\n";
        service_ = std::make_unique<ChildProcess>(std::vector<std::string>{ZENTRELLE}, env_);
        ASSERT_TRUE(WaitForFileContaining(LogPath(), "--ORVPlugInMonitor::MonitorID=4--", 30s))
            << Log();
    }
    std::string LogPath() const { return root_ + "/var/log/orv-videowall/ServiceManager.log.txt"; }
    // The real display driver with its test pattern.
    std::unique_ptr<ChildProcess> StartDriver(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{DISPLAY_DRIVER, "--fps", "30", "--report-ms", "0"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto driver = std::make_unique<ChildProcess>(argv, env_);
        EXPECT_TRUE(driver->Started());
        return driver;
    }

    // The simulator's flip records, by "adapter:port".
    struct Flips {
        std::uint32_t frame = 0;
        bool plugged = false;
        std::vector<std::pair<std::uint32_t, std::uint64_t>> flips;  // frame, time (us)
    };
    std::map<std::string, Flips> ReadFlips() {
        std::map<std::string, Flips> out;
        const std::string answer = Sim("flips");
        if (answer.rfind("ok ", 0) != 0) return out;
        const auto json = nlohmann::json::parse(answer.substr(3));
        for (const auto& m : json["monitors"]) {
            Flips& f =
                out[m["adapter"].get<std::string>() + ":" + std::to_string(m["port"].get<int>())];
            f.frame = m["frame"].get<std::uint32_t>();
            f.plugged = m["plugged"].get<bool>();
            for (const auto& flip : m["flips"])
                f.flips.emplace_back(flip[0].get<std::uint32_t>(), flip[1].get<std::uint64_t>());
        }
        return out;
    }
    static std::uint64_t NowMicros() {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
    // True once each of `monitors` has flipped `count` times after `since`.
    bool EachFlippedSince(const std::vector<std::string>& monitors, std::uint64_t since,
                          int count = 5, std::chrono::seconds timeout = 20s) {
        for (auto deadline = std::chrono::steady_clock::now() + timeout;
             std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(100ms)) {
            const auto all = ReadFlips();
            bool done = true;
            for (const std::string& name : monitors) {
                const auto it = all.find(name);
                int n = 0;
                if (it != all.end())
                    for (const auto& flip : it->second.flips) n += flip.second > since ? 1 : 0;
                done = done && n >= count;
            }
            if (done) return true;
        }
        return false;
    }

    TempDir tmp_;
    std::string root_;
    std::uint16_t port_ = 0;
    std::map<std::string, std::string> env_;
    std::unique_ptr<ChildProcess> sim_;
    std::unique_ptr<ChildProcess> service_;
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
    driver.Produce(kFrames);
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

    // Frames keep flowing, and one simulated adapter may run a frame or two
    // behind the other when the machine is loaded (the simulator decodes
    // every picture), so the records are read until all four cover a common
    // window of frames.
    std::map<std::string, Flips> flips;
    std::uint32_t from = 0, to = 0;
    for (int i = 0; i < 50 && from >= to; ++i) {
        flips = ReadFlips();
        if (flips.size() != 4) continue;
        from = 0;
        to = ~0u;
        for (const auto& [name, f] : flips) {
            if (f.flips.empty()) {
                to = 0;
                break;
            }
            from = std::max(from, f.flips.front().first);
            to = std::min(to, f.flips.back().first);
        }
    }
    ASSERT_LT(from, to) << Sim("flips 3");
    // Within that window every monitor flipped to the same frames: none was
    // skipped on one monitor and shown on another.
    std::set<std::uint32_t> first;
    for (const auto& [name, f] : flips) {
        std::set<std::uint32_t> frames;
        for (const auto& flip : f.flips)
            if (flip.first >= from && flip.first <= to) frames.insert(flip.first);
        if (first.empty()) first = frames;
        EXPECT_EQ(frames, first) << name;
    }
    for (const char* a : {"a0", "a1"})
        EXPECT_EQ(Stat(a, "violations"), 0u) << Sim("violations " + std::string(a));

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
    driver->Signal(SIGTERM);
    EXPECT_EQ(driver->Wait(10s), 0);
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
    EXPECT_FALSE(service_->Wait(0ms).has_value()) << "the service ended";

    const std::uint64_t restarted = NowMicros();
    auto second = StartDriver();
    EXPECT_TRUE(EachFlippedSince(WallMonitorNames(), restarted, 10))
        << Sim("flips 3") << Log() << second->Output();
    for (const char* a : {"a0", "a1"})
        EXPECT_EQ(Stat(a, "violations"), 0u) << Sim("violations " + std::string(a));
    second->Signal(SIGTERM);
    EXPECT_EQ(second->Wait(10s), 0);
}

}  // namespace
