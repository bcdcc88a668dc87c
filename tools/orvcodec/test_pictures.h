// Generated BGRX pictures for the orvcodec tool, the codec tests and the
// benchmarks: no picture files are kept in the tree.
//
//   constant   one colour
//   gradient   smooth horizontal and vertical ramps
//   desktop    a flat background, windows with title bars and edges, rows of
//              text-like glyphs in a few colours
//   photo      smooth shapes with fine texture and sensor-like noise
//   noise      uniformly random bytes
//   palette    a few frequent values among dozens of rare ones, short runs
//
// Pure functions: any thread.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace orv::orvcodec {

inline constexpr std::string_view kPatternNames[] = {"constant", "gradient", "desktop",
                                                     "photo",    "noise",    "palette"};

// A w x h picture with rows of `stride` bytes (0: 4 * w); bytes between the
// row end and the stride are filled with 0xCD. Empty for an unknown name.
// X bytes are 0xFF.
std::vector<std::uint8_t> MakePattern(std::string_view name, std::uint32_t w, std::uint32_t h,
                                      std::uint32_t stride = 0, std::uint32_t seed = 1);

}  // namespace orv::orvcodec
