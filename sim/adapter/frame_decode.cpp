#include "sim/adapter/frame_decode.h"

#include "codec/decode/picture_decoder.h"
#include "protocol/adapter/packet_header.h"

namespace orv::sim {
namespace {

bool KnownCodecType(std::uint32_t t) {
    return t == 0 || t == 1 || t == 2 || t == 4 || t == 8 || t == 16;
}

// A frame index carries the frame number in its upper 24 bits.
constexpr std::uint32_t kNumberMask = 0xFFFFFF;

std::uint32_t NumberOf(std::uint32_t frameIndex) {
    return frameIndex >> 8;
}

// Whether frame number `a` comes after `b`, across a wrap of the 24 bits.
bool After(std::uint32_t a, std::uint32_t b) {
    const std::uint32_t ahead = (a - b) & kNumberMask;
    return ahead != 0 && ahead < (kNumberMask + 1) / 2;
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
    // The back buffer's frame still waits for its show-frame command: keep
    // its picture before the next frame is drawn over it.
    if (monitor.showCommands && frameIndex != 0 && monitor.backFrameIndex != 0 &&
        monitor.backFrameIndex != monitor.frontFrameIndex &&
        NumberOf(monitor.backFrameIndex) != NumberOf(frameIndex)) {
        monitor.unshown.push_back({monitor.backFrameIndex, monitor.back});
        if (monitor.unshown.size() > kMaxUnshownPictures) monitor.unshown.pop_front();
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
    monitor.unshown.clear();
}

void ShowFrame(MonitorPicture& monitor, std::uint32_t frameNumber) {
    monitor.showCommands = true;
    const std::uint32_t wanted = frameNumber & kNumberMask;
    if (!After(NumberOf(monitor.backFrameIndex), wanted)) {
        ShowFrame(monitor);
        return;
    }
    // The back buffer is ahead: the newest unshown picture not after the
    // wanted frame, if any.
    auto shown = monitor.unshown.end();
    for (auto it = monitor.unshown.begin(); it != monitor.unshown.end(); ++it)
        if (!After(NumberOf(it->frameIndex), wanted)) shown = it;
    if (shown == monitor.unshown.end()) return;
    monitor.front = std::move(shown->pixels);
    monitor.frontFrameIndex = shown->frameIndex;
    monitor.unshown.erase(monitor.unshown.begin(), shown + 1);
}

}  // namespace orv::sim
