// The protocol checks the simulated adapter applies to every bulk OUT
// transfer before acting on it: the magic, the length field against the
// transfer, the 512 rule, a known data type on its own pipe, the length each
// type must have, and for frame packets a target monitor that the current
// topology shows.
//
// Pure functions, any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/bytes.h"
#include "protocol/adapter/packets.h"

namespace orv::sim {

using Topology = std::array<adapter::ScreenEntry, 2>;

// Empty when the transfer is a well-formed packet for `endpoint`, else a
// one-line description of the first violation found.
std::string CheckOutPacket(std::uint8_t endpoint, bytes::ConstBytes transfer,
                           const Topology& topology);

// The two screen entries of a topology packet that CheckOutPacket passed, or
// nothing (and `violation`) when one cannot be shown: a screen index other
// than its slot, a port that is not a port bit, a mode class above 2, a side
// of 0 or above kMaxModeSide, or other than 8, 16 or 32 bits per pixel.
std::optional<Topology> ReadTopology(bytes::ConstBytes packet, std::string* violation);

// The screen slot (0 or 1) a frame packet is for: the slot whose entry holds
// the port bit at byte 22, or, for a packet outside the frame path (frame
// index 0), the slot named by ControlWord bit 28. Nothing when that slot is
// empty or shows another port, or bit 28 disagrees with the slot.
std::optional<int> FrameTarget(bytes::ConstBytes packet, const Topology& topology);

}  // namespace orv::sim
