// PNG files as BGRX pictures, through libpng. Pure functions over files and
// bytes in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace orv::png {

struct Image {
    std::vector<std::uint8_t> bgrx;  // rows of 4 * width bytes
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The largest picture ReadPng takes: a frame picture's sides are 16-bit, and
// 64 Mi pixels (256 MiB of BGRX) is far above any wall's monitor.
inline constexpr std::uint32_t kMaxPngSide = 65535;
inline constexpr std::uint64_t kMaxPngPixels = std::uint64_t{1} << 26;

// Reads any PNG (palette, grey, 16-bit and interlaced ones are converted) into
// BGRX; X is the alpha when the file has one, else 0xFF. False with `error`
// set when the file cannot be read or its header declares a picture larger
// than the bounds above (refused before anything is allocated for it).
bool ReadPng(const std::string& path, Image& image, std::string& error);
// The same from the bytes of a PNG file in memory.
bool ReadPng(bytes::ConstBytes data, Image& image, std::string& error);

// Writes an 8-bit RGB PNG of a BGRX picture (X is dropped).
bool WritePng(const std::string& path, const Image& image, std::string& error);

}  // namespace orv::png
