// The service's own pictures, generated at build time and compiled in.
//
//   Resource("RGB_Binary", 125)  the 1280 x 720 identification background,
//                                32-bit pixels, 3,686,400 bytes
//   DigitGlyph(d)                the 200 x 400 glyph of digit d (0..9), 32-bit
//                                pixels; 0xFF0000A0 marks transparent pixels
//
// Read-only data: any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace orv::resources {

inline constexpr int kBackgroundWidth = 1280;
inline constexpr int kBackgroundHeight = 720;
inline constexpr int kGlyphWidth = 200;
inline constexpr int kGlyphHeight = 400;
inline constexpr std::uint32_t kGlyphTransparent = 0xFF0000A0u;
inline constexpr int kBackgroundResourceId = 125;

// The resource of that type and id, or an empty span when there is none.
std::span<const std::uint8_t> Resource(std::string_view type, int id);

// The glyph of `digit`, or an empty span when digit is not 0..9.
std::span<const std::uint8_t> DigitGlyph(int digit);

}  // namespace orv::resources
