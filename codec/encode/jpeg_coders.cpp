// Raw copy, and the coders that go through TurboJPEG: JPEG, YUV 4:2:0 planes
// and JPEG from YUV planes. A compressor handle is made for every picture.
#include <turbojpeg.h>

#include <cstring>
#include <memory>

#include "codec/encode/coders.h"

namespace orv::codec {
namespace {

struct TjDeleter {
    void operator()(void* h) const { tjDestroy(h); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

struct TjBufferDeleter {
    void operator()(unsigned char* p) const { tjFree(p); }
};

std::size_t PlaneSize(int component, std::uint32_t w, std::uint32_t h) {
    const unsigned long size =
        tjPlaneSizeYUV(component, static_cast<int>(w), 0, static_cast<int>(h), TJSAMP_420);
    return size == static_cast<unsigned long>(-1) ? 0 : size;
}

// Compresses through `compress`, straight into `out` when it can hold the
// worst case, else into a library buffer that is copied when it fits.
template <typename Compress>
bool CompressInto(std::uint32_t w, std::uint32_t h, bytes::MutBytes out, Parts& parts,
                  Compress compress) {
    const std::size_t worst = MaxJpegLength(w, h);
    if (worst == 0) return false;
    unsigned long size = 0;
    if (out.size() >= worst) {
        unsigned char* dst = out.data();
        size = worst;
        if (compress(&dst, &size, TJFLAG_NOREALLOC) != 0) return false;
    } else {
        unsigned char* dst = nullptr;
        const int rc = compress(&dst, &size, 0);
        const std::unique_ptr<unsigned char, TjBufferDeleter> owned(dst);
        if (rc != 0 || size > out.size()) return false;
        std::memcpy(out.data(), dst, size);
    }
    parts = {static_cast<std::uint32_t>(size), 0, 0};
    return true;
}

}  // namespace

std::size_t MaxJpegLength(std::uint32_t w, std::uint32_t h) {
    const unsigned long size = tjBufSize(static_cast<int>(w), static_cast<int>(h), TJSAMP_420);
    return size == static_cast<unsigned long>(-1) ? 0 : size;
}

std::size_t MaxYuvLength(std::uint32_t w, std::uint32_t h) {
    std::size_t total = 0;
    for (int c = 0; c < 3; ++c) total += RoundUp16(PlaneSize(c, w, h));
    return total;
}

bool EncodeRaw(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts, CoderScratch&) {
    const std::size_t row = std::size_t{d.width} * (d.bitsPerPixel / 8);
    const std::size_t total = row * d.height;
    if (out.size() < total) return false;
    const std::uint8_t* src = d.pixels.data();
    std::uint8_t* dst = out.data();
    if (d.stride == row) {
        std::memcpy(dst, src, total);
    } else {
        for (std::uint32_t y = 0; y < d.height; ++y, src += d.stride, dst += row) {
            std::memcpy(dst, src, row);
        }
    }
    parts = {static_cast<std::uint32_t>(total), 0, 0};
    return true;
}

bool EncodeJpeg(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts, CoderScratch&) {
    const TjHandle tj(tjInitCompress());
    if (!tj) return false;
    return CompressInto(
        d.width, d.height, out, parts, [&](unsigned char** dst, unsigned long* size, int flags) {
            return tjCompress2(tj.get(), d.pixels.data(), d.width, static_cast<int>(d.stride),
                               d.height, TJPF_BGRX, dst, size, TJSAMP_420, d.quality, flags);
        });
}

bool EncodeYuv(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts, CoderScratch&) {
    std::size_t offset = 0;
    unsigned char* planes[3];
    for (int c = 0; c < 3; ++c) {
        const std::size_t size = PlaneSize(c, d.width, d.height);
        const std::size_t rounded = RoundUp16(size);
        if (size == 0 || !bytes::Fits(out.size(), offset, rounded)) return false;
        planes[c] = out.data() + offset;
        // The padding is part of the picture: write it as zeros (it fits: the
        // whole rounded plane was checked just above).
        (void)ZeroFill(out, offset + size, offset + rounded);
        parts[c] = static_cast<std::uint32_t>(rounded);
        offset += rounded;
    }
    const TjHandle tj(tjInitCompress());
    return tj && tjEncodeYUVPlanes(tj.get(), d.pixels.data(), d.width, static_cast<int>(d.stride),
                                   d.height, TJPF_BGRX, planes, nullptr, TJSAMP_420, 0) == 0;
}

bool EncodeJpegFromYuv(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts) {
    // The input is a CodecType 16 picture of the descriptor's size; its planes
    // must be there in full.
    adapter::CodecHeader in;
    if (!adapter::ReadCodecHeader(d.pixels, in) || in.codecType != adapter::kCodecYuv ||
        in.PictureLength() > d.pixels.size()) {
        return false;
    }
    const unsigned char* planes[3];
    std::size_t offset = adapter::kCodecHeaderSize;
    for (int c = 0; c < 3; ++c) {
        const std::size_t size = PlaneSize(c, d.width, d.height);
        if (size == 0 || in.parts[c] < size) return false;
        planes[c] = d.pixels.data() + offset;
        offset += in.parts[c];
    }
    const TjHandle tj(tjInitCompress());
    if (!tj) return false;
    return CompressInto(
        d.width, d.height, out, parts, [&](unsigned char** dst, unsigned long* size, int flags) {
            return tjCompressFromYUVPlanes(tj.get(), planes, d.width, nullptr, d.height, TJSAMP_420,
                                           dst, size, d.quality, flags);
        });
}

}  // namespace orv::codec
