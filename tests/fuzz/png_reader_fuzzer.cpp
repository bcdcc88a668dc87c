// PNG files as orvcodec and the simulator read them.
#include <string>

#include "common/png/png_io.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    png::Image image;
    std::string error;
    if (png::ReadPng({data, size}, image, error) &&
        image.bgrx.size() != std::size_t{4} * image.width * image.height)
        __builtin_trap();
    return 0;
}
