// Where a frame packet's picture meets a monitor of the simulator.
//
// DecodeFramePicture is the one seam for picture decoding: today it checks the
// CodecHeader against the picture and the monitor's mode and records which
// frame the back buffer holds; the picture decoders plug in here and write the
// pixels into `back`. ShowFrame puts the requested frame's picture in front.
//
// The host sends a frame's packets before the show-frame command of the frame
// before it, so the back buffer may already hold frame N+1 when the command
// for N arrives. A picture not yet shown is therefore kept (`unshown`) when the
// next frame is decoded over it, and a show-frame command shows the picture of
// its own frame.
//
// Called on the owning adapter's I/O thread only: DecodeFramePicture on a
// picture the thread has taken out of the adapter's state (so the decode runs
// without the state lock), ShowFrame under the state lock.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace orv::sim {

// A decoded picture waiting for its show-frame command.
struct UnshownPicture {
    std::uint32_t frameIndex = 0;
    std::vector<std::uint8_t> pixels;
};

// Unshown pictures kept per monitor at the most (the host keeps no more
// frames in flight); the oldest go first.
inline constexpr std::size_t kMaxUnshownPictures = 8;

struct MonitorPicture {
    std::uint16_t width = 0;  // the screen's mode from the topology; 0 before any
    std::uint16_t height = 0;
    std::uint8_t bitsPerPixel = 32;
    std::vector<std::uint8_t> back;   // 32-bit BGRX pixels, rows top to bottom, once decoded
    std::vector<std::uint8_t> front;  // what the monitor shows
    std::uint32_t backFrameIndex = 0;
    std::uint32_t frontFrameIndex = 0;
    std::uint64_t pictures = 0;          // pictures taken into the back buffer
    std::deque<UnshownPicture> unshown;  // oldest first, each older than `back`
    // Set by the first show-frame command: only then are pictures kept for
    // their command (a host that never sends one costs no copies).
    bool showCommands = false;
};

// `picture`: the packet's bytes 48 onward, as long as its picture length.
// False (and `error`) when the CodecHeader does not fit the picture: an
// unknown codec type, an empty or out-of-screen rectangle, parts longer than
// the picture, or a raw picture of the wrong size. An empty picture (the
// encoder had nothing to write) is accepted and changes nothing.
// With `decodePixels` false the checks are made and the frame recorded, but
// the back buffer's pixels are left as they are (benchmarks of the frame
// pipeline that must not wait for a decoder).
bool DecodeFramePicture(MonitorPicture& monitor, std::uint32_t frameIndex,
                        bytes::ConstBytes picture, std::string* error, bool decodePixels = true);

// The back buffer becomes what the monitor shows (a picture outside the frame
// path, shown as soon as it is decoded); unshown pictures are dropped.
void ShowFrame(MonitorPicture& monitor);

// The show-frame command for `frameNumber`: shows the picture decoded for that
// frame, or else the newest one of an earlier frame, and drops the unshown
// pictures up to it. Nothing changes when every picture held is of a later
// frame. Frame numbers are compared as the 24 bits a frame index carries, so
// they may wrap.
void ShowFrame(MonitorPicture& monitor, std::uint32_t frameNumber);

}  // namespace orv::sim
