#include "protocol/adapter/packets.h"

#include <algorithm>
#include <cstring>

namespace orv::adapter {
namespace {

using bytes::ConstBytes;
using bytes::MutBytes;

// A zeroed packet of `computed` bytes (plus the length-rule byte) with the
// magic and length written.
Packet NewPacket(std::size_t computed) {
    Packet p(PacketLength(computed), 0);
    // Every packet built here is at least a header long, so this cannot fail.
    (void)WriteMagicAndLength(p, static_cast<std::uint32_t>(p.size()));
    return p;
}

// A 48-byte request: ControlWord, type and the first field byte.
Packet NewRequest(std::uint32_t controlWord, std::uint8_t dataType, std::size_t computed) {
    Packet p = NewPacket(computed);
    bytes::PutU32(p, kOffControlWord, controlWord);
    bytes::PutU8(p, kOffDataType, dataType);
    return p;
}

// Body offsets are packet offsets less 16.
constexpr std::size_t B(std::size_t packetOffset) {
    return packetOffset - kControlBodyOffset;
}

ControlBody NewBody(std::uint32_t controlWord, std::uint8_t dataType) {
    ControlBody body{};
    bytes::PutU32(body, B(kOffControlWord), controlWord);
    bytes::PutU8(body, B(kOffDataType), dataType);
    return body;
}

ControlBody ViewBody(std::uint8_t viewType, int screenIndex, std::uint8_t kind,
                     std::uint16_t regionH, std::uint16_t wallW, std::uint16_t wallH) {
    ControlBody body = NewBody(WithScreenBit(kControlWordCommand, screenIndex), viewType);
    bytes::PutU8(body, B(kOffViewKind), kind);
    bytes::PutU16(body, B(kOffViewRegionH), regionH);
    bytes::PutU16(body, B(kOffViewWallW), wallW);
    bytes::PutU16(body, B(kOffViewWallH), wallH);
    return body;
}

bool Has(ConstBytes reply, std::size_t size) {
    return reply.size() >= size;
}

std::uint8_t U8At(ConstBytes b, std::size_t o) {
    std::uint8_t v = 0;
    bytes::GetU8(b, o, v);
    return v;
}

std::uint32_t U32At(ConstBytes b, std::size_t o) {
    std::uint32_t v = 0;
    bytes::GetU32(b, o, v);
    return v;
}

// Link result, magic, reply type and status byte: the common query checks.
ReplyFault CheckQueryReply(int linkResult, ConstBytes reply, std::uint8_t dataType) {
    if (linkResult != 0) return ReplyFault::kLink;
    if (!Has(reply, kOffReplyStatus + 1)) return ReplyFault::kLength;
    if (!HasMagic(reply)) return ReplyFault::kMagic;
    if (U8At(reply, kOffReplyType) != dataType) return ReplyFault::kDataType;
    return ReplyFault::kNone;
}

}  // namespace

// ---------------------------------------------------------------- requests

Packet BuildControlCommand(const ControlBody& body) {
    Packet p = NewPacket(kControlCommandSize);
    bytes::PutBytes(p, kControlBodyOffset, body);
    return p;
}

ControlBody PowerOnBody() {
    ControlBody body = NewBody(kControlWordCommand, type::kPowerOn);
    bytes::PutU8(body, B(kOffPowerOnFlag), 1);
    return body;
}

ControlBody OutputPowerBody(std::uint8_t portBit, bool off) {
    ControlBody body = NewBody(
        portBit == 0x01 ? kControlWordCommand | kControlWordSecondOutput : kControlWordCommand,
        type::kOutputPower);
    bytes::PutU8(body, B(kOffPowerPort), portBit);
    bytes::PutU8(body, B(kOffPowerOff), off ? 1 : 0);
    return body;
}

ControlBody CommitBody() {
    return NewBody(kControlWordCommand, type::kCommit);
}

ControlBody ViewGeometryBody(std::uint8_t viewType, int screenIndex, std::uint16_t regionW,
                             std::uint16_t regionH, std::uint16_t wallW, std::uint16_t wallH) {
    ControlBody body = ViewBody(viewType, screenIndex, 0, regionH, wallW, wallH);
    bytes::PutU8(body, B(kOffViewRegionWLow), static_cast<std::uint8_t>(regionW));
    bytes::PutU8(body, B(kOffViewRegionWHigh), static_cast<std::uint8_t>(regionW >> 8));
    return body;
}

ControlBody ViewModeBody(std::uint8_t viewType, int screenIndex, std::uint16_t modeW,
                         std::uint16_t modeH, std::uint16_t regionW, std::uint16_t regionH,
                         std::uint16_t wallW, std::uint16_t wallH) {
    // RW's low byte has no place in the mode commands: byte 25 carries MH's high byte.
    ControlBody body = ViewBody(viewType, screenIndex, 1, regionH, wallW, wallH);
    bytes::PutU16(body, B(kOffViewModeW), modeW);
    bytes::PutU8(body, B(kOffViewModeHLow), static_cast<std::uint8_t>(modeH));
    bytes::PutU8(body, B(kOffViewModeHHigh), static_cast<std::uint8_t>(modeH >> 8));
    bytes::PutU8(body, B(kOffViewRegionWHigh), static_cast<std::uint8_t>(regionW >> 8));
    return body;
}

void WriteScreenEntry(MutBytes packet, std::size_t offset, const ScreenEntry& e) {
    const MutBytes entry = packet.subspan(std::min(offset, packet.size()));
    bytes::PutU8(entry, kEntScreenIndex, e.screenIndex);
    bytes::PutU8(entry, kEntPortBit, e.portBit);
    bytes::PutU8(entry, kEntModeClass, e.modeClass);
    bytes::PutU16(entry, kEntWidth, e.width);
    bytes::PutU16(entry, kEntHeight, e.height);
    bytes::PutU8(entry, kEntBitsPerPixel, e.bitsPerPixel);
    bytes::PutU8(entry, kEntRefresh, e.refresh);
    bytes::PutU8(entry, kEntFlags, e.flags);
}

ScreenEntry ReadScreenEntry(ConstBytes packet, std::size_t offset) {
    const ConstBytes entry = bytes::Slice(packet, offset, kScreenEntrySize);
    ScreenEntry e;
    if (entry.empty()) return e;
    bytes::ByteReader r(entry);
    e.screenIndex = r.U8();
    e.portBit = r.U8();
    e.modeClass = r.U8();
    e.width = r.U16();
    e.height = r.U16();
    e.bitsPerPixel = r.U8();
    e.refresh = r.U8();
    e.flags = r.U8();
    return e;
}

Packet BuildTopology(const ScreenEntry& s0, const ScreenEntry& s1) {
    Packet p = NewRequest(kControlWordTopology, type::kTopology, kHeaderSize);
    WriteScreenEntry(p, kOffScreenEntry0, s0);
    WriteScreenEntry(p, kOffScreenEntry1, s1);
    return p;
}

Packet BuildShowFrame(std::uint32_t frameNumber) {
    Packet p = NewRequest(kControlWordCommand, type::kShowFrame, kHeaderSize);
    bytes::PutU8(p, kOffShowFrameAll, 0xFF);
    bytes::PutU32(p, kOffShowFrameNumber, frameNumber);
    return p;
}

Packet BuildEdidQuery(std::uint8_t portBit) {
    Packet p = NewRequest(kControlWordCommand, type::kEdidQuery, kHeaderSize);
    bytes::PutU8(p, kOffQueryPort, portBit);
    return p;
}

Packet BuildVersionQuery(std::uint8_t subType) {
    Packet p = NewRequest(kControlWordCommand, type::kVersionQuery, kHeaderSize);
    bytes::PutU8(p, kOffQuerySubType, subType);
    return p;
}

Packet BuildCapsQuery() {
    return NewRequest(kControlWordCommand, type::kCapsQuery, kHeaderSize);
}

namespace {
Packet SromRequest(std::uint8_t op, std::uint32_t address, std::uint32_t length,
                   std::size_t computed) {
    Packet p = NewRequest(kControlWordCommand, type::kSerialRom, computed);
    bytes::PutU8(p, kOffSromOp, op);
    bytes::PutU32(p, kOffSromAddress, address);
    bytes::PutU32(p, kOffSromLength, length);
    bytes::PutU8(p, kOffSromStatus, kSromRequestMark);
    return p;
}
}  // namespace

Packet BuildSromRead(std::uint32_t address, std::uint32_t length, bool padded) {
    return SromRequest(kSromRead, address, length, kHeaderSize + (padded ? length : 0));
}

Packet BuildSromWrite(std::uint32_t address, ConstBytes data) {
    Packet p = SromRequest(kSromWrite, address, static_cast<std::uint32_t>(data.size()),
                           kHeaderSize + data.size());
    bytes::PutBytes(p, kOffSromData, data);
    return p;
}

// ---------------------------------------------------------------- reply checks

const char* ReplyFaultName(ReplyFault f) {
    switch (f) {
        case ReplyFault::kNone:
            return "ok";
        case ReplyFault::kLink:
            return "link";
        case ReplyFault::kLength:
            return "length";
        case ReplyFault::kMagic:
            return "magic";
        case ReplyFault::kDataType:
            return "data type";
        case ReplyFault::kSubType:
            return "sub-type";
        case ReplyFault::kStatus:
            return "status";
        case ReplyFault::kPort:
            return "port";
        case ReplyFault::kSize:
            return "size";
        case ReplyFault::kChecksum:
            return "checksum";
    }
    return "?";
}

ReplyFault CheckTopologyReply(int linkResult, ConstBytes reply) {
    if (linkResult != 0) return ReplyFault::kLink;
    if (reply.size() != kTopologyReplySize) return ReplyFault::kLength;
    if (!HasMagic(reply)) return ReplyFault::kMagic;
    if (U8At(reply, kOffReplyType) != type::kTopology) return ReplyFault::kDataType;
    if (U8At(reply, kOffReplyStatus) != 0) return ReplyFault::kStatus;
    return ReplyFault::kNone;
}

ReplyFault CheckCapsReply(int linkResult, ConstBytes reply) {
    ReplyFault f = CheckQueryReply(linkResult, reply, type::kCapsQuery);
    if (f != ReplyFault::kNone) return f;
    if (U8At(reply, kOffReplyStatus) != 0) return ReplyFault::kStatus;
    // The capability block is stored whole; a reply that stops short of it
    // would leave part of it undefined.
    if (!Has(reply, kOffCapsBlock + kCapsBlockSize)) return ReplyFault::kLength;
    return ReplyFault::kNone;
}

ReplyFault CheckVersionReply(int linkResult, ConstBytes reply, std::uint8_t subType) {
    ReplyFault f = CheckQueryReply(linkResult, reply, type::kVersionQuery);
    if (f != ReplyFault::kNone) return f;
    if (U8At(reply, kOffReplyStatus) != subType) return ReplyFault::kSubType;
    if (subType == kVersionFirmware) {
        if (!Has(reply, kOffVersionText)) return ReplyFault::kLength;
        if (U8At(reply, kOffVersionStatus) != 0) return ReplyFault::kStatus;
    } else if (subType == kVersionLayout && !Has(reply, kOffLayoutVersion + 4)) {
        return ReplyFault::kLength;
    }
    return ReplyFault::kNone;
}

ReplyFault CheckSromReply(int linkResult, ConstBytes reply, std::size_t readLength) {
    if (linkResult != 0) return ReplyFault::kLink;
    if (!Has(reply, kOffSromStatus + 1)) return ReplyFault::kLength;
    if (U8At(reply, kOffDataType) != type::kSerialRom) return ReplyFault::kDataType;
    if (U8At(reply, kOffSromStatus) != kSromDone) return ReplyFault::kStatus;
    if (!Has(reply, kOffSromData + readLength)) return ReplyFault::kLength;
    return ReplyFault::kNone;
}

EdidCheck CheckEdidReply(int linkResult, ConstBytes reply, std::uint8_t portBit) {
    EdidCheck c;
    c.fault = CheckQueryReply(linkResult, reply, type::kEdidQuery);
    if (c.fault != ReplyFault::kNone) return c;
    if (!Has(reply, kOffEdidData)) {
        c.fault = ReplyFault::kLength;
        return c;
    }
    if (U8At(reply, kOffEdidPort) != portBit) {
        c.fault = ReplyFault::kPort;
        return c;
    }
    c.bError = U8At(reply, kOffReplyStatus);
    c.size = U32At(reply, kOffEdidSize);
    if (c.bError != 0) {
        c.fault = ReplyFault::kStatus;
    } else if ((c.size != 128 && c.size != 256) || !Has(reply, kOffEdidData + c.size)) {
        // A size the reply does not actually carry is refused like a bad size.
        c.fault = ReplyFault::kSize;
    } else {
        c.edid = reply.subspan(kOffEdidData, c.size);
        std::uint8_t sum = 0;
        for (std::uint8_t b : c.edid) sum = static_cast<std::uint8_t>(sum + b);
        if (sum != 0) {
            c.fault = ReplyFault::kChecksum;
            c.edid = {};
        }
    }
    return c;
}

std::string VersionText(ConstBytes reply) {
    if (reply.size() <= kOffVersionText) return {};
    const ConstBytes text = reply.subspan(kOffVersionText);
    const auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
    return std::string(text.begin(), end);
}

std::uint32_t LayoutVersion(ConstBytes reply) {
    return U32At(reply, kOffLayoutVersion);
}

// ---------------------------------------------------------------- notifications

std::optional<Notification> ParseNotification(ConstBytes packet) {
    if (!HasMagic(packet) || packet.size() < kOffNotifyFrameIndex + 4) return std::nullopt;
    Notification n;
    n.kind = U8At(packet, kOffNotifyKind);
    n.status = U8At(packet, kOffNotifyStatus);
    n.frameIndex = U32At(packet, kOffNotifyFrameIndex);
    return n;
}

// ---------------------------------------------------------------- adapter side

namespace {
Packet NewReply(std::uint8_t kind, std::uint8_t status, std::size_t computed) {
    Packet p = NewPacket(computed);
    bytes::PutU8(p, kOffReplyType, kind);
    bytes::PutU8(p, kOffReplyStatus, status);
    return p;
}
}  // namespace

Packet BuildMonitorPnp(std::uint8_t statusMask) {
    return NewReply(kNotifyMonitorPnp, statusMask, kNotificationSize);
}

Packet BuildFrameAck(std::uint32_t frameIndex) {
    Packet p = NewReply(kNotifyFrameAck, 0, kNotificationSize);
    bytes::PutU32(p, kOffNotifyFrameIndex, frameIndex);
    return p;
}

Packet BuildKeepAlive() {
    return NewReply(kNotifyFrameAck, kAckIgnore, kNotificationSize);
}

Packet BuildStatusReply(std::uint8_t dataType, std::uint8_t status) {
    return NewReply(dataType, status, kHeaderSize);
}

Packet BuildEdidReply(std::uint8_t portBit, std::uint8_t bError, std::uint32_t sizeField,
                      ConstBytes edid) {
    Packet p = NewReply(type::kEdidQuery, bError, kOffEdidData + edid.size());
    bytes::PutU32(p, kOffEdidSize, sizeField);
    bytes::PutU8(p, kOffEdidPort, portBit);
    bytes::PutBytes(p, kOffEdidData, edid);
    return p;
}

Packet BuildVersionReply(std::string_view firmwareVersion) {
    const std::size_t text =
        std::min(firmwareVersion.size(), kVersionReplyBuffer - kOffVersionText - 1);
    Packet p = NewReply(type::kVersionQuery, kVersionFirmware,
                        std::max(kHeaderSize, kOffVersionText + text + 1));
    bytes::PutBytes(p, kOffVersionText, bytes::AsBytes(firmwareVersion.substr(0, text)));
    return p;
}

Packet BuildLayoutReply(std::uint32_t layoutVersion) {
    Packet p = NewReply(type::kVersionQuery, kVersionLayout, kHeaderSize);
    bytes::PutU32(p, kOffLayoutVersion, layoutVersion);
    return p;
}

Packet BuildCapsReply(ConstBytes caps) {
    Packet p = NewReply(type::kCapsQuery, 0, kOffCapsBlock + kCapsBlockSize);
    bytes::PutBytes(p, kOffCapsBlock, caps.first(std::min(caps.size(), kCapsBlockSize)));
    return p;
}

Packet BuildSromReply(std::uint8_t op, std::uint32_t address, bool done, ConstBytes data) {
    Packet p = NewPacket(kOffSromData + data.size());
    bytes::PutU8(p, kOffReplyType, type::kSerialRom);
    bytes::PutU8(p, kOffDataType, type::kSerialRom);
    bytes::PutU8(p, kOffSromOp, op);
    bytes::PutU32(p, kOffSromAddress, address);
    bytes::PutU32(p, kOffSromLength, static_cast<std::uint32_t>(data.size()));
    bytes::PutU8(p, kOffSromStatus, done ? kSromDone : 0);
    bytes::PutBytes(p, kOffSromData, data);
    return p;
}

}  // namespace orv::adapter
