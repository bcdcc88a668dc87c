// The monitor identification picture: the monitor's number in large digits
// over the 1280 x 720 background, 32-bit pixels, rows top to bottom.
//
// Ids below 10 show two digits (7 reads "07"), below 100 two, below 1000
// three, otherwise four. Digit k of n has its left edge at
// x = (1280 - 250 n) / 2 + 250 k and its top at y = 160; glyph pixels equal
// to the transparent key leave the background, all others paint 0xFFFF0000.
//
// Pure functions: any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orv::adapter {

inline constexpr int kDisplayIdWidth = 1280;
inline constexpr int kDisplayIdHeight = 720;
inline constexpr std::size_t kDisplayIdBytes = std::size_t(kDisplayIdWidth) * kDisplayIdHeight * 4;
inline constexpr int kDigitTop = 160;
inline constexpr int kDigitPitch = 250;
inline constexpr std::uint32_t kDigitPaint = 0xFFFF0000u;

struct DisplayIdLayout {
    int count = 0;                // 2, 3 or 4
    std::array<int, 4> digits{};  // the digits drawn, left to right
    std::array<int, 4> left{};    // x of each digit's left edge
};

// The digits of `monitorId` and where they go. count 0 when the id is outside
// 0..9999 (it cannot be drawn).
DisplayIdLayout LayoutDisplayId(int monitorId);

// Composes the picture into `picture` (kDisplayIdBytes). False when the
// background or a glyph is missing, the id cannot be drawn or the buffer is
// too small; `picture` is then unspecified.
bool ComposeDisplayIdPicture(int monitorId, std::span<std::uint8_t> picture);

}  // namespace orv::adapter
