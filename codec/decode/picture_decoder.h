// Decoders for every frame picture format: a picture (CodecHeader + data, see
// protocol/adapter/frame_packet.h) is decoded into a caller-owned 32-bit BGRX
// framebuffer at the picture's x/y.
//
// Every input is treated as untrusted: a truncated or corrupt picture, or one
// that does not lie inside the framebuffer, gives an error status and never
// reads or writes outside the buffers. On an error the picture's rectangle may
// be partly written. The lossless coders restore bytes B, G and R and leave X
// untouched; raw pictures copy all four bytes; JPEG and YUV pictures write
// X = 0xFF.
//
// Pure functions, no shared state: any thread, nothing blocks.
#pragma once

#include <cstdint>

#include "common/bytes.h"

namespace orv::decode {

enum class DecodeStatus {
    kOk,
    kTruncated,    // the data ends before the picture does
    kCorrupt,      // the data is not a valid picture of its format
    kUnsupported,  // unknown CodecType, or a raw depth other than 32 bits
    kOutside,      // the picture's rectangle is not inside the framebuffer
};

const char* DecodeStatusText(DecodeStatus status);

// A caller-owned BGRX framebuffer: `height` rows of `width` pixels at
// `stride` bytes.
struct Framebuffer {
    bytes::MutBytes pixels;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t stride = 0;
};

// Decodes `picture` into `fb` at the picture's x/y. Bytes after the picture
// length are ignored.
DecodeStatus DecodePicture(bytes::ConstBytes picture, const Framebuffer& fb);

}  // namespace orv::decode
