// Every byte layout of the adapter packet protocol, with its named offsets.
//
// The 48-byte header that opens every adapter packet (requests, replies,
// notifications, frame packets):
//
//   0..11  magic "orvvarkelsta" (no terminator)
//   12..15 total packet length, header included (u32)
//   16..19 ControlWord in requests; type/status/sub-fields in replies
//   20     data type
//   21..42 type-specific fields
//   43..47 reserved, 0
//
// Length rule: a packet whose computed length is an exact multiple of 512 is
// sent one zero byte longer, and the length field says so.
//
// Below the header: the request types and their fields, the ScreenEntry of the
// topology command, the view-command fields, the replies, the notifications,
// the frame-packet fields with the CodecHeader that opens a picture, and the
// serial-ROM information structure (SromInfo).
//
// Pure functions over caller buffers, through the bounds-checked helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/bytes.h"

namespace orv::adapter {

// ---------------------------------------------------------------- header
inline constexpr std::size_t kHeaderSize = 48;
inline constexpr std::string_view kMagic = "orvvarkelsta";
inline constexpr std::size_t kMagicSize = 12;
static_assert(kMagic.size() == kMagicSize);

inline constexpr std::size_t kOffLength = 12;
inline constexpr std::size_t kOffControlWord = 16;
inline constexpr std::size_t kOffDataType = 20;
inline constexpr std::size_t kOffFields = 21;
inline constexpr std::size_t kOffReserved = 43;
static_assert(kOffReserved + 5 == kHeaderSize);
static_assert(kOffLength + 4 == kOffControlWord && kOffControlWord + 4 == kOffDataType);

// USB transfers end on a short packet; a transfer that is an exact multiple of
// this size would need a zero-length packet, which the adapters do not expect.
inline constexpr std::size_t kUsbPacketSize = 512;

// The length a packet of `computed` bytes is sent with (the 512 rule).
constexpr std::uint32_t PacketLength(std::size_t computed) {
    return static_cast<std::uint32_t>(computed % kUsbPacketSize == 0 ? computed + 1 : computed);
}

// Writes the magic and the length field. False when `packet` is shorter
// than the header.
[[nodiscard]] inline bool WriteMagicAndLength(bytes::MutBytes packet, std::uint32_t length) {
    return bytes::PutBytes(packet, 0, bytes::AsBytes(kMagic)) &&
           bytes::PutU32(packet, kOffLength, length);
}

// True when the first 12 bytes are the magic.
inline bool HasMagic(bytes::ConstBytes packet) {
    const bytes::ConstBytes m = bytes::Slice(packet, 0, kMagicSize);
    return !m.empty() &&
           std::string_view(reinterpret_cast<const char*>(m.data()), m.size()) == kMagic;
}

// ---------------------------------------------------------------- ControlWord
// Bits 0..7 hold 6 in every control command and serial-ROM request; bit 28
// selects the adapter's second output (screen slot 1).
inline constexpr std::uint32_t kControlWordCommand = 6;
inline constexpr std::uint32_t kControlWordTopology = 0x00200006;
inline constexpr std::uint32_t kControlWordFrame = 0x20000004;
inline constexpr std::uint32_t kControlWordSecondOutput = 1u << 28;

// `word` with bit 28 set to the lowest bit of `screenIndex`, other bits kept.
constexpr std::uint32_t WithScreenBit(std::uint32_t word, int screenIndex) {
    return (word & ~kControlWordSecondOutput) |
           ((screenIndex & 1) != 0 ? kControlWordSecondOutput : 0);
}

// ---------------------------------------------------------------- data types
namespace type {
inline constexpr std::uint8_t kFrame = 0;
inline constexpr std::uint8_t kFrameAlt = 4;
inline constexpr std::uint8_t kSerialRom = 7;
inline constexpr std::uint8_t kTopology = 0x30;
inline constexpr std::uint8_t kOutputPower = 0x31;
inline constexpr std::uint8_t kPowerOn = 0x32;
inline constexpr std::uint8_t kViewMode62 = 0x3E;
inline constexpr std::uint8_t kViewGeometry63 = 0x3F;
inline constexpr std::uint8_t kViewMode64 = 0x40;
inline constexpr std::uint8_t kViewGeometry65 = 0x41;
inline constexpr std::uint8_t kCommit = 0x45;
inline constexpr std::uint8_t kViewGeometry76 = 0x4C;
inline constexpr std::uint8_t kShowFrame = 0x4D;
inline constexpr std::uint8_t kEdidQuery = 0x60;
inline constexpr std::uint8_t kVersionQuery = 0x61;
inline constexpr std::uint8_t kCapsQuery = 0x65;
// Further packet types of the frame path; only their pipe is fixed here.
inline constexpr std::uint8_t kOther53 = 53;
inline constexpr std::uint8_t kOther54 = 54;
inline constexpr std::uint8_t kOther57 = 57;
inline constexpr std::uint8_t kOther58 = 58;
}  // namespace type

constexpr bool IsFramePacketType(std::uint8_t t) {
    return t == type::kFrame || t == type::kFrameAlt;
}

// ---------------------------------------------------------------- pipes
inline constexpr std::uint8_t kPipeOutFrames = 0x01;    // types 53, 57, 58
inline constexpr std::uint8_t kPipeOutCommands = 0x02;  // everything else
inline constexpr std::uint8_t kPipeInNotify = 0x81;
inline constexpr std::uint8_t kPipeInReply = 0x82;

// ---------------------------------------------------------------- control commands
// A command built through SendControlCommand is 43 bytes: magic, length, and a
// 27-byte body the caller fills (packet offsets 16..42).
inline constexpr std::size_t kControlCommandSize = 43;
inline constexpr std::size_t kControlBodyOffset = kOffControlWord;
inline constexpr std::size_t kControlBodySize = kControlCommandSize - kControlBodyOffset;
static_assert(kControlBodySize == 27);
inline constexpr std::size_t kControlReplyMax = 48;  // SendControlCommand reads at most this

// Output power (0x31): byte 21 port bit, byte 22 1 = off, 0 = on.
inline constexpr std::size_t kOffPowerPort = 21;
inline constexpr std::size_t kOffPowerOff = 22;
// Power on (0x32): byte 21 = 1.
inline constexpr std::size_t kOffPowerOnFlag = 21;

// View commands (packet offsets). Types 76, 63, 65 carry geometry; 64 and 62
// the mode, with MH split around RW's low byte as the adapter expects it.
inline constexpr std::size_t kOffViewKind = 21;   // 0 geometry, 1 mode
inline constexpr std::size_t kOffViewModeW = 22;  // u16 MW (mode commands)
inline constexpr std::size_t kOffViewModeHLow = 24;
inline constexpr std::size_t kOffViewRegionWLow = 25;  // geometry commands
inline constexpr std::size_t kOffViewModeHHigh = 25;   // mode commands
inline constexpr std::size_t kOffViewRegionWHigh = 26;
inline constexpr std::size_t kOffViewRegionH = 27;  // u16 RH
inline constexpr std::size_t kOffViewWallW = 33;    // u16 W
inline constexpr std::size_t kOffViewWallH = 35;    // u16 H
static_assert(kOffViewWallH + 2 <= kControlCommandSize);

// ---------------------------------------------------------------- topology
inline constexpr std::size_t kScreenEntrySize = 10;
inline constexpr std::size_t kOffScreenEntry0 = 21;
inline constexpr std::size_t kOffScreenEntry1 = 31;
static_assert(kOffScreenEntry1 == kOffScreenEntry0 + kScreenEntrySize);
static_assert(kOffScreenEntry1 + kScreenEntrySize <= kOffReserved);
// Offsets inside one entry.
inline constexpr std::size_t kEntScreenIndex = 0;  // 0, 1; 0xFF empty
inline constexpr std::size_t kEntPortBit = 1;
inline constexpr std::size_t kEntModeClass = 2;
inline constexpr std::size_t kEntWidth = 3;   // u16
inline constexpr std::size_t kEntHeight = 5;  // u16
inline constexpr std::size_t kEntBitsPerPixel = 7;
inline constexpr std::size_t kEntRefresh = 8;
inline constexpr std::size_t kEntFlags = 9;
static_assert(kEntFlags + 1 == kScreenEntrySize);
inline constexpr std::uint8_t kScreenEmpty = 0xFF;
// The adapter's copy of the topology command bytes 16..40.
inline constexpr std::size_t kTopologyBlockSize = 25;
static_assert(kOffScreenEntry1 + kScreenEntrySize - kOffControlWord == kTopologyBlockSize);

// ---------------------------------------------------------------- show frame
inline constexpr std::size_t kOffShowFrameAll = 21;     // 0xFF
inline constexpr std::size_t kOffShowFrameNumber = 22;  // u32

// ---------------------------------------------------------------- queries
inline constexpr std::size_t kOffQueryPort = 21;     // EDID query: port bit
inline constexpr std::size_t kOffQuerySubType = 21;  // version query
inline constexpr std::uint8_t kVersionFirmware = 1;
inline constexpr std::uint8_t kVersionLayout = 4;

// ---------------------------------------------------------------- serial ROM
inline constexpr std::size_t kOffSromOp = 21;  // 1 read, 2 write
inline constexpr std::size_t kOffSromAddress = 22;
inline constexpr std::size_t kOffSromLength = 26;
inline constexpr std::size_t kOffSromStatus = 30;  // 0xFF in requests, 1 = done in replies
inline constexpr std::size_t kOffSromData = kHeaderSize;
inline constexpr std::uint8_t kSromRead = 1;
inline constexpr std::uint8_t kSromWrite = 2;
inline constexpr std::uint8_t kSromRequestMark = 0xFF;
inline constexpr std::uint8_t kSromDone = 1;

// ---------------------------------------------------------------- replies
// Queries answer with the request's data type in byte 16 and a status or
// sub-type in byte 17.
inline constexpr std::size_t kOffReplyType = 16;
inline constexpr std::size_t kOffReplyStatus = 17;  // bError, or the version sub-type
inline constexpr std::size_t kTopologyReplySize = 48;
// EDID reply.
inline constexpr std::size_t kOffEdidSize = 18;  // u32
inline constexpr std::size_t kOffEdidPort = 22;
inline constexpr std::size_t kOffEdidData = 48;
inline constexpr std::size_t kEdidReplyBuffer = 304;
static_assert(kOffEdidData + 256 == kEdidReplyBuffer);
// Version reply.
inline constexpr std::size_t kOffVersionStatus = 18;
inline constexpr std::size_t kOffVersionText = 19;
inline constexpr std::size_t kOffLayoutVersion = 19;  // u32
inline constexpr std::size_t kVersionReplyBuffer = 1024;
// Capability reply.
inline constexpr std::size_t kOffCapsBlock = 48;
inline constexpr std::size_t kCapsBlockSize = 157;
inline constexpr std::size_t kCapsReplyBuffer = 16384;
static_assert(kOffCapsBlock + kCapsBlockSize == 205);

// ---------------------------------------------------------------- notifications
inline constexpr std::size_t kOffNotifyKind = 16;
inline constexpr std::size_t kOffNotifyStatus = 17;      // PnP mask / ack status
inline constexpr std::size_t kOffNotifyFrameIndex = 20;  // u32 (frame ack)
inline constexpr std::uint8_t kNotifyMonitorPnp = 0xE1;
inline constexpr std::uint8_t kNotifyFrameAck = 0xE9;
inline constexpr std::uint8_t kAckIgnore = 2;
inline constexpr std::size_t kNotificationSize = 48;
inline constexpr std::size_t kNotificationBuffer = 1024 * 1024;

// ---------------------------------------------------------------- frame packets
inline constexpr std::size_t kOffFrameKind = 21;        // 3
inline constexpr std::size_t kOffFrameIndex = 22;       // u32 FrameIndex; byte 22 = port bit
inline constexpr std::size_t kOffFramePictureLen = 26;  // u32
inline constexpr std::size_t kOffFrameMark = 30;        // 17
inline constexpr std::size_t kOffFramePicture = kHeaderSize;
inline constexpr std::uint8_t kFrameKindValue = 3;
inline constexpr std::uint8_t kFrameMarkValue = 17;

// CodecHeader: the 32 bytes that open a picture.
inline constexpr std::size_t kCodecHeaderSize = 32;
inline constexpr std::size_t kCodecOffType = 0;
inline constexpr std::size_t kCodecOffY = 4;
inline constexpr std::size_t kCodecOffX = 8;
inline constexpr std::size_t kCodecOffHeight = 12;
inline constexpr std::size_t kCodecOffWidth = 16;
inline constexpr std::size_t kCodecOffPart1 = 20;
inline constexpr std::size_t kCodecOffPart2 = 24;
inline constexpr std::size_t kCodecOffPart3 = 28;
static_assert(kCodecOffPart3 + 4 == kCodecHeaderSize);

// ---------------------------------------------------------------- SromInfo
// The 228-byte serial-ROM information structure, at 0x6000 with a backup
// copy at 0x4000. Bytes not named here are kept as read.
inline constexpr std::uint32_t kSromInfoAddress = 0x6000;
inline constexpr std::uint32_t kSromInfoBackupAddress = 0x4000;
inline constexpr std::size_t kSromInfoSize = 228;
inline constexpr std::size_t kSromInfoRequestSize = kHeaderSize + kSromInfoSize;  // 276
inline constexpr std::size_t kSromOffChecksum = 0;
inline constexpr std::size_t kSromOffActiveSlot = 3;  // 1 = region 3, 2 = region 4
inline constexpr std::size_t kSromOffIdentity = 5;
inline constexpr std::size_t kIdentitySize = 24;
inline constexpr std::size_t kSromOffRegions = 36;
inline constexpr std::size_t kSromRegionSize = 28;
inline constexpr std::size_t kSromRegionCount = 5;
static_assert(kSromOffIdentity + kIdentitySize == 29);
static_assert(kSromOffRegions + kSromRegionCount * kSromRegionSize == 176);
static_assert(kSromInfoRequestSize == 276);
// Offsets inside one region descriptor.
inline constexpr std::size_t kRegOffAddress = 0;   // u32
inline constexpr std::size_t kRegOffReserved = 4;  // u32, largest image
inline constexpr std::size_t kRegOffWritten = 8;   // u32, image size written
inline constexpr std::size_t kRegOffChecksum = 22;
// Region numbers.
inline constexpr std::size_t kRegionBootLoader0 = 0;
inline constexpr std::size_t kRegionBootLoader1 = 1;
inline constexpr std::size_t kRegionFirmware0 = 2;
inline constexpr std::size_t kRegionMainSlot1 = 3;
inline constexpr std::size_t kRegionMainSlot2 = 4;

}  // namespace orv::adapter
