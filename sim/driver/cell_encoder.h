// Cuts one cell out of the wall's source picture and encodes it as a whole
// frame packet with the shared picture encoders.
//
// Threads: a CellEncoder is used by one thread at a time (it owns encoder
// scratch). Nothing blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/encode/picture_encoder.h"
#include "common/bytes.h"
#include "sim/driver/frame_source.h"
#include "sim/driver/wall_geometry.h"

namespace orv::driver {

// The compression code a CALG value selects for a wall whose packets must fit
// `room` bytes: 224, 226, 227 and 228 as named; 254 (raw) only when a raw
// packet of a whole cell fits `room`; every other value, 255 (the service
// could not read CALG) among them, gives 224 (JPEG).
std::uint32_t SelectCompression(std::uint32_t calg, const WallGeometry& wall, std::size_t room);

// The packet length of a raw picture of one cell: 48 + 32 + 4 per pixel, and
// the extra byte of the 512 rule.
std::size_t RawPacketLength(const WallGeometry& wall);

class CellEncoder {
public:
    // Encodes cell (column, row) of `source` (the wall's source picture,
    // WallGeometry::SourceWidth x SourceHeight) into `out` as a frame packet
    // with FrameIndex 0 for screen 0 (the service stamps the index, the
    // adapter's send step the screen). When the packet with `code` does not
    // fit `out` (a lossless coder on a busy picture), the cell is encoded
    // with JPEG instead and Fallbacks() counts it. Returns the packet length,
    // 0 when not even that fits.
    std::uint32_t Encode(const Picture& source, const WallGeometry& wall, std::uint32_t column,
                         std::uint32_t row, std::uint32_t code, int quality, bytes::MutBytes out);
    std::uint64_t Fallbacks() const { return fallbacks_; }

private:
    std::uint32_t EncodeWith(const codec::PictureDescriptor& d, bytes::MutBytes out);

    codec::PictureEncoder encoder_;
    std::vector<std::uint8_t> yuv_;  // the planes that JPEG (224) is made from
    std::uint64_t fallbacks_ = 0;
};

}  // namespace orv::driver
