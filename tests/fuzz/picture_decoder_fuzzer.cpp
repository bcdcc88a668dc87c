// The frame picture decoders, as the simulator runs them on what the service
// sends: a picture into a framebuffer with a margin, which must stay as it
// was. Input: u8 framebuffer width - 1, u8 height - 1, then the picture.
#include <vector>

#include "codec/decode/picture_decoder.h"
#include "fuzz_input.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint32_t width = in.Byte() + 1u;
    const std::uint32_t height = in.Byte() + 1u;
    constexpr std::uint32_t kMargin = 8;  // bytes after each row, and one row below
    const std::uint32_t stride = 4 * width + kMargin;
    std::vector<std::uint8_t> fb(std::size_t{stride} * (height + 1), 0x5A);
    decode::DecodePicture(in.Rest(), {fb, width, height, stride});
    for (std::uint32_t y = 0; y <= height; ++y) {
        for (std::uint32_t x = y == height ? 0 : 4 * width; x < stride; ++x) {
            if (fb[std::size_t{y} * stride + x] != 0x5A) __builtin_trap();
        }
    }
    return 0;
}
