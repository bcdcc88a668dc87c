// The display driver: its cells and encoding in-process, and the whole driver
// against a fake service end (a TCP listener, the view's shared memory and
// the events, as the service makes and uses them) on a private port and IPC
// namespace.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "codec/decode/picture_decoder.h"
#include "platform/named_event.h"
#include "platform/shared_memory.h"
#include "protocol/adapter/frame_packet.h"
#include "protocol/adapter/packets.h"
#include "protocol/driver/driver_protocol.h"
#include "sim/adapter/sim_log.h"
#include "sim/adapter/simulator.h"
#include "sim/driver/cell_encoder.h"
#include "sim/driver/display_driver.h"
#include "sim/driver/driver_log.h"
#include "sim/driver/frame_source.h"
#include "sim/driver/x11_source.h"
#include "tests/support/sim_host.h"
#include "tests/support/temp_dir.h"

// Last: Xlib defines macros (None, Status, Bool) that other headers use as names.
#include <X11/Xlib.h>

using namespace orv;
using namespace orv::driver;

namespace {

// Every wait is bounded so a fault fails the test instead of hanging it.
constexpr std::uint32_t kGenerousMs = 5000;

// Decodes a whole frame packet's picture into a cell-sized BGRX picture.
Picture DecodeCell(bytes::ConstBytes packet, std::uint32_t w, std::uint32_t h) {
    Picture out{std::vector<std::uint8_t>(std::size_t{w} * h * 4), w, h};
    const decode::Framebuffer fb{out.bgrx, w, h, w * 4};
    EXPECT_EQ(decode::DecodePicture(adapter::FramePicture(packet), fb), decode::DecodeStatus::kOk);
    return out;
}

void ExpectNear(const std::uint8_t* px, Colour c, int tolerance, const std::string& where) {
    EXPECT_NEAR(px[0], c.b, tolerance) << where;
    EXPECT_NEAR(px[1], c.g, tolerance) << where;
    EXPECT_NEAR(px[2], c.r, tolerance) << where;
}

}  // namespace

TEST(DriverCells, PatternCellsShowTheirColourAfterJpegAndTheCutSkipsTheBezels) {
    const WallGeometry wall{256, 128, 2, 2, 8};
    ASSERT_EQ(wall.SourceWidth(), 264u);
    Picture source;
    ASSERT_TRUE(MakeTestPattern(wall)->Render(42, source));
    CellEncoder encoder;
    std::vector<std::uint8_t> packet(1 << 20);
    for (std::uint32_t c = 0; c < 2; ++c) {
        for (std::uint32_t r = 0; r < 2; ++r) {
            const std::uint32_t length =
                encoder.Encode(source, wall, c, r, adapter::kCompressJpegFromYuv, 85, packet);
            ASSERT_GT(length, 0u);
            const Picture cell = DecodeCell({packet.data(), length}, 128, 64);
            // The top-left quarter is the cell's colour, JPEG or not.
            ExpectNear(&cell.bgrx[(10 * 128 + 10) * 4], PatternColour(c, r), 6,
                       "cell " + std::to_string(c) + "," + std::to_string(r));
        }
    }
    EXPECT_EQ(encoder.Fallbacks(), 0u);

    // Raw, where it fits, is the source cut at the cell's place past the
    // bezel: cell (1, 1) starts at source pixel (136, 72).
    std::uint32_t length = encoder.Encode(source, wall, 1, 1, adapter::kCompressRaw, 85, packet);
    ASSERT_GT(length, 0u);
    const Picture raw = DecodeCell({packet.data(), length}, 128, 64);
    for (std::uint32_t y : {0u, 33u, 63u})
        for (std::uint32_t x : {0u, 50u, 127u})
            EXPECT_EQ(std::memcmp(&raw.bgrx[(y * 128 + x) * 4],
                                  &source.bgrx[((72 + y) * 264 + 136 + x) * 4], 3),
                      0)
                << x << "," << y;

    // A lossless packet that does not fit its room goes out as JPEG.
    std::vector<std::uint8_t> small(8000);
    length = encoder.Encode(source, wall, 0, 0, adapter::kCompressRaw, 85, small);
    ASSERT_GT(length, 0u);
    adapter::CodecHeader h;
    ASSERT_TRUE(adapter::ReadCodecHeader(adapter::FramePicture({small.data(), length}), h));
    EXPECT_EQ(h.codecType, adapter::kCodecJpeg);
    EXPECT_EQ(encoder.Fallbacks(), 1u);
}

TEST(DriverCells, CalgSelectsTheCodeAndRawOnlyWhereItFits) {
    const WallGeometry wall{2560, 720, 2, 1, 0};
    const std::size_t slotRoom = 4 * 1280 * 720;  // the stride less the slot header
    EXPECT_EQ(RawPacketLength(wall), 3'686'480u);
    EXPECT_EQ(SelectCompression(255, wall, slotRoom), 224u);
    EXPECT_EQ(SelectCompression(0, wall, slotRoom), 224u);
    EXPECT_EQ(SelectCompression(224, wall, slotRoom), 224u);
    for (std::uint32_t code : {226u, 227u, 228u})
        EXPECT_EQ(SelectCompression(code, wall, slotRoom), code);
    EXPECT_EQ(SelectCompression(254, wall, slotRoom), 224u);
    EXPECT_EQ(SelectCompression(254, wall, RawPacketLength(wall)), 254u);
}

TEST(DriverOptionsParsing, OptionsAndTheirBounds) {
    const char* good[] = {
        "orv-display-driver", "--port", "2100",    "--source", "still:/tmp/a.png", "--fps", "0",
        "--precompute",       "8",      "--bezel", "40",       "--quality",        "70"};
    DriverCommandLine cl = ParseDriverCommandLine(13, good);
    ASSERT_TRUE(cl.options) << cl.message;
    EXPECT_EQ(cl.options->port, 2100);
    EXPECT_EQ(cl.options->source, SourceKind::kStill);
    EXPECT_EQ(cl.options->stillPath, "/tmp/a.png");
    EXPECT_EQ(cl.options->fps, 0u);
    EXPECT_EQ(cl.options->precompute, 8u);
    EXPECT_EQ(cl.options->bezel, 40u);
    EXPECT_EQ(cl.options->quality, 70);
    const char* x11[] = {"d", "--source", "x11:99"};
    cl = ParseDriverCommandLine(3, x11);
    ASSERT_TRUE(cl.options);
    EXPECT_EQ(cl.options->x11Display, "99");
    for (const char* bad : {"--port=1", "--fps", "--quality", "--source"}) {
        const char* argv[] = {"d", bad, bad[2] == 'q' ? "0" : "nonsense"};
        EXPECT_EQ(ParseDriverCommandLine(3, argv).exitCode, 2) << bad;
    }
    const char* help[] = {"d", "--help"};
    cl = ParseDriverCommandLine(2, help);
    EXPECT_FALSE(cl.options);
    EXPECT_EQ(cl.exitCode, 0);
}

namespace {

// The service's end of the driver channel, reduced to what the driver sees.
class FakeService {
public:
    FakeService() {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listen_, 4);
        socklen_t len = sizeof a;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~FakeService() {
        if (conn_ >= 0) close(conn_);
        close(listen_);
    }
    std::uint16_t Port() const { return port_; }

    bool Accept() {
        timeval tv{5, 0};
        setsockopt(listen_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        conn_ = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn_ >= 0) setsockopt(conn_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        return conn_ >= 0;
    }
    void Send(const Encoded& e) {
        ASSERT_EQ(send(conn_, e.bytes.data(), e.size, 0), ssize_t(e.size));
    }
    // The next message from the driver, cut by its length.
    std::optional<Message> Next() {
        Message m;
        while (cutter_.Next(m) != MessageCutter::Step::kMessage) {
            std::uint8_t buf[256];
            const ssize_t n = recv(conn_, buf, sizeof buf, 0);
            if (n <= 0) return std::nullopt;
            cutter_.Append({buf, static_cast<std::size_t>(n)});
        }
        return m;
    }

private:
    int listen_ = -1;
    int conn_ = -1;
    std::uint16_t port_ = 0;
    MessageCutter cutter_{Direction::kToService};
};

}  // namespace

TEST(DisplayDriver, ServesAViewFrameByFrameAndAnswersCreateAndDrop) {
    test::TempDir tmp;
    const std::string ns = "drvtest" + std::to_string(getpid());
    setenv("ORV_IPC_NAMESPACE", ns.c_str(), 1);
    SetDriverLogQuiet(true);
    FakeService service;
    DriverOptions options;
    options.port = service.Port();
    options.fps = 0;
    options.reportMs = 0;
    DisplayDriver driver(options);
    std::string error;
    ASSERT_TRUE(driver.Start(&error)) << error;

    ASSERT_TRUE(service.Accept());
    ASSERT_EQ(service.Next()->type, msg::kHello);
    // A greeting reply and a mode value in one receive, as TCP may merge them.
    Encoded merged = EncodeHelloReply();
    const Encoded mode = EncodeModeValue(1);
    std::memcpy(merged.bytes.data() + merged.size, mode.bytes.data(), mode.size);
    merged.size += mode.size;
    service.Send(merged);
    service.Send(EncodeCalgValue(255));

    // A stale "new frame" signal, as a dropped view leaves: the view resets it.
    auto stale = platform::NamedEvent::Open(kEventNames[kEventHalf1Ready]);
    ASSERT_TRUE(stale);
    stale->Set();

    const ViewGeometry g{256, 64, 2, 1};
    const ShareLayout layout = *LayoutFor(g);
    auto shm = platform::SharedMemory::Create(ShareBufferName(1), layout.size);
    ASSERT_TRUE(shm);
    service.Send(EncodeCreateView(1, 256, 64, 2, 1));
    auto answer = service.Next();
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, (Message{msg::kCreateView, {1, 1}}));
    // One view at a time.
    service.Send(EncodeCreateView(2, 256, 64, 2, 1));
    EXPECT_EQ(*service.Next(), (Message{msg::kCreateView, {0, 2}}));

    std::array<std::unique_ptr<platform::NamedEvent>, 4> events;
    for (std::size_t i = 0; i < 4; ++i) {
        events[i] = platform::NamedEvent::Open(kEventNames[i]);
        ASSERT_TRUE(events[i]);
    }
    // Six frames, halves in turn; each slot names its cell and decodes to it.
    for (int frame = 0; frame < 6; ++frame) {
        const int half = frame % 2 + 1;
        ASSERT_EQ(events[half == 1 ? kEventHalf1Ready : kEventHalf2Ready]->Wait(kGenerousMs),
                  platform::kWaitObject0)
            << "frame " << frame;
        const bytes::ConstBytes bytes = shm->Bytes().subspan(layout.HalfOffset(half), layout.half);
        std::uint16_t count = 0;
        ASSERT_EQ(ReadSlotCount(bytes, layout, count), SlotCheck::kOk);
        ASSERT_EQ(count, 2u);
        for (std::uint32_t i = 0; i < count; ++i) {
            FrameSlot slot;
            ASSERT_EQ(ReadFrameSlot(bytes, layout, i, slot), SlotCheck::kOk);
            EXPECT_EQ(slot.column, i);
            EXPECT_EQ(slot.row, 0u);
            EXPECT_EQ(slot.packet[adapter::kOffDataType], adapter::type::kFrame);
            const Picture cell = DecodeCell(slot.packet, 128, 64);
            ExpectNear(&cell.bgrx[(5 * 128 + 5) * 4], PatternColour(i, 0), 8, "slot");
        }
        events[half == 1 ? kEventHalf1Released : kEventHalf2Released]->Set();
    }

    service.Send(EncodeDropView(7));
    EXPECT_EQ(*service.Next(), (Message{msg::kDropView, {0, 7}}));
    service.Send(EncodeDropView(1));
    EXPECT_EQ(*service.Next(), (Message{msg::kDropView, {1, 1}}));
    const DriverCounts counts = driver.Counts();
    EXPECT_EQ(counts.connections, 1u);
    EXPECT_EQ(counts.mode, 1);
    EXPECT_EQ(counts.calg, 255);
    EXPECT_EQ(counts.viewsCreated, 1u);
    EXPECT_EQ(counts.viewsRefused, 1u);
    EXPECT_EQ(counts.viewsDropped, 1u);
    const Statistics::Totals totals = driver.Stats().Total();
    EXPECT_GE(totals.frames, 6u);
    EXPECT_GE(totals.releases, 6u);
    driver.Stop();
    unsetenv("ORV_IPC_NAMESPACE");
}

// The x11 source against a private Xvfb desktop whose root window is painted
// with two colours, left and right; skipped where Xvfb is not installed.
TEST(DriverX11, CapturesTheDesktopScaledToTheWall) {
    const char* xvfb = "/usr/bin/Xvfb";
    if (access(xvfb, X_OK) != 0) GTEST_SKIP() << "no Xvfb";
    const std::string display = ":" + std::to_string(200 + getpid() % 500);
    const pid_t pid = fork();
    if (pid == 0) {
        execl(xvfb, xvfb, display.c_str(), "-screen", "0", "320x200x24", "-nolisten", "tcp",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    Display* x = nullptr;
    for (int i = 0; i < 100 && !x; ++i) {  // Xvfb takes a moment to listen
        usleep(50'000);
        x = XOpenDisplay(display.c_str());
    }
    ASSERT_TRUE(x) << "Xvfb did not start on " << display;
    const Window root = DefaultRootWindow(x);
    GC gc = XCreateGC(x, root, 0, nullptr);
    XSetForeground(x, gc, 0x2060A0);  // R 0x20, G 0x60, B 0xA0
    XFillRectangle(x, root, gc, 0, 0, 160, 200);
    XSetForeground(x, gc, 0xC04010);
    XFillRectangle(x, root, gc, 160, 0, 160, 200);
    XSync(x, False);

    // The capture publishes the desktop it shows for the panel's zone programs.
    orv::test::TempDir runtime;
    setenv("ORV_RUNTIME_DIR", runtime.Path().c_str(), 1);
    const WallGeometry wall{640, 200, 2, 1, 0};
    std::string error;
    auto capture = MakeX11Capture(wall, display, &error);
    ASSERT_TRUE(capture) << error;
    const std::string published = runtime.File("wall-desktop");
    {
        std::ifstream in(published);
        std::string line;
        std::getline(in, line);
        EXPECT_EQ(line, display + " 0 0 320 200");
    }
    Picture p;
    ASSERT_TRUE(capture->Render(0, p));
    ASSERT_EQ(p.width, 640u);
    ASSERT_EQ(p.height, 200u);
    ExpectNear(&p.bgrx[(100 * 640 + 100) * 4], Colour{0xA0, 0x60, 0x20}, 0, "left");
    ExpectNear(&p.bgrx[(100 * 640 + 500) * 4], Colour{0x10, 0x40, 0xC0}, 0, "right");
    capture.reset();
    EXPECT_FALSE(std::filesystem::exists(published));
    unsetenv("ORV_RUNTIME_DIR");
    XFreeGC(x, gc);
    XCloseDisplay(x);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// The driver's packets as the service passes them on: stamped with their
// FrameIndex and screen bit and written to a simulated adapter, which takes
// them without a violation, shows each cell at its place in the wall and
// flips both monitors to the same frame together.
TEST(DisplayDriver, ItsPacketsDecodeOnTheSimulatedAdapterAtTheirPlaces) {
    test::TempDir tmp;
    const std::string ns = "drvsim" + std::to_string(getpid());
    setenv("ORV_IPC_NAMESPACE", ns.c_str(), 1);
    SetDriverLogQuiet(true);
    sim::SetSimLogQuiet(true);
    sim::SimConfig config;
    config.busDir = tmp.Path() + "/usb";
    config.romDir = tmp.Path() + "/rom";
    sim::AdapterConfig a;
    a.name = "a0";
    a.monitors = {sim::MonitorConfig{}, sim::MonitorConfig{}};
    a.monitors[1].port = 0x04;
    config.adapters.push_back(a);
    std::string error;
    auto simulator = sim::Simulator::Create(config, &error);
    ASSERT_TRUE(simulator && simulator->Start(&error)) << error;
    sim::test::Host host(config.busDir + "/a0.sock");
    bus::FrameHeader h;
    std::vector<std::uint8_t> payload;
    ASSERT_TRUE(host.Next(h, payload));  // DESC
    const std::uint8_t alt = 0;
    host.Send(bus::FrameKind::kSetAlt, 0, {&alt, 1});
    host.Exchange(adapter::BuildControlCommand(adapter::PowerOnBody()));
    ASSERT_TRUE(host.NextNotification());
    const std::uint8_t ports[2] = {0x01, 0x04};  // column 0 on screen 0, column 1 on screen 1
    ASSERT_FALSE(host.Exchange(adapter::BuildTopology({0, ports[0], 2, 128, 64, 32, 60, 0},
                                                      {1, ports[1], 2, 128, 64, 32, 60, 0}))
                     .empty());

    FakeService service;
    DriverOptions options;
    options.port = service.Port();
    options.fps = 0;
    options.reportMs = 0;
    DisplayDriver driver(options);
    ASSERT_TRUE(driver.Start(&error)) << error;
    ASSERT_TRUE(service.Accept());
    ASSERT_EQ(service.Next()->type, msg::kHello);
    service.Send(EncodeHelloReply());
    const ViewGeometry g{256, 64, 2, 1};
    const ShareLayout layout = *LayoutFor(g);
    auto shm = platform::SharedMemory::Create(ShareBufferName(1), layout.size);
    ASSERT_TRUE(shm);
    service.Send(EncodeCreateView(1, 256, 64, 2, 1));
    ASSERT_EQ(*service.Next(), (Message{msg::kCreateView, {1, 1}}));
    std::array<std::unique_ptr<platform::NamedEvent>, 4> events;
    for (std::size_t i = 0; i < 4; ++i) events[i] = platform::NamedEvent::Open(kEventNames[i]);

    for (std::uint32_t frame = 1; frame <= 3; ++frame) {
        const int half = frame % 2 == 1 ? 1 : 2;
        ASSERT_EQ(events[half == 1 ? kEventHalf1Ready : kEventHalf2Ready]->Wait(kGenerousMs),
                  platform::kWaitObject0);
        const bytes::ConstBytes bytes = shm->Bytes().subspan(layout.HalfOffset(half), layout.half);
        std::uint16_t count = 0;
        ASSERT_EQ(ReadSlotCount(bytes, layout, count), SlotCheck::kOk);
        for (std::uint32_t i = 0; i < count; ++i) {
            FrameSlot slot;
            ASSERT_EQ(ReadFrameSlot(bytes, layout, i, slot), SlotCheck::kOk);
            adapter::Packet packet(slot.packet.begin(), slot.packet.end());
            bytes::PutU32(packet, adapter::kOffFrameIndex, (frame << 8) | ports[slot.column]);
            std::uint32_t word = 0;
            bytes::GetU32(packet, adapter::kOffControlWord, word);
            bytes::PutU32(packet, adapter::kOffControlWord,
                          adapter::WithScreenBit(word, static_cast<int>(slot.column)));
            ASSERT_TRUE(host.Out(adapter::kPipeOutCommands, packet));
        }
        for (std::uint32_t i = 0; i < count; ++i) ASSERT_TRUE(host.NextNotification());
        ASSERT_TRUE(host.Out(adapter::kPipeOutCommands, adapter::BuildShowFrame(frame)));
        events[half == 1 ? kEventHalf1Released : kEventHalf2Released]->Set();
    }
    host.Exchange(adapter::BuildCapsQuery());  // every packet taken

    const std::string file = tmp.File("wall.png");
    EXPECT_EQ(simulator->Command("wall-png " + file + " a0:1=0,0 a0:4=1,0").rfind("ok 256x64 ", 0),
              0u);
    Picture wall;
    ASSERT_TRUE(png::ReadPng(file, wall, error)) << error;
    for (std::uint32_t c = 0; c < 2; ++c)
        ExpectNear(&wall.bgrx[(10 * 256 + c * 128 + 10) * 4], PatternColour(c, 0), 8,
                   "column " + std::to_string(c));
    const auto flips = simulator->Adapter(0).Flips();
    ASSERT_EQ(flips.size(), 2u);
    for (const sim::MonitorFlips& m : flips) {
        EXPECT_EQ(m.frame, 3u);
        ASSERT_EQ(m.flips.size(), 3u);
    }
    EXPECT_EQ(flips[0].flips.back().atUs, flips[1].flips.back().atUs);
    EXPECT_EQ(simulator->Adapter(0).Stats().violations, 0u);
    driver.Stop();
    simulator->Stop();
    unsetenv("ORV_IPC_NAMESPACE");
}
