// Byte-exact checks of the adapter packet builders against layouts written out
// by hand, and of the reply checks and notification parsing.
#include "protocol/adapter/packets.h"
#include "protocol/adapter/frame_packet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orv::adapter;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The magic followed by the u32 length, as the first 16 bytes of a packet.
Bytes Prefix(std::uint32_t length) {
    Bytes b(kMagic.begin(), kMagic.end());
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(AdapterPackets, ControlCommandsAre43BytesWithTheirBodies) {
    // Power on: ControlWord 6, type 0x32, byte 21 = 1.
    Bytes power = Concat(Prefix(43), {6, 0, 0, 0, 0x32, 1});
    power.resize(43);
    EXPECT_EQ(BuildControlCommand(PowerOnBody()), power);

    // Output power off for port 0x01: bit 28 set, port, off flag.
    Bytes out1 = Concat(Prefix(43), {6, 0, 0, 0x10, 0x31, 0x01, 1});
    out1.resize(43);
    EXPECT_EQ(BuildControlCommand(OutputPowerBody(0x01, true)), out1);
    // Port 0x04 on: bit 28 clear.
    Bytes out4 = Concat(Prefix(43), {6, 0, 0, 0, 0x31, 0x04, 0});
    out4.resize(43);
    EXPECT_EQ(BuildControlCommand(OutputPowerBody(0x04, false)), out4);

    Bytes commit = Concat(Prefix(43), {6, 0, 0, 0, 0x45});
    commit.resize(43);
    EXPECT_EQ(BuildControlCommand(CommitBody()), commit);
}

TEST(AdapterPackets, ViewCommandsPlaceTheirFieldsAtTheOddOffsets) {
    // Geometry (76) on screen 1: RW = 0x0780 (1920), RH = 0x0438 (1080),
    // W = 0x0F00 (3840), H = 0x0870 (2160).
    Bytes geo = Concat(Prefix(43), {6,    0,    0, 0x10, 0x4C,  // 16..20
                                    0,                          // 21
                                    0,    0,                    // 22..23
                                    0,                          // 24
                                    0x80, 0x07,                 // 25..26 RW low, high
                                    0x38, 0x04,                 // 27..28 RH
                                    0,    0,    0, 0,           // 29..32
                                    0x00, 0x0F,                 // 33..34 W
                                    0x70, 0x08});               // 35..36 H
    geo.resize(43);
    EXPECT_EQ(
        BuildControlCommand(ViewGeometryBody(type::kViewGeometry76, 1, 1920, 1080, 3840, 2160)),
        geo);

    // Mode (64) on screen 0: MW = 0x0500 (1280), MH = 0x02D0 (720), RW 1920,
    // RH 1080, W 3840, H 2160. Byte 25 is MH's high byte, RW's low byte is lost.
    Bytes mode = Concat(Prefix(43), {6,    0,    0,    0,   0x40,  // 16..20
                                     1,                            // 21
                                     0x00, 0x05,                   // 22..23 MW
                                     0xD0,                         // 24 MH low
                                     0x02,                         // 25 MH high
                                     0x07,                         // 26 RW high
                                     0x38, 0x04,                   // 27..28 RH
                                     0,    0,    0,    0,          // 29..32
                                     0x00, 0x0F, 0x70, 0x08});
    mode.resize(43);
    EXPECT_EQ(
        BuildControlCommand(ViewModeBody(type::kViewMode64, 0, 1280, 720, 1920, 1080, 3840, 2160)),
        mode);
}

TEST(AdapterPackets, TopologyCarriesTwoScreenEntries) {
    ScreenEntry s0{0, 0x01, 1, 3840, 2160, 32, 60, 0};
    ScreenEntry s1;  // empty
    Bytes expected =
        Concat(Prefix(48), {0x06, 0,    0x20, 0,    0x30,  // ControlWord 0x00200006, type
                            0,    0x01, 1,    0x00, 0x0F, 0x70, 0x08, 32, 60, 0,    // entry 0
                            0xFF, 0,    0,    0,    0,    0,    0,    0,  0,  0});  // entry 1
    expected.resize(48);
    const Packet p = BuildTopology(s0, s1);
    EXPECT_EQ(p, expected);
    EXPECT_EQ(ReadScreenEntry(p, kOffScreenEntry0), s0);
    EXPECT_TRUE(ReadScreenEntry(p, kOffScreenEntry1).Empty());
}

TEST(AdapterPackets, QueriesAndShowFrame) {
    Bytes show = Concat(Prefix(48), {6, 0, 0, 0, 0x4D, 0xFF, 0x78, 0x56, 0x34, 0x12});
    show.resize(48);
    EXPECT_EQ(BuildShowFrame(0x12345678), show);

    Bytes edid = Concat(Prefix(48), {6, 0, 0, 0, 0x60, 0x04});
    edid.resize(48);
    EXPECT_EQ(BuildEdidQuery(0x04), edid);

    Bytes version = Concat(Prefix(48), {6, 0, 0, 0, 0x61, 4});
    version.resize(48);
    EXPECT_EQ(BuildVersionQuery(kVersionLayout), version);

    Bytes caps = Concat(Prefix(48), {6, 0, 0, 0, 0x65});
    caps.resize(48);
    EXPECT_EQ(BuildCapsQuery(), caps);
}

TEST(AdapterPackets, SerialRomRequestsFollowTheLengthRule) {
    // SromInfo read: 48-byte header, or 276 bytes with the zero data area.
    Bytes read = Concat(Prefix(276), {6, 0, 0, 0, 7, 1, 0x00, 0x60, 0, 0, 228, 0, 0, 0, 0xFF});
    read.resize(276);
    EXPECT_EQ(BuildSromRead(0x6000, 228, true), read);
    Packet bare = BuildSromRead(0x6000, 228, false);
    EXPECT_EQ(bare.size(), 48u);
    EXPECT_TRUE(std::equal(bare.begin() + 16, bare.end(), read.begin() + 16));

    // 464 data bytes make 512: the packet is 513 bytes, the last one zero.
    Bytes data(464);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
    Bytes write =
        Concat(Prefix(513), {6, 0, 0, 0, 7, 2, 0x00, 0x10, 0x02, 0, 0xD0, 0x01, 0, 0, 0xFF});
    write.resize(48);
    write = Concat(write, data);
    write.push_back(0);
    EXPECT_EQ(BuildSromWrite(0x21000, data), write);
}

TEST(AdapterPackets, FrameHeaderAndPipeChoice) {
    Bytes packet(48 + 464 + 1);
    ASSERT_EQ(WriteFramePacketHeader(packet, 464, 1, (7u << 8) | 0x04), 513u);
    Bytes expected =
        Concat(Prefix(513), {4, 0, 0, 0x30, 0, 3, 0x04, 7, 0, 0, 0xD0, 0x01, 0, 0, 17});
    expected.resize(48);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), packet.begin()));
    Bytes tooSmall(47);
    EXPECT_EQ(WriteFramePacketHeader(tooSmall, 0, 0, 1), 0u);

    EXPECT_EQ(OutPipeFor(53), 0x01);
    EXPECT_EQ(OutPipeFor(57), 0x01);
    EXPECT_EQ(OutPipeFor(58), 0x01);
    EXPECT_EQ(OutPipeFor(54), 0x02);
    EXPECT_EQ(OutPipeFor(type::kFrame), 0x02);
    EXPECT_EQ(OutPipeFor(type::kShowFrame), 0x02);
}

TEST(AdapterPackets, ShowFrameFilterDropsRepeats) {
    ShowFrameFilter f;
    EXPECT_TRUE(f.Claim(5));
    EXPECT_FALSE(f.Claim(5));
    EXPECT_TRUE(f.Claim(6));
    EXPECT_TRUE(f.Claim(5));
    EXPECT_EQ(f.Last(), 5u);
}

TEST(AdapterReplies, TopologyChecksRunInOrder) {
    const Packet good = BuildStatusReply(type::kTopology, 0);
    EXPECT_EQ(CheckTopologyReply(0, good), ReplyFault::kNone);
    EXPECT_EQ(CheckTopologyReply(121, good), ReplyFault::kLink);
    EXPECT_EQ(CheckTopologyReply(0, orv::bytes::ConstBytes(good).first(47)), ReplyFault::kLength);
    Packet badMagic = good;
    badMagic[0] = 'x';
    EXPECT_EQ(CheckTopologyReply(0, badMagic), ReplyFault::kMagic);
    EXPECT_EQ(CheckTopologyReply(0, BuildStatusReply(0x31, 0)), ReplyFault::kDataType);
    EXPECT_EQ(CheckTopologyReply(0, BuildStatusReply(type::kTopology, 3)), ReplyFault::kStatus);
}

TEST(AdapterReplies, QueryRepliesAreChecked) {
    EXPECT_EQ(CheckCapsReply(0, BuildCapsReply(Bytes(157, 0xAB))), ReplyFault::kNone);
    EXPECT_EQ(CheckCapsReply(0, BuildStatusReply(type::kCapsQuery, 1)), ReplyFault::kStatus);
    EXPECT_EQ(CheckCapsReply(0, BuildStatusReply(type::kCapsQuery, 0)), ReplyFault::kLength);

    const Packet v = BuildVersionReply("v 00.00.1400.0007");
    EXPECT_EQ(CheckVersionReply(0, v, kVersionFirmware), ReplyFault::kNone);
    EXPECT_EQ(VersionText(v), "v 00.00.1400.0007");
    EXPECT_EQ(CheckVersionReply(0, v, kVersionLayout), ReplyFault::kSubType);
    const Packet l = BuildLayoutReply(3);
    EXPECT_EQ(CheckVersionReply(0, l, kVersionLayout), ReplyFault::kNone);
    EXPECT_EQ(LayoutVersion(l), 3u);
    // A version text without a terminator ends with what was received.
    EXPECT_EQ(VersionText(orv::bytes::ConstBytes(v).first(19 + 12)), "v 00.00.1400");

    // Serial-ROM replies: type 7 at byte 20 and status 1 at byte 30 only.
    Packet srom = BuildSromReply(kSromRead, 0x6000, true, Bytes(4, 1));
    EXPECT_EQ(CheckSromReply(0, srom), ReplyFault::kNone);
    srom[0] = 0;  // the magic is not looked at
    EXPECT_EQ(CheckSromReply(0, srom), ReplyFault::kNone);
    EXPECT_EQ(CheckSromReply(0, BuildSromReply(kSromWrite, 0, false, {})), ReplyFault::kStatus);
    EXPECT_EQ(CheckSromReply(0, orv::bytes::ConstBytes(srom).first(30)), ReplyFault::kLength);
    // A read whose reply stops short of the data asked for is refused.
    EXPECT_EQ(CheckSromReply(0, srom, 4), ReplyFault::kNone);
    EXPECT_EQ(CheckSromReply(0, srom, 228), ReplyFault::kLength);
}

TEST(AdapterReplies, EdidRepliesAreCheckedForKindThenUsability) {
    Bytes edid(128, 0);
    edid[0] = 0x10;
    edid[127] = 0xF0;  // sums to 0
    const Packet reply = BuildEdidReply(0x04, 0, 128, edid);
    EdidCheck ok = CheckEdidReply(0, reply, 0x04);  // ok.edid points into reply
    ASSERT_EQ(ok.fault, ReplyFault::kNone);
    EXPECT_EQ(ok.size, 128u);
    EXPECT_TRUE(std::equal(edid.begin(), edid.end(), ok.edid.begin()));

    EXPECT_EQ(CheckEdidReply(0, BuildEdidReply(0x01, 0, 128, edid), 0x04).fault, ReplyFault::kPort);
    EXPECT_EQ(CheckEdidReply(0, BuildEdidReply(0x04, 1, 128, edid), 0x04).fault,
              ReplyFault::kStatus);
    EXPECT_EQ(CheckEdidReply(0, BuildEdidReply(0x04, 0, 200, Bytes(200)), 0x04).fault,
              ReplyFault::kSize);
    // A size field larger than what the reply carries is refused, not read past.
    EXPECT_EQ(CheckEdidReply(0, BuildEdidReply(0x04, 0, 256, edid), 0x04).fault, ReplyFault::kSize);
    Bytes bad = edid;
    bad[5] = 1;
    EXPECT_EQ(CheckEdidReply(0, BuildEdidReply(0x04, 0, 128, bad), 0x04).fault,
              ReplyFault::kChecksum);
    EXPECT_EQ(CheckEdidReply(0, BuildStatusReply(type::kVersionQuery, 0), 0x04).fault,
              ReplyFault::kDataType);
}

TEST(AdapterNotifications, PnpAckAndKeepAlive) {
    auto pnp = ParseNotification(BuildMonitorPnp(0x05));
    ASSERT_TRUE(pnp);
    EXPECT_TRUE(pnp->IsMonitorPnp());
    EXPECT_EQ(pnp->status, 0x05);

    auto ack = ParseNotification(BuildFrameAck((9u << 8) | 0x01));
    ASSERT_TRUE(ack);
    EXPECT_TRUE(ack->IsFrameAck());
    EXPECT_EQ(ack->frameIndex, (9u << 8) | 0x01);

    auto keepAlive = ParseNotification(BuildKeepAlive());
    ASSERT_TRUE(keepAlive);
    EXPECT_FALSE(keepAlive->IsFrameAck());
    EXPECT_FALSE(keepAlive->IsMonitorPnp());

    Packet noMagic = BuildMonitorPnp(1);
    noMagic[3] = '?';
    EXPECT_FALSE(ParseNotification(noMagic));
    EXPECT_FALSE(ParseNotification(orv::bytes::ConstBytes(BuildFrameAck(5)).first(23)));
}
