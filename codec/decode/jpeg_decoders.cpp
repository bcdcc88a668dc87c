// Raw pictures, and the formats TurboJPEG decodes: JPEG and YUV 4:2:0 planes.
#include <turbojpeg.h>

#include <cstring>
#include <memory>

#include "codec/decode/decoders.h"

namespace orv::decode {
namespace {

struct TjDeleter {
    void operator()(void* h) const { tjDestroy(h); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

}  // namespace

DecodeStatus DecodeRaw(const PartSpans& parts, const Target& t) {
    // Only 32-bit pictures can be shown; part 1 tells the depth.
    const std::size_t row = std::size_t{t.width} * 4;
    const std::size_t pixels = std::size_t{t.width} * t.height;
    if (parts[0].size() != row * t.height) {
        const bool otherDepth = parts[0].size() == pixels * 2 || parts[0].size() == pixels;
        return otherDepth ? DecodeStatus::kUnsupported : DecodeStatus::kCorrupt;
    }
    for (std::uint32_t y = 0; y < t.height; ++y) {
        std::memcpy(t.origin + std::size_t{y} * t.stride, parts[0].data() + y * row, row);
    }
    return DecodeStatus::kOk;
}

DecodeStatus DecodeJpeg(const PartSpans& parts, const Target& t) {
    const TjHandle tj(tjInitDecompress());
    if (!tj) return DecodeStatus::kCorrupt;
    int w = 0, h = 0, subsampling = 0, colorspace = 0;
    if (parts[0].empty() || tjDecompressHeader3(tj.get(), parts[0].data(), parts[0].size(), &w, &h,
                                                &subsampling, &colorspace) != 0) {
        return DecodeStatus::kCorrupt;
    }
    if (static_cast<std::uint32_t>(w) != t.width || static_cast<std::uint32_t>(h) != t.height) {
        return DecodeStatus::kCorrupt;
    }
    // A damaged JPEG decodes with warnings into something; only errors count.
    // Once a warning was given, TurboJPEG calls a later fatal error a warning
    // too, so whether anything was drawn is read from the top-left pixel: its
    // X byte is cleared here and every decoded row sets it to 0xFF.
    std::uint8_t& firstX = t.origin[3];
    firstX = 0;
    if (tjDecompress2(tj.get(), parts[0].data(), parts[0].size(), t.origin, w,
                      static_cast<int>(t.stride), h, TJPF_BGRX, 0) != 0 &&
        (tjGetErrorCode(tj.get()) == TJERR_FATAL || firstX != 0xFF)) {
        return DecodeStatus::kCorrupt;
    }
    return DecodeStatus::kOk;
}

DecodeStatus DecodeYuv(const PartSpans& parts, const Target& t) {
    const unsigned char* planes[3];
    for (int c = 0; c < 3; ++c) {
        const unsigned long size =
            tjPlaneSizeYUV(c, static_cast<int>(t.width), 0, static_cast<int>(t.height), TJSAMP_420);
        if (size == static_cast<unsigned long>(-1)) return DecodeStatus::kCorrupt;
        if (parts[c].size() < size) return DecodeStatus::kTruncated;
        planes[c] = parts[c].data();
    }
    const TjHandle tj(tjInitDecompress());
    if (!tj || tjDecodeYUVPlanes(tj.get(), planes, nullptr, TJSAMP_420, t.origin,
                                 static_cast<int>(t.width), static_cast<int>(t.stride),
                                 static_cast<int>(t.height), TJPF_BGRX, 0) != 0) {
        return DecodeStatus::kCorrupt;
    }
    return DecodeStatus::kOk;
}

}  // namespace orv::decode
