#include "common/png/png_io.h"

#include <png.h>

#include <cstring>
#include <string>

namespace orv::png {

namespace {

// After png_image_begin_read_*: checks the size, then decodes into `image`.
// `origin` names the file in errors.
bool FinishRead(png_image& png, const std::string& origin, Image& image, std::string& error) {
    if (png.width > kMaxPngSide || png.height > kMaxPngSide ||
        std::uint64_t{png.width} * png.height > kMaxPngPixels) {
        error = origin + ": " + std::to_string(png.width) + "x" + std::to_string(png.height) +
                " pixels is larger than a picture can be";
        png_image_free(&png);
        return false;
    }
    const bool hasAlpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = PNG_FORMAT_BGRA;
    image.width = png.width;
    image.height = png.height;
    image.bgrx.assign(std::size_t{4} * png.width * png.height, 0);
    if (png_image_finish_read(&png, nullptr, image.bgrx.data(), 0, nullptr) == 0) {
        error = origin + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    if (!hasAlpha) {
        for (std::size_t i = 3; i < image.bgrx.size(); i += 4) image.bgrx[i] = 0xFF;
    }
    return true;
}

}  // namespace

bool ReadPng(const std::string& path, Image& image, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, path.c_str()) == 0) {
        error = path + ": " + png.message;
        return false;
    }
    return FinishRead(png, path, image, error);
}

bool ReadPng(bytes::ConstBytes data, Image& image, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&png, data.data(), data.size()) == 0) {
        error = std::string("PNG data: ") + png.message;
        return false;
    }
    return FinishRead(png, "PNG data", image, error);
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

}  // namespace orv::png
