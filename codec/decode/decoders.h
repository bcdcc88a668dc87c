// The per-format decoders behind DecodePicture. Each is given the picture's
// header, its parts (each inside the picture) and the picture's rectangle in
// the framebuffer, already checked to lie inside it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/decode/picture_decoder.h"
#include "common/bytes.h"
#include "protocol/adapter/frame_packet.h"

namespace orv::decode {

struct Target {
    std::uint8_t* origin;  // the picture's top-left pixel in the framebuffer
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t stride;
};

using PartSpans = std::array<bytes::ConstBytes, 3>;

DecodeStatus DecodeRaw(const PartSpans& parts, const Target& t);
DecodeStatus DecodeJpeg(const PartSpans& parts, const Target& t);
DecodeStatus DecodeYuv(const PartSpans& parts, const Target& t);
DecodeStatus DecodePlaneDelta(const PartSpans& parts, const Target& t);
DecodeStatus DecodeCache(const PartSpans& parts, const Target& t);
DecodeStatus DecodePredictive(const PartSpans& parts, const Target& t);

// LSB-first bit access to a part, at any bit position; bits past the end read
// as 0 and Has() tells whether they exist.
class BitReader {
public:
    explicit BitReader(bytes::ConstBytes data) : data_(data), bits_(data.size() * 8) {}

    // n <= 32 bits at bit position `pos`.
    std::uint32_t Peek(std::size_t pos, unsigned n) const {
        const std::size_t byte = pos >> 3;
        std::uint64_t word = 0;
        if (bytes::Fits(data_.size(), byte, 8)) {
            word = bytes::LoadLE<std::uint64_t>(data_.data() + byte);
        } else {
            for (std::size_t i = 0; i < 8 && byte + i < data_.size(); ++i) {
                word |= std::uint64_t{data_[byte + i]} << (8 * i);
            }
        }
        return static_cast<std::uint32_t>((word >> (pos & 7)) & ((std::uint64_t{1} << n) - 1));
    }
    bool Has(std::size_t pos, unsigned n) const { return pos <= bits_ && n <= bits_ - pos; }

private:
    bytes::ConstBytes data_;
    std::size_t bits_;
};

}  // namespace orv::decode
