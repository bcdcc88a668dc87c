// Encode -> decode round trips of the lossless picture coders: whatever the
// service encodes, the simulator must decode to the same B, G and R bytes
// (and X too for raw pictures).
//
// Input: u8 width - 1, u8 height - 1, u8 extra stride bytes, u8 mode, then
// pixel data. Mode bit 0 clear: the data's bytes are the picture's bytes,
// repeated as needed. Set: the first 12 bytes are four BGR colours and every
// further byte gives four pixels (two bits each) of those colours, the
// stripes, runs and repeats that the coders' run and cache paths see.
#pragma once

#include <array>
#include <cstring>
#include <vector>

#include "codec/decode/picture_decoder.h"
#include "codec/encode/picture_encoder.h"
#include "fuzz_input.h"
#include "protocol/adapter/frame_packet.h"

namespace orv::fuzz {

inline void RoundTrip(const std::uint8_t* data, std::size_t size, std::uint32_t codecType) {
    Input in(data, size);
    const std::uint32_t w = in.Byte() + 1u;
    const std::uint32_t h = in.Byte() + 1u;
    const std::uint32_t stride = 4 * w + in.Byte();
    const bool palette = (in.Byte() & 1) != 0;
    std::vector<std::uint8_t> px(std::size_t{stride} * h, 0);
    if (palette) {
        std::array<std::uint8_t, 12> colours{};
        const bytes::ConstBytes c = in.Take(colours.size());
        std::memcpy(colours.data(), c.data(), c.size());
        const bytes::ConstBytes indices = in.Rest();
        for (std::size_t i = 0; i < std::size_t{w} * h; ++i) {
            const std::uint8_t b = indices.empty() ? 0 : indices[i / 4 % indices.size()];
            const unsigned colour = (b >> (2 * (i % 4))) & 3;
            std::uint8_t* p = px.data() + i / w * stride + 4 * (i % w);
            std::memcpy(p, colours.data() + 3 * colour, 3);
        }
    } else if (!in.Empty()) {
        const bytes::ConstBytes bytes = in.Rest();
        for (std::size_t i = 0; i < px.size(); ++i) px[i] = bytes[i % bytes.size()];
    }
    codec::PictureDescriptor d;
    d.pixels = px;
    d.width = static_cast<std::uint16_t>(w);
    d.height = static_cast<std::uint16_t>(h);
    d.stride = stride;
    codec::PictureEncoder encoder;
    std::vector<std::uint8_t> picture(codec::MaxPictureLengthForType(d, codecType));
    std::uint32_t length = 0;
    if (encoder.EncodeType(d, codecType, picture, length) != 1 || length == 0) __builtin_trap();
    picture.resize(length);

    std::vector<std::uint8_t> fb(std::size_t{4} * w * h, 0);
    if (decode::DecodePicture(picture, {fb, w, h, 4 * w}) != decode::DecodeStatus::kOk)
        __builtin_trap();
    const unsigned compared = codecType == adapter::kCodecRaw ? 4 : 3;
    for (std::size_t i = 0; i < std::size_t{w} * h; ++i) {
        if (std::memcmp(fb.data() + 4 * i, px.data() + i / w * stride + 4 * (i % w), compared) != 0)
            __builtin_trap();
    }
}

}  // namespace orv::fuzz
