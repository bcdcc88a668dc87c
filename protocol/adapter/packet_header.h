// The 48-byte header that opens every adapter packet (requests, replies,
// notifications, frame packets), with its named offsets.
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
// Pure functions over caller buffers, through the bounds-checked helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/bytes.h"

namespace orv::adapter {

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

// USB transfers end on a short packet; a transfer that is an exact multiple of
// this size would need a zero-length packet, which the adapters do not expect.
inline constexpr std::size_t kUsbPacketSize = 512;

// The length a packet of `computed` bytes is sent with (the 512 rule).
constexpr std::uint32_t PacketLength(std::size_t computed) {
    return static_cast<std::uint32_t>(computed % kUsbPacketSize == 0 ? computed + 1 : computed);
}

// Writes the magic and the length field. False when `packet` is shorter
// than the header.
inline bool WriteMagicAndLength(bytes::MutBytes packet, std::uint32_t length) {
    return bytes::PutBytes(packet, 0, bytes::AsBytes(kMagic)) &&
           bytes::PutU32(packet, kOffLength, length);
}

// True when the first 12 bytes are the magic.
inline bool HasMagic(bytes::ConstBytes packet) {
    const bytes::ConstBytes m = bytes::Slice(packet, 0, kMagicSize);
    return !m.empty() && std::string_view(reinterpret_cast<const char*>(m.data()), m.size()) == kMagic;
}

}  // namespace orv::adapter
