#include "sim/adapter/frame_decode.h"

#include "codec/decode/picture_decoder.h"
#include "protocol/adapter/packet_header.h"

namespace orv::sim {
namespace {

bool KnownCodecType(std::uint32_t t) {
    return t == 0 || t == 1 || t == 2 || t == 4 || t == 8 || t == 16;
}

}  // namespace

bool DecodeFramePicture(MonitorPicture& monitor, std::uint32_t frameIndex,
                        bytes::ConstBytes picture, std::string* error, bool decodePixels) {
    auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    if (picture.empty()) return true;
    bytes::ByteReader r(picture);
    const std::uint32_t codecType = r.U32();
    const std::uint32_t y = r.U32();
    const std::uint32_t x = r.U32();
    const std::uint32_t height = r.U32();
    const std::uint32_t width = r.U32();
    const std::uint64_t parts = std::uint64_t{r.U32()} + r.U32() + r.U32();
    if (!r.Ok()) return fail("picture shorter than its CodecHeader");
    if (!KnownCodecType(codecType)) return fail("unknown CodecType " + std::to_string(codecType));
    if (width == 0 || height == 0) return fail("empty picture rectangle");
    if (monitor.width != 0 &&
        (std::uint64_t{x} + width > monitor.width || std::uint64_t{y} + height > monitor.height))
        return fail("picture rectangle leaves the " + std::to_string(monitor.width) + "x" +
                    std::to_string(monitor.height) + " screen");
    if (adapter::kCodecHeaderSize + parts > picture.size())
        return fail("CodecHeader parts (" + std::to_string(parts) +
                    " bytes) overrun the picture of " + std::to_string(picture.size()));
    if (codecType == 0) {
        const std::uint64_t expected = std::uint64_t{width} * height * (monitor.bitsPerPixel / 8);
        if (parts != expected)
            return fail("raw picture holds " + std::to_string(parts) + " bytes, " +
                        std::to_string(expected) + " expected");
    }
    monitor.backFrameIndex = frameIndex;
    ++monitor.pictures;
    // Before its first topology the screen has no mode to draw into.
    if (!decodePixels || monitor.width == 0 || monitor.height == 0) return true;
    const std::size_t bytes = std::size_t{monitor.width} * monitor.height * 4;
    if (monitor.back.size() != bytes) monitor.back.assign(bytes, 0);
    const decode::Framebuffer fb{monitor.back, monitor.width, monitor.height,
                                 std::uint32_t{monitor.width} * 4};
    const decode::DecodeStatus status = decode::DecodePicture(picture, fb);
    if (status != decode::DecodeStatus::kOk)
        return fail(std::string("picture does not decode: ") + decode::DecodeStatusText(status));
    return true;
}

void ShowFrame(MonitorPicture& monitor) {
    monitor.front = monitor.back;
    monitor.frontFrameIndex = monitor.backFrameIndex;
}

}  // namespace orv::sim
