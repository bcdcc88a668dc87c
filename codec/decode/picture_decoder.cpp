#include "codec/decode/picture_decoder.h"

#include "codec/decode/decoders.h"

namespace orv::decode {

const char* DecodeStatusText(DecodeStatus status) {
    switch (status) {
        case DecodeStatus::kOk:
            return "ok";
        case DecodeStatus::kTruncated:
            return "truncated picture";
        case DecodeStatus::kCorrupt:
            return "corrupt picture";
        case DecodeStatus::kUnsupported:
            return "unsupported picture format";
        case DecodeStatus::kOutside:
            return "picture outside the framebuffer";
    }
    return "unknown status";
}

DecodeStatus DecodePicture(bytes::ConstBytes picture, const Framebuffer& fb) {
    adapter::CodecHeader h;
    if (!adapter::ReadCodecHeader(picture, h)) return DecodeStatus::kTruncated;
    if (h.PictureLength() > picture.size()) return DecodeStatus::kTruncated;
    if (h.width == 0 || h.height == 0) return DecodeStatus::kCorrupt;
    // The rectangle must lie inside the framebuffer, and the framebuffer's
    // rows inside its buffer.
    if (std::uint64_t{h.x} + h.width > fb.width || std::uint64_t{h.y} + h.height > fb.height ||
        std::uint64_t{fb.width} * 4 > fb.stride ||
        !bytes::Fits(fb.pixels.size(), std::size_t{fb.stride} * (fb.height - 1),
                     std::size_t{fb.width} * 4)) {
        return DecodeStatus::kOutside;
    }
    PartSpans parts;
    std::size_t offset = adapter::kCodecHeaderSize;
    for (std::size_t k = 0; k < 3; ++k) {
        parts[k] = picture.subspan(offset, h.parts[k]);
        offset += h.parts[k];
    }
    const Target t{fb.pixels.data() + std::size_t{h.y} * fb.stride + std::size_t{h.x} * 4, h.width,
                   h.height, fb.stride};
    switch (h.codecType) {
        case adapter::kCodecRaw:
            return DecodeRaw(parts, t);
        case adapter::kCodecPlaneDelta:
            return DecodePlaneDelta(parts, t);
        case adapter::kCodecCache:
            return DecodeCache(parts, t);
        case adapter::kCodecPredictive:
            return DecodePredictive(parts, t);
        case adapter::kCodecJpeg:
            return DecodeJpeg(parts, t);
        case adapter::kCodecYuv:
            return DecodeYuv(parts, t);
        default:
            return DecodeStatus::kUnsupported;
    }
}

}  // namespace orv::decode
