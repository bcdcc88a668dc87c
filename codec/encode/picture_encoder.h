// The service's picture encoder set: turns a 32-bit BGRX picture into one of
// the frame picture formats (CodecHeader + data, see
// protocol/adapter/frame_packet.h), and builds the frame packets of the
// service's own pictures.
//
// Every encoder is given the capacity of its output and never writes past it;
// a picture that does not fit, an empty picture, an unusable descriptor and an
// unknown compression code all give an empty result (length 0). Buffers of
// MaxPictureLength() bytes always suffice.
//
// Threads: a PictureEncoder is used by one thread at a time (it owns the
// predictive coder's scratch). No locks, nothing blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/bytes.h"
#include "protocol/adapter/frame_packet.h"

namespace orv::codec {

// What an encoder is given. `pixels` starts at the picture's top-left pixel
// (bytes B, G, R, X in memory order at 32 bits per pixel) and holds `height`
// rows at `stride` bytes. For compression code 224 `pixels` is a whole
// CodecType 16 picture (CodecHeader and planes) of width x height instead.
struct PictureDescriptor {
    bytes::ConstBytes pixels;
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint32_t stride = 0;
    std::uint32_t bitsPerPixel = 32;
    std::uint32_t compressionCode = adapter::kCompressRaw;
    int quality = 99;
};

// The CodecType that a compression code writes; false for codes that name no
// encoder.
[[nodiscard]] bool CodecTypeOf(std::uint32_t compressionCode, std::uint32_t& codecType);

// The largest picture (CodecHeader included) the encoder can produce for `d`
// with its compression code, or with CodecType `codecType` for the second
// form; 0 when nothing would be encoded.
std::size_t MaxPictureLength(const PictureDescriptor& d);
std::size_t MaxPictureLengthForType(const PictureDescriptor& d, std::uint32_t codecType);

class PictureEncoder {
public:
    // Encodes `d` with its compression code into `out` (CodecHeader and
    // data). Returns 1 and sets `length` to the picture length; returns 0 with
    // `length` 0 when nothing was encoded (unknown code, empty or unusable
    // picture, `out` too small).
    [[nodiscard]] int Encode(const PictureDescriptor& d, bytes::MutBytes out,
                             std::uint32_t& length);

    // Runs the entry `codecType` of the encoder table directly (every index
    // without an encoder of its own runs the raw copy and writes CodecType 0).
    [[nodiscard]] int EncodeType(const PictureDescriptor& d, std::uint32_t codecType,
                                 bytes::MutBytes out, std::uint32_t& length);

    // Encodes `d` into a whole frame packet: the picture at byte 48, then the
    // header (ControlWord with the screen bit, FrameIndex 0, the picture
    // length) and the 512 rule. A picture that cannot be encoded gives a
    // packet with picture length 0. Returns the packet length, 0 when
    // `packet` cannot hold the result.
    [[nodiscard]] std::uint32_t EncodeFramePacket(const PictureDescriptor& d, unsigned screenIndex,
                                                  bytes::MutBytes packet);

    // Tests and benchmarks: run the predictive coder on its scalar path only.
    void SetScalarOnly(bool scalarOnly) { scalarOnly_ = scalarOnly; }

private:
    std::vector<std::uint16_t> symbols_;  // predictive coder scratch, sized per picture
    bool scalarOnly_ = false;
};

}  // namespace orv::codec
