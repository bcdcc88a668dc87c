#include "sim/adapter/packet_check.h"

#include <cstdio>

#include "sim/adapter/sim_config.h"

namespace orv::sim {
namespace {

namespace t = adapter::type;

enum class Shape { kControl43, kHeader48, kSerialRom, kFrame, kFree, kUnknown };

Shape ShapeOf(std::uint8_t dataType) {
    switch (dataType) {
        case t::kOutputPower:
        case t::kPowerOn:
        case t::kViewMode62:
        case t::kViewGeometry63:
        case t::kViewMode64:
        case t::kViewGeometry65:
        case t::kCommit:
        case t::kViewGeometry76:
            return Shape::kControl43;
        case t::kTopology:
        case t::kShowFrame:
        case t::kEdidQuery:
        case t::kVersionQuery:
        case t::kCapsQuery:
            return Shape::kHeader48;
        case t::kSerialRom:
            return Shape::kSerialRom;
        case t::kFrame:
        case t::kFrameAlt:
            return Shape::kFrame;
        case t::kOther53:
        case t::kOther54:
        case t::kOther57:
        case t::kOther58:
            return Shape::kFree;
        default:
            return Shape::kUnknown;
    }
}

std::string Format(const char* fmt, unsigned a, unsigned b = 0, unsigned c = 0) {
    char line[160];
    std::snprintf(line, sizeof line, fmt, a, b, c);
    return line;
}

std::uint32_t U32(bytes::ConstBytes b, std::size_t o) {
    std::uint32_t v = 0;
    bytes::GetU32(b, o, v);
    return v;
}

std::string CheckSerialRom(bytes::ConstBytes p) {
    const std::uint8_t op = p[adapter::kOffSromOp];
    const std::uint32_t length = U32(p, adapter::kOffSromLength);
    if (p[adapter::kOffSromStatus] != adapter::kSromRequestMark)
        return Format("serial-ROM request byte 30 is %u, not 255", p[adapter::kOffSromStatus]);
    if (op == adapter::kSromRead) {
        if (p.size() != adapter::kHeaderSize &&
            p.size() != adapter::PacketLength(adapter::kHeaderSize + std::size_t{length}))
            return Format("serial-ROM read of %u bytes sent in %u bytes", length,
                          unsigned(p.size()));
        return {};
    }
    if (op == adapter::kSromWrite) {
        if (p.size() != adapter::PacketLength(adapter::kHeaderSize + std::size_t{length}))
            return Format("serial-ROM write of %u bytes sent in %u bytes", length,
                          unsigned(p.size()));
        return {};
    }
    return Format("serial-ROM operation %u unknown", op);
}

}  // namespace

std::optional<Topology> ReadTopology(bytes::ConstBytes p, std::string* violation) {
    const Topology next{adapter::ReadScreenEntry(p, adapter::kOffScreenEntry0),
                        adapter::ReadScreenEntry(p, adapter::kOffScreenEntry1)};
    for (int slot = 0; slot < 2; ++slot) {
        const adapter::ScreenEntry& e = next[slot];
        if (e.Empty()) continue;
        if (e.screenIndex != slot || !IsPortBit(e.portBit) || e.modeClass > 2 || e.width == 0 ||
            e.height == 0 || e.width > kMaxModeSide || e.height > kMaxModeSide ||
            (e.bitsPerPixel != 32 && e.bitsPerPixel != 16 && e.bitsPerPixel != 8)) {
            char what[160];
            std::snprintf(what, sizeof what,
                          "topology entry %d malformed: screen %u, port 0x%02X, %ux%u, %u bits",
                          slot, e.screenIndex, e.portBit, e.width, e.height, e.bitsPerPixel);
            if (violation) *violation = what;
            return std::nullopt;
        }
    }
    return next;
}

std::optional<int> FrameTarget(bytes::ConstBytes packet, const Topology& topology) {
    const std::uint32_t frameIndex = U32(packet, adapter::kOffFrameIndex);
    const int screenBit =
        (U32(packet, adapter::kOffControlWord) & adapter::kControlWordSecondOutput) ? 1 : 0;
    if (frameIndex == 0) {
        if (topology[screenBit].Empty()) return std::nullopt;
        return screenBit;
    }
    const std::uint8_t port = static_cast<std::uint8_t>(frameIndex);
    for (int slot = 0; slot < 2; ++slot) {
        const adapter::ScreenEntry& e = topology[slot];
        if (!e.Empty() && e.portBit == port) {
            if ((e.screenIndex & 1) != screenBit) return std::nullopt;
            return slot;
        }
    }
    return std::nullopt;
}

std::string CheckOutPacket(std::uint8_t endpoint, bytes::ConstBytes p, const Topology& topology) {
    if (p.size() <= adapter::kOffDataType)
        return Format("transfer of %u bytes is too short for a packet", unsigned(p.size()));
    if (!adapter::HasMagic(p)) return "bad magic";
    const std::uint32_t length = U32(p, adapter::kOffLength);
    if (length != p.size())
        return Format("length field %u does not match the transfer of %u bytes", length,
                      unsigned(p.size()));
    if (p.size() % adapter::kUsbPacketSize == 0)
        return Format("length %u is a multiple of 512", unsigned(p.size()));
    const std::uint8_t dataType = p[adapter::kOffDataType];
    const Shape shape = ShapeOf(dataType);
    if (shape == Shape::kUnknown) return Format("unknown data type %u", dataType);
    if (endpoint != adapter::OutPipeFor(dataType))
        return Format("data type %u on pipe 0x%02X, belongs on 0x%02X", dataType, endpoint,
                      adapter::OutPipeFor(dataType));
    switch (shape) {
        case Shape::kControl43:
            if (p.size() != adapter::kControlCommandSize)
                return Format("data type %u sent in %u bytes, not 43", dataType,
                              unsigned(p.size()));
            return {};
        case Shape::kHeader48:
            if (p.size() != adapter::kHeaderSize)
                return Format("data type %u sent in %u bytes, not 48", dataType,
                              unsigned(p.size()));
            return {};
        case Shape::kSerialRom:
            if (p.size() < adapter::kHeaderSize)
                return Format("serial-ROM request of %u bytes", unsigned(p.size()));
            return CheckSerialRom(p);
        case Shape::kFrame: {
            if (p.size() < adapter::kHeaderSize)
                return Format("frame packet of %u bytes", unsigned(p.size()));
            const std::uint32_t picture = U32(p, adapter::kOffFramePictureLen);
            if (p.size() != adapter::PacketLength(adapter::kHeaderSize + std::size_t{picture}))
                return Format("frame packet of %u bytes says its picture has %u",
                              unsigned(p.size()), picture);
            if (!FrameTarget(p, topology))
                return Format(
                    "frame packet (index 0x%X, screen bit %u) for a monitor not in the topology",
                    U32(p, adapter::kOffFrameIndex), (U32(p, adapter::kOffControlWord) >> 28) & 1);
            return {};
        }
        case Shape::kFree:
        case Shape::kUnknown:
            break;
    }
    return {};
}

}  // namespace orv::sim
