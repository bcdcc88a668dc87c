// The frame packet: the fields a frame packet adds to the common packet header
// (bytes 16..47), and the 32-byte CodecHeader that opens its picture.
//
// Frame packet, as the service writes it for its own pictures:
//   16..19 ControlWord 0x20000004, bit 28 = the monitor's screen index & 1
//   20     packet type 0 (frame picture)
//   21     3
//   22..25 FrameIndex (0 outside the frame path)
//   26..29 picture length: CodecHeader plus data
//   30     0x11
//   31..47 zero
//   48..   the picture
//
// CodecHeader (all u32):
//   0 CodecType, 4 y, 8 x, 12 height, 16 width, 20/24/28 part 1/2/3 lengths.
// The data follows at byte 32: part 1, part 2, part 3 back to back; the picture
// length is 32 + the three part lengths.
//
// The offsets are in packet_header.h with every other layout; this header
// adds the picture formats, the CodecHeader value and the frame packet
// writer and reader. Pure functions over caller buffers, through the
// bounds-checked helpers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/bytes.h"
#include "protocol/adapter/packet_header.h"

namespace orv::adapter {

// The picture formats, as written in the CodecHeader.
enum CodecType : std::uint32_t {
    kCodecRaw = 0,
    kCodecPlaneDelta = 1,
    kCodecCache = 2,
    kCodecPredictive = 4,
    kCodecJpeg = 8,
    kCodecYuv = 16,
};

// The codes that select an encoder.
enum CompressionCode : std::uint32_t {
    kCompressJpegFromYuv = 224,
    kCompressCache = 226,
    kCompressPredictive = 227,
    kCompressYuv = 228,
    kCompressRaw = 254,
};

struct CodecHeader {
    std::uint32_t codecType = 0;
    std::uint32_t y = 0;
    std::uint32_t x = 0;
    std::uint32_t height = 0;
    std::uint32_t width = 0;
    std::array<std::uint32_t, 3> parts{};

    // 32 + the part lengths, in 64 bits so that corrupt lengths cannot wrap.
    std::uint64_t PictureLength() const {
        return kCodecHeaderSize + std::uint64_t{parts[0]} + parts[1] + parts[2];
    }
};

[[nodiscard]] inline bool WriteCodecHeader(bytes::MutBytes out, const CodecHeader& h) {
    if (out.size() < kCodecHeaderSize) return false;
    bytes::PutU32(out, kCodecOffType, h.codecType);
    bytes::PutU32(out, kCodecOffY, h.y);
    bytes::PutU32(out, kCodecOffX, h.x);
    bytes::PutU32(out, kCodecOffHeight, h.height);
    bytes::PutU32(out, kCodecOffWidth, h.width);
    for (std::size_t i = 0; i < 3; ++i) bytes::PutU32(out, kCodecOffPart1 + 4 * i, h.parts[i]);
    return true;
}

// False when `in` is shorter than a CodecHeader.
[[nodiscard]] inline bool ReadCodecHeader(bytes::ConstBytes in, CodecHeader& h) {
    bytes::ByteReader r(in);
    h.codecType = r.U32();
    h.y = r.U32();
    h.x = r.U32();
    h.height = r.U32();
    h.width = r.U32();
    for (auto& p : h.parts) p = r.U32();
    return r.Ok();
}

// Writes bytes 0..47 of a frame packet whose picture of `pictureLength` bytes
// is already at byte 48: ControlWord 0x20000004 with bit 28 = the screen
// index's lowest bit, type 0, byte 21 = 3, the frame index (0 outside the
// frame path), the picture length, byte 30 = 17. Returns the packet length
// (the 512 rule applied; the extra byte, when there is one, is set to 0), or
// 0 when `packet` cannot hold the header, the picture and the extra byte.
[[nodiscard]] inline std::uint32_t WriteFramePacketHeader(bytes::MutBytes packet,
                                                          std::uint32_t pictureLength,
                                                          unsigned screenIndex,
                                                          std::uint32_t frameIndex = 0) {
    const std::uint32_t length = PacketLength(kHeaderSize + std::size_t{pictureLength});
    if (packet.size() < length) return 0;
    if (length > kHeaderSize + pictureLength) packet[length - 1] = 0;
    bytes::ByteWriter w(packet);
    w.Bytes(bytes::AsBytes(kMagic));
    w.U32(length);
    w.U32(WithScreenBit(kControlWordFrame, static_cast<int>(screenIndex)));
    w.U8(type::kFrame);
    w.U8(kFrameKindValue);
    w.U32(frameIndex);
    w.U32(pictureLength);
    w.U8(kFrameMarkValue);
    w.Fill(kHeaderSize - w.Pos(), 0);
    return w.Ok() ? length : 0;
}

// The picture of a frame packet: bytes 48.. up to the picture length field.
// An empty span when the packet is too short for its header or its picture.
inline bytes::ConstBytes FramePicture(bytes::ConstBytes packet) {
    std::uint32_t pictureLength = 0;
    if (!HasMagic(packet) || !bytes::GetU32(packet, kOffFramePictureLen, pictureLength)) return {};
    return bytes::Slice(packet, kHeaderSize, pictureLength);
}

}  // namespace orv::adapter
