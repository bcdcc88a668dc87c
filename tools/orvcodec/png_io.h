// PNG files as BGRX pictures, through libpng. Pure functions over files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv::orvcodec {

struct Image {
    std::vector<std::uint8_t> bgrx;  // rows of 4 * width bytes
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Reads any PNG (palette, grey, 16-bit and interlaced ones are converted) into
// BGRX; X is the alpha when the file has one, else 0xFF. False with `error`
// set when the file cannot be read.
bool ReadPng(const std::string& path, Image& image, std::string& error);

// Writes an 8-bit RGB PNG of a BGRX picture (X is dropped).
bool WritePng(const std::string& path, const Image& image, std::string& error);

}  // namespace orv::orvcodec
