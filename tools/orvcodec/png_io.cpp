#include "tools/orvcodec/png_io.h"

#include <png.h>

#include <cstring>

namespace orv::orvcodec {

bool ReadPng(const std::string& path, Image& image, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, path.c_str()) == 0) {
        error = path + ": " + png.message;
        return false;
    }
    const bool hasAlpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = PNG_FORMAT_BGRA;
    image.width = png.width;
    image.height = png.height;
    image.bgrx.assign(PNG_IMAGE_SIZE(png), 0);
    if (png_image_finish_read(&png, nullptr, image.bgrx.data(), 0, nullptr) == 0) {
        error = path + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    if (!hasAlpha) {
        for (std::size_t i = 3; i < image.bgrx.size(); i += 4) image.bgrx[i] = 0xFF;
    }
    return true;
}

bool WritePng(const std::string& path, const Image& image, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    // Write BGR only: the X byte is not a transparency.
    std::vector<std::uint8_t> bgr;
    bgr.reserve(std::size_t{image.width} * image.height * 3);
    for (std::size_t i = 0; i + 3 < image.bgrx.size(); i += 4) {
        bgr.insert(bgr.end(), {image.bgrx[i], image.bgrx[i + 1], image.bgrx[i + 2]});
    }
    png.format = PNG_FORMAT_BGR;
    if (png_image_write_to_file(&png, path.c_str(), 0, bgr.data(), 0, nullptr) == 0) {
        error = path + ": " + png.message;
        return false;
    }
    return true;
}

}  // namespace orv::orvcodec
