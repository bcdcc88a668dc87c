// The simulator in-process, driven over its real bus sockets from the host
// side, in a private temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "common/png/png_io.h"
#include "protocol/adapter/frame_packet.h"
#include "protocol/adapter/srom_info.h"
#include "sim/adapter/sim_log.h"
#include "sim/adapter/simulator.h"
#include "tests/support/sim_host.h"
#include "tests/support/temp_dir.h"

using namespace orv;
using namespace orv::adapter;
using orv::sim::test::Host;
namespace fs = std::filesystem;

namespace {

class SimAdapterTest : public ::testing::Test {
protected:
    void SetUp() override {
        config_.busDir = dir_ + "/usb";
        config_.romDir = dir_ + "/rom";
        config_.controlPath = dir_ + "/control.sock";
        sim::AdapterConfig a;
        a.name = "a0";
        a.identity = "IDENTITY-0123456789ABCDE";
        a.firmwareVersion = "v 00.00.1400.0003";
        a.layoutVersion = 7;
        a.keepAliveMs = 50;
        a.monitors = {sim::MonitorConfig{}, sim::MonitorConfig{}};
        a.monitors[1].port = 0x04;
        a.monitors[1].edidSize = 128;
        config_.adapters.push_back(a);
    }
    void TearDown() override {
        sim_.reset();
        sim::SetSimLogQuiet(false);
    }

    void StartSim() {
        std::string error;
        sim_ = sim::Simulator::Create(config_, &error);
        ASSERT_TRUE(sim_) << error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
    }

    // Connects, takes DESC, selects setting 0 and powers the adapter on.
    std::unique_ptr<Host> Connect() {
        auto host = std::make_unique<Host>(config_.busDir + "/a0.sock");
        EXPECT_TRUE(host->Connected());
        bus::FrameHeader h;
        std::vector<std::uint8_t> payload;
        EXPECT_TRUE(host->Next(h, payload));
        EXPECT_EQ(h.kind, bus::FrameKind::kDesc);
        const std::uint8_t alt = 0;
        host->Send(bus::FrameKind::kSetAlt, 0, {&alt, 1});
        return host;
    }

    void PowerOn(Host& host) {
        EXPECT_EQ(host.Exchange(BuildControlCommand(PowerOnBody())),
                  BuildStatusReply(type::kPowerOn, 0));
    }

    // A frame packet with a raw picture of w x h at (0, 0).
    static Packet RawFrame(int screen, std::uint32_t frameIndex, std::uint32_t w, std::uint32_t h) {
        const std::uint32_t picture = kCodecHeaderSize + w * h * 4;
        Packet p(PacketLength(kHeaderSize + picture), 0);
        EXPECT_EQ(WriteFramePacketHeader(p, picture, static_cast<unsigned>(screen), frameIndex),
                  p.size());
        bytes::PutU32(p, kHeaderSize + kCodecOffHeight, h);
        bytes::PutU32(p, kHeaderSize + kCodecOffWidth, w);
        bytes::PutU32(p, kHeaderSize + kCodecOffPart1, w * h * 4);
        return p;
    }

    std::uint64_t Violations() { return sim_->Adapter(0).Stats().violations; }

    test::TempDir tmp_;
    const std::string dir_ = tmp_.Path();
    sim::SimConfig config_;
    std::unique_ptr<sim::Simulator> sim_;
};

const ScreenEntry kScreen0{0, 0x01, 2, 1280, 720, 32, 60, 0};

}  // namespace

TEST_F(SimAdapterTest, StartupExchangesAreAnsweredAsTheServiceChecksThem) {
    StartSim();
    auto host = std::make_unique<Host>(config_.busDir + "/a0.sock");
    bus::FrameHeader h;
    std::vector<std::uint8_t> payload;
    ASSERT_TRUE(host->Next(h, payload));
    ASSERT_EQ(h.kind, bus::FrameKind::kDesc);  // DESC is the first frame
    auto desc = bus::DecodeDescriptor(payload, nullptr);
    ASSERT_TRUE(desc);
    EXPECT_EQ(desc->at(0).endpoints.size(), 4u);
    const std::uint8_t alt = 0;
    host->Send(bus::FrameKind::kSetAlt, 0, {&alt, 1});

    PowerOn(*host);
    auto pnp = host->NextNotification();
    ASSERT_TRUE(pnp);
    EXPECT_TRUE(pnp->IsMonitorPnp());
    EXPECT_EQ(pnp->status, 0x05);
    ASSERT_TRUE(host->Out(kPipeOutCommands, BuildControlCommand(CommitBody())));  // no reply

    const Packet version = host->Exchange(BuildVersionQuery(kVersionFirmware));
    EXPECT_EQ(CheckVersionReply(0, version, kVersionFirmware), ReplyFault::kNone);
    EXPECT_EQ(VersionText(version), "v 00.00.1400.0003");
    const Packet layout = host->Exchange(BuildVersionQuery(kVersionLayout));
    EXPECT_EQ(CheckVersionReply(0, layout, kVersionLayout), ReplyFault::kNone);
    EXPECT_EQ(LayoutVersion(layout), 7u);
    EXPECT_EQ(CheckCapsReply(0, host->Exchange(BuildCapsQuery())), ReplyFault::kNone);
    for (std::uint8_t port : {0x01, 0x04, 0x02}) {
        EXPECT_EQ(host->Exchange(BuildControlCommand(OutputPowerBody(port, true))).size(), 48u);
    }

    const Packet edid256 = host->Exchange(BuildEdidQuery(0x01));
    EXPECT_EQ(CheckEdidReply(0, edid256, 0x01).fault, ReplyFault::kNone);
    EXPECT_EQ(CheckEdidReply(0, edid256, 0x01).size, 256u);
    EXPECT_EQ(CheckEdidReply(0, host->Exchange(BuildEdidQuery(0x04)), 0x04).size, 128u);
    EXPECT_EQ(CheckEdidReply(0, host->Exchange(BuildEdidQuery(0x02)), 0x02).fault,
              ReplyFault::kStatus);

    const Packet info = host->Exchange(BuildSromRead(kSromInfoAddress, kSromInfoSize, true));
    ASSERT_EQ(CheckSromReply(0, info, kSromInfoSize), ReplyFault::kNone);
    auto parsed = SromInfo::Parse(bytes::ConstBytes(info).subspan(kOffSromData));
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->ChecksumValid());
    EXPECT_EQ(parsed->Identity(), "IDENTITY-0123456789ABCDE");
    const Packet backup =
        host->Exchange(BuildSromRead(kSromInfoBackupAddress, kSromInfoSize, false));
    EXPECT_TRUE(std::equal(info.begin() + 48, info.end(), backup.begin() + 48));

    // The topology, view commands and a keep-alive complete the picture.
    EXPECT_EQ(CheckTopologyReply(0, host->Exchange(BuildTopology(kScreen0, ScreenEntry{}))),
              ReplyFault::kNone);
    EXPECT_EQ(host->Exchange(BuildControlCommand(
                                 ViewGeometryBody(type::kViewGeometry76, 0, 1280, 720, 1280, 720)))
                  .size(),
              48u);
    EXPECT_EQ(host->Exchange(BuildControlCommand(ViewModeBody(type::kViewMode62, 0, 1280, 720, 1280,
                                                              720, 1280, 720)))
                  .size(),
              48u);
    Packet keepAlive;
    ASSERT_TRUE(host->ReadIn(kPipeInNotify, keepAlive));
    EXPECT_FALSE(ParseNotification(keepAlive)->IsFrameAck());

    EXPECT_EQ(Violations(), 0u);
    EXPECT_EQ(sim_->Adapter(0).Stats().commits, 1u);
}

TEST_F(SimAdapterTest, KeepAlivesFlowToEveryNewHostBeforePowerOn) {
    StartSim();
    for (int connection = 0; connection < 2; ++connection) {
        auto host = Connect();
        Packet p;
        ASSERT_TRUE(host->ReadIn(kPipeInNotify, p)) << connection;
        const auto n = ParseNotification(p);
        ASSERT_TRUE(n);
        EXPECT_EQ(n->kind, kNotifyFrameAck);
        EXPECT_EQ(n->status, kAckIgnore);
    }
}

TEST_F(SimAdapterTest, SerialRomWritesReachTheFileAndSurviveARestart) {
    StartSim();
    auto host = Connect();
    const SromInfo info = *sim_->Adapter(0).Rom().Info();
    const SromRegion slot2 = info.Region(kRegionMainSlot2);

    // A firmware image that names its version, written as an update would.
    std::string text = "firmware image ORV-FW-VERSION=v 00.00.1400.0009\n";
    std::vector<std::uint8_t> image(text.begin(), text.end());
    image.resize(464, 0xA5);
    const Packet write = BuildSromWrite(slot2.address, image);
    ASSERT_EQ(write.size(), 513u);
    EXPECT_EQ(CheckSromReply(0, host->Exchange(write)), ReplyFault::kNone);

    SromInfo updated = info;
    updated.SetActiveSlot(2);
    updated.SetRegion(kRegionMainSlot2,
                      {slot2.address, slot2.reservedSize, 464, ImageChecksum(image)});
    const auto raw = updated.Build();
    EXPECT_EQ(CheckSromReply(0, host->Exchange(BuildSromWrite(kSromInfoAddress, raw))),
              ReplyFault::kNone);
    EXPECT_EQ(CheckSromReply(0, host->Exchange(BuildSromWrite(kSromInfoBackupAddress, raw))),
              ReplyFault::kNone);

    // The file holds the image.
    std::ifstream rom(config_.romDir + "/a0.srom", std::ios::binary);
    rom.seekg(slot2.address);
    std::vector<std::uint8_t> stored(464);
    rom.read(reinterpret_cast<char*>(stored.data()), 464);
    EXPECT_EQ(stored, image);

    // After a restart the adapter runs the new firmware.
    host.reset();
    sim_.reset();
    StartSim();
    host = Connect();
    EXPECT_EQ(VersionText(host->Exchange(BuildVersionQuery(kVersionFirmware))),
              "v 00.00.1400.0009");
    const Packet back = host->Exchange(BuildSromRead(slot2.address, 464, false));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), back.begin() + kOffSromData));

    // Outside the ROM: refused, and counted.
    EXPECT_EQ(CheckSromReply(0, host->Exchange(BuildSromRead(0xFFFFFF00, 0x200, false))),
              ReplyFault::kStatus);
    EXPECT_EQ(Violations(), 1u);
}

TEST_F(SimAdapterTest, ControlSocketPlugSendsThePlugNotification) {
    StartSim();
    auto host = Connect();
    PowerOn(*host);
    ASSERT_EQ(host->NextNotification()->status, 0x05);

    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, config_.controlPath.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    auto command = [&](const std::string& line) {
        const std::string out = line + "\n";
        EXPECT_EQ(send(fd, out.data(), out.size(), 0), static_cast<ssize_t>(out.size()));
        std::string answer;
        char c;
        while (recv(fd, &c, 1, 0) == 1 && c != '\n') answer += c;
        return answer;
    };
    EXPECT_EQ(command("plug a0 0x02"), "ok monitors=0x07");
    auto pnp = host->NextNotification();
    ASSERT_TRUE(pnp);
    EXPECT_EQ(pnp->status, 0x07);
    EXPECT_EQ(command("unplug 0 1"), "ok");
    EXPECT_EQ(host->NextNotification()->status, 0x06);
    EXPECT_EQ(command("unplug 0 1").rfind("error:", 0), 0u);
    EXPECT_EQ(command("frobnicate 0").rfind("error:", 0), 0u);
    EXPECT_NE(command("stats").find("a0: packets=1 "), std::string::npos);
    close(fd);
}

TEST_F(SimAdapterTest, FramesAreAcknowledgedWithTheirIndexAndShownOnShowFrame) {
    StartSim();
    auto host = Connect();
    PowerOn(*host);
    ASSERT_TRUE(host->NextNotification());
    ASSERT_EQ(CheckTopologyReply(0, host->Exchange(BuildTopology(kScreen0, ScreenEntry{}))),
              ReplyFault::kNone);

    const std::uint32_t index = (5u << 8) | 0x01;
    ASSERT_TRUE(host->Out(kPipeOutCommands, RawFrame(0, index, 16, 8)));
    auto ack = host->NextNotification();
    ASSERT_TRUE(ack);
    EXPECT_TRUE(ack->IsFrameAck());
    EXPECT_EQ(ack->frameIndex, index);
    // The identification path: frame index 0, no acknowledgement expected.
    ASSERT_TRUE(host->Out(kPipeOutCommands, RawFrame(0, 0, 1280, 720)));
    ASSERT_TRUE(host->Out(kPipeOutCommands, RawFrame(0, index + 0x100, 16, 8)));
    EXPECT_EQ(host->NextNotification()->frameIndex, index + 0x100);
    ASSERT_TRUE(host->Out(kPipeOutCommands, BuildShowFrame(6)));
    EXPECT_EQ(CheckCapsReply(0, host->Exchange(BuildCapsQuery())), ReplyFault::kNone);  // sync

    const auto monitor = sim_->Adapter(0).Monitor(0x01);
    ASSERT_TRUE(monitor);
    EXPECT_EQ(monitor->picture.frontFrameIndex, index + 0x100);
    EXPECT_EQ(monitor->picture.pictures, 3u);
    const sim::AdapterStats s = sim_->Adapter(0).Stats();
    EXPECT_EQ(s.frames, 3u);
    EXPECT_EQ(s.acks, 2u);
    EXPECT_EQ(s.shows, 1u);
    EXPECT_EQ(s.violations, 0u);
}

TEST_F(SimAdapterTest, MalformedPacketsAreCountedAndNotAnswered) {
    sim::SetSimLogQuiet(true);
    StartSim();
    auto host = Connect();
    PowerOn(*host);
    ASSERT_EQ(CheckTopologyReply(0, host->Exchange(BuildTopology(kScreen0, ScreenEntry{}))),
              ReplyFault::kNone);

    Packet badMagic = BuildCapsQuery();
    badMagic[0] = 'X';
    Packet badLength = BuildCapsQuery();
    badLength[kOffLength] = 47;
    Packet multiple512 = BuildSromWrite(0x8000, std::vector<std::uint8_t>(464));
    multiple512.pop_back();
    multiple512[kOffLength] = 0;
    multiple512[kOffLength + 1] = 2;  // 512
    Packet unknownType = BuildCapsQuery();
    unknownType[kOffDataType] = 0x99;
    const Packet otherMonitor = RawFrame(0, (3u << 8) | 0x04, 4, 4);
    Packet type53 = BuildCapsQuery();
    type53[kOffDataType] = 53;
    Packet badPicture = RawFrame(0, (4u << 8) | 0x01, 4, 4);
    bytes::PutU32(badPicture, kHeaderSize + kCodecOffWidth, 2000);  // leaves the screen
    for (const Packet& p :
         {badMagic, badLength, multiple512, unknownType, otherMonitor, type53, badPicture})
        ASSERT_TRUE(host->Out(kPipeOutCommands, p));
    ASSERT_TRUE(host->Out(kPipeOutFrames, BuildCapsQuery()));  // wrong pipe

    // None was answered: the next reply belongs to the next request.
    EXPECT_EQ(CheckCapsReply(0, host->Exchange(BuildCapsQuery())), ReplyFault::kNone);
    EXPECT_EQ(Violations(), 8u);
    const auto v = sim_->Adapter(0).RecentViolations();
    ASSERT_EQ(v.size(), 8u);
    EXPECT_EQ(v[0], "bad magic");
    EXPECT_EQ(v[1], "length field 47 does not match the transfer of 48 bytes");
    EXPECT_EQ(v[2], "length 512 is a multiple of 512");
    EXPECT_EQ(v[3], "unknown data type 153");
    EXPECT_NE(v[4].find("not in the topology"), std::string::npos);
    EXPECT_EQ(v[5], "data type 53 on pipe 0x02, belongs on 0x01");
    EXPECT_NE(v[6].find("leaves the 1280x720 screen"), std::string::npos);
    EXPECT_EQ(v[7], "data type 101 on pipe 0x01, belongs on 0x02");
}

// A mode larger than the adapter can show is refused before anything is
// sized for it: the earlier topology stays and frames still draw into it.
TEST_F(SimAdapterTest, TopologyWithAModeTheAdapterCannotShowIsRefused) {
    sim::SetSimLogQuiet(true);
    StartSim();
    auto host = Connect();
    PowerOn(*host);
    ASSERT_TRUE(host->NextNotification());  // the plug state
    ASSERT_EQ(CheckTopologyReply(0, host->Exchange(BuildTopology(kScreen0, ScreenEntry{}))),
              ReplyFault::kNone);
    ScreenEntry huge = kScreen0;
    huge.width = 65535;
    huge.height = 65535;
    ASSERT_TRUE(host->Out(kPipeOutCommands, BuildTopology(huge, ScreenEntry{})));
    EXPECT_EQ(CheckCapsReply(0, host->Exchange(BuildCapsQuery())), ReplyFault::kNone);
    ASSERT_EQ(Violations(), 1u);
    EXPECT_NE(sim_->Adapter(0).RecentViolations()[0].find("65535x65535"), std::string::npos);
    ASSERT_EQ(sim_->Adapter(0).CurrentTopology()[0], kScreen0);

    ASSERT_TRUE(host->Out(kPipeOutCommands, RawFrame(0, (1u << 8) | 0x01, 16, 8)));
    const auto ack = host->NextNotification();
    ASSERT_TRUE(ack);
    EXPECT_TRUE(ack->IsFrameAck());
    const auto monitor = sim_->Adapter(0).Monitor(0x01);
    ASSERT_TRUE(monitor);
    EXPECT_EQ(monitor->picture.back.size(), 1280u * 720 * 4);
    EXPECT_EQ(Violations(), 1u);
}

TEST_F(SimAdapterTest, DetachRemovesTheSocketAndAttachBringsItBack) {
    StartSim();
    auto host = Connect();
    const std::string path = config_.busDir + "/a0.sock";
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(sim_->Command("detach a0"), "ok");
    EXPECT_FALSE(fs::exists(path));
    bus::FrameHeader h;
    std::vector<std::uint8_t> payload;
    EXPECT_FALSE(host->Next(h, payload));  // the connection is closed
    EXPECT_EQ(sim_->Command("attach a0"), "ok");
    EXPECT_TRUE(fs::exists(path));
    host = Connect();
    EXPECT_EQ(CheckCapsReply(0, host->Exchange(BuildCapsQuery())), ReplyFault::kNone);
}

TEST_F(SimAdapterTest, FaultsOnCommandCorruptEdidStopAcksAndBreakTheLink) {
    StartSim();
    auto host = Connect();
    PowerOn(*host);
    ASSERT_TRUE(host->NextNotification());
    EXPECT_EQ(sim_->Command("corrupt-edid a0 size"), "ok");
    EXPECT_EQ(CheckEdidReply(0, host->Exchange(BuildEdidQuery(0x01)), 0x01).fault,
              ReplyFault::kSize);
    EXPECT_EQ(sim_->Command("corrupt-edid a0 checksum"), "ok");
    EXPECT_EQ(CheckEdidReply(0, host->Exchange(BuildEdidQuery(0x01)), 0x01).fault,
              ReplyFault::kChecksum);
    EXPECT_EQ(sim_->Command("corrupt-edid a0 port"), "ok");
    EXPECT_EQ(CheckEdidReply(0, host->Exchange(BuildEdidQuery(0x01)), 0x01).fault,
              ReplyFault::kPort);
    EXPECT_EQ(CheckEdidReply(0, host->Exchange(BuildEdidQuery(0x01)), 0x01).fault,
              ReplyFault::kNone);

    // Without acknowledgements, a frame goes unanswered; after resuming, the
    // next one is acknowledged and is the next notification.
    ASSERT_EQ(CheckTopologyReply(0, host->Exchange(BuildTopology(kScreen0, ScreenEntry{}))),
              ReplyFault::kNone);
    EXPECT_EQ(sim_->Command("acks a0 stop"), "ok");
    ASSERT_TRUE(host->Out(kPipeOutCommands, RawFrame(0, (1u << 8) | 1, 4, 4)));
    EXPECT_EQ(CheckCapsReply(0, host->Exchange(BuildCapsQuery())), ReplyFault::kNone);
    EXPECT_EQ(sim_->Command("acks a0 resume"), "ok");
    ASSERT_TRUE(host->Out(kPipeOutCommands, RawFrame(0, (2u << 8) | 1, 4, 4)));
    EXPECT_EQ(host->NextNotification()->frameIndex, (2u << 8) | 1);

    // A broken link answers nothing; the wait below is the time-out under
    // test, short because nothing is expected to arrive.
    EXPECT_EQ(sim_->Command("break a0"), "ok");
    EXPECT_TRUE(host->Exchange(BuildCapsQuery(), 200).empty());
    EXPECT_EQ(sim_->Command("mend a0"), "ok");
    EXPECT_EQ(CheckCapsReply(0, host->Exchange(BuildCapsQuery())), ReplyFault::kNone);
    EXPECT_EQ(Violations(), 0u);
}

TEST_F(SimAdapterTest, DescriptorPresetsShapeTheDescAndTheUsablePipes) {
    sim::SetSimLogQuiet(true);
    config_.adapters[0].descriptor = *sim::DescriptorPreset("second-setting");
    StartSim();
    auto host = std::make_unique<Host>(config_.busDir + "/a0.sock");
    bus::FrameHeader h;
    std::vector<std::uint8_t> payload;
    ASSERT_TRUE(host->Next(h, payload));
    auto desc = bus::DecodeDescriptor(payload, nullptr);
    ASSERT_TRUE(desc);
    ASSERT_EQ(desc->size(), 2u);
    EXPECT_EQ((*desc)[0].endpoints.size(), 2u);
    EXPECT_EQ((*desc)[1].endpoints.size(), 4u);
    // Setting 0 has no 0x01: a transfer there is a violation.
    ASSERT_TRUE(host->Out(kPipeOutFrames, BuildCapsQuery()));
    const std::uint8_t alt = 1;
    host->Send(bus::FrameKind::kSetAlt, 0, {&alt, 1});
    EXPECT_EQ(CheckCapsReply(0, host->Exchange(BuildCapsQuery())), ReplyFault::kNone);
    EXPECT_EQ(Violations(), 1u);
}

TEST_F(SimAdapterTest, FlipsAreRecordedPerMonitorAndTheWallIsComposedAtItsPlaces) {
    StartSim();
    auto host = Connect();
    PowerOn(*host);
    ASSERT_TRUE(host->NextNotification());
    const ScreenEntry left{0, 0x01, 2, 64, 32, 32, 60, 0};
    const ScreenEntry right{1, 0x04, 2, 64, 32, 32, 60, 0};
    ASSERT_EQ(CheckTopologyReply(0, host->Exchange(BuildTopology(left, right))), ReplyFault::kNone);
    // A whole-screen raw picture of one colour.
    auto frame = [&](int screen, std::uint32_t index, std::uint8_t blue) {
        Packet p = RawFrame(screen, index, 64, 32);
        for (std::size_t i = kHeaderSize + kCodecHeaderSize; i + 4 <= p.size(); i += 4) p[i] = blue;
        ASSERT_TRUE(host->Out(kPipeOutCommands, p));
        ASSERT_EQ(host->NextNotification()->frameIndex, index);
    };
    frame(0, (7u << 8) | 0x01, 0x40);
    frame(1, (7u << 8) | 0x04, 0x80);
    ASSERT_TRUE(host->Out(kPipeOutCommands, BuildShowFrame(7)));
    // Only port 0x01 gets frame 8: a show-frame that changes nothing on 0x04
    // is no flip there.
    frame(0, (8u << 8) | 0x01, 0xC0);
    ASSERT_TRUE(host->Out(kPipeOutCommands, BuildShowFrame(8)));
    EXPECT_EQ(CheckCapsReply(0, host->Exchange(BuildCapsQuery())), ReplyFault::kNone);  // sync

    const std::string answer = sim_->Command("flips");
    ASSERT_EQ(answer.rfind("ok {", 0), 0u) << answer;
    const auto json = nlohmann::json::parse(answer.substr(3));
    const auto& monitors = json.at("monitors");
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0].at("port"), 0x01);
    EXPECT_EQ(monitors[0].at("frame"), 8);
    EXPECT_EQ(monitors[1].at("port"), 0x04);
    EXPECT_EQ(monitors[1].at("frame"), 7);
    const auto& f1 = monitors[0].at("flips");
    const auto& f4 = monitors[1].at("flips");
    ASSERT_EQ(f1.size(), 2u);
    ASSERT_EQ(f4.size(), 1u);
    EXPECT_EQ(f1[0][0], 7);
    EXPECT_EQ(f1[1][0], 8);
    EXPECT_EQ(f4[0][0], 7);
    // Both screens of one show-frame flip at one time.
    EXPECT_EQ(f1[0][1], f4[0][1]);
    EXPECT_LE(f1[0][1].get<std::int64_t>(), f1[1][1].get<std::int64_t>());
    EXPECT_EQ(nlohmann::json::parse(sim_->Command("flips 1").substr(3))["monitors"][0]["flips"],
              nlohmann::json::parse("[[8, " + std::to_string(f1[1][1].get<std::int64_t>()) + "]]"));

    // Placed: port 0x04 left of port 0x01, edge to edge.
    const std::string placed = dir_ + "/placed.png";
    // The answer names the frame each monitor showed, in the order composed.
    EXPECT_EQ(sim_->Command("wall-png " + placed + " a0:4=0,0 0:0x01=1,0"), "ok 128x32 frames 7,8");
    png::Image image;
    std::string error;
    ASSERT_TRUE(png::ReadPng(placed, image, error)) << error;
    EXPECT_EQ(image.bgrx[(10 * 128 + 10) * 4], 0x80);
    EXPECT_EQ(image.bgrx[(10 * 128 + 70) * 4], 0xC0);
    // The default layout: one row per adapter with gaps.
    EXPECT_EQ(sim_->Command("wall-png " + dir_ + "/rows.png"), "ok 176x64 frames 8,7");
    for (const char* bad : {"a0:4=0", "a0:3=0,0", "a9:1=0,0", "a0:1=64,0", "a0:2=0,0"})
        EXPECT_EQ(sim_->Command("wall-png " + placed + " " + bad).rfind("error:", 0), 0u) << bad;
    EXPECT_EQ(Violations(), 0u);
}
