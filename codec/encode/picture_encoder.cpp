#include "codec/encode/picture_encoder.h"

#include <array>

#include "codec/encode/coders.h"

namespace orv::codec {
namespace {

using adapter::CodecHeader;

// The encoder table, indexed by CodecType; the gaps run the raw copy.
struct TableEntry {
    CoderFn fn;
    std::uint32_t codecType;
};

TableEntry TableLookup(std::uint32_t codecType) {
    switch (codecType) {
        case adapter::kCodecPlaneDelta:
            return {EncodePlaneDelta, codecType};
        case adapter::kCodecCache:
            return {EncodeCache, codecType};
        case adapter::kCodecPredictive:
            return {EncodePredictive, codecType};
        case adapter::kCodecJpeg:
            return {EncodeJpeg, codecType};
        case adapter::kCodecYuv:
            return {EncodeYuv, codecType};
        default:
            return {EncodeRaw, adapter::kCodecRaw};
    }
}

std::uint32_t BytesPerPixel(const PictureDescriptor& d) {
    return d.bitsPerPixel / 8;
}

// True when the descriptor names a non-empty picture whose rows all lie
// inside `pixels`. The raw copy takes 8, 16 and 32 bits per pixel, every
// other coder 32.
bool Usable(const PictureDescriptor& d, std::uint32_t codecType) {
    if (d.width == 0 || d.height == 0) return false;
    const bool depthOk = codecType == adapter::kCodecRaw
                             ? (d.bitsPerPixel == 32 || d.bitsPerPixel == 16 || d.bitsPerPixel == 8)
                             : d.bitsPerPixel == 32;
    if (!depthOk) return false;
    const std::size_t row = std::size_t{d.width} * BytesPerPixel(d);
    if (d.stride < row) return false;
    return bytes::Fits(d.pixels.size(), std::size_t{d.stride} * (d.height - 1u), row);
}

std::size_t MaxDataLength(const PictureDescriptor& d, std::uint32_t codecType) {
    const std::size_t pixels = std::size_t{d.width} * d.height;
    switch (codecType) {
        case adapter::kCodecRaw:
            return pixels * BytesPerPixel(d);
        // Per plane: first row at most 16 bytes per 15, further rows at most
        // 2 bytes per pixel, then the padding.
        case adapter::kCodecPlaneDelta:
            return 3 * RoundUp16(2 * pixels + 2 * d.height + 16);
        // Per stream: at most an announce and a slot code (24 bits) per
        // pixel, plus the last word and the padding.
        case adapter::kCodecCache:
            return 3 * RoundUp16(3 * pixels + 8 + 16);
        // Per stream: header, at most 14 bits per symbol, last word, 0xFF,
        // padding.
        case adapter::kCodecPredictive:
            return 3 * RoundUp16(2 * pixels + 3 + 8 + 1 + 16);
        case adapter::kCodecJpeg:
            return MaxJpegLength(d.width, d.height);
        case adapter::kCodecYuv:
            return MaxYuvLength(d.width, d.height);
        default:
            return 0;
    }
}

int Finish(const PictureDescriptor& d, std::uint32_t codecType, const Parts& parts,
           bytes::MutBytes out, std::uint32_t& length) {
    CodecHeader h;
    h.codecType = codecType;
    h.y = d.y;
    h.x = d.x;
    h.height = d.height;
    h.width = d.width;
    h.parts = parts;
    const std::uint64_t total = h.PictureLength();
    if (total > UINT32_MAX || !adapter::WriteCodecHeader(out, h)) return 0;
    length = static_cast<std::uint32_t>(total);
    return 1;
}

}  // namespace

bool CodecTypeOf(std::uint32_t compressionCode, std::uint32_t& codecType) {
    switch (compressionCode) {
        case adapter::kCompressJpegFromYuv:
            codecType = adapter::kCodecJpeg;
            return true;
        case adapter::kCompressCache:
            codecType = adapter::kCodecCache;
            return true;
        case adapter::kCompressPredictive:
            codecType = adapter::kCodecPredictive;
            return true;
        case adapter::kCompressYuv:
            codecType = adapter::kCodecYuv;
            return true;
        case adapter::kCompressRaw:
            codecType = adapter::kCodecRaw;
            return true;
        default:
            return false;
    }
}

std::size_t MaxPictureLengthForType(const PictureDescriptor& d, std::uint32_t codecType) {
    const std::uint32_t type = TableLookup(codecType).codecType;
    if (!Usable(d, type)) return 0;
    return adapter::kCodecHeaderSize + MaxDataLength(d, type);
}

std::size_t MaxPictureLength(const PictureDescriptor& d) {
    std::uint32_t type = 0;
    if (!CodecTypeOf(d.compressionCode, type)) return 0;
    if (d.compressionCode == adapter::kCompressJpegFromYuv) {
        if (d.width == 0 || d.height == 0) return 0;
        return adapter::kCodecHeaderSize + MaxJpegLength(d.width, d.height);
    }
    return MaxPictureLengthForType(d, type);
}

int PictureEncoder::EncodeType(const PictureDescriptor& d, std::uint32_t codecType,
                               bytes::MutBytes out, std::uint32_t& length) {
    length = 0;
    const TableEntry entry = TableLookup(codecType);
    if (!Usable(d, entry.codecType) || out.size() < adapter::kCodecHeaderSize) return 0;
    Parts parts{};
    CoderScratch scratch{symbols_, scalarOnly_};
    if (!entry.fn(d, out.subspan(adapter::kCodecHeaderSize), parts, scratch)) return 0;
    return Finish(d, entry.codecType, parts, out, length);
}

int PictureEncoder::Encode(const PictureDescriptor& d, bytes::MutBytes out, std::uint32_t& length) {
    length = 0;
    std::uint32_t codecType = 0;
    if (!CodecTypeOf(d.compressionCode, codecType)) return 0;
    if (d.compressionCode != adapter::kCompressJpegFromYuv) {
        return EncodeType(d, codecType, out, length);
    }
    if (d.width == 0 || d.height == 0 || out.size() < adapter::kCodecHeaderSize) return 0;
    Parts parts{};
    if (!EncodeJpegFromYuv(d, out.subspan(adapter::kCodecHeaderSize), parts)) return 0;
    return Finish(d, codecType, parts, out, length);
}

std::uint32_t PictureEncoder::EncodeFramePacket(const PictureDescriptor& d, unsigned screenIndex,
                                                bytes::MutBytes packet) {
    if (packet.size() < adapter::kHeaderSize) return 0;
    // A picture that cannot be encoded goes out with a picture length of 0:
    // Encode leaves pictureLength 0 then, which is all this needs to know.
    std::uint32_t pictureLength = 0;
    (void)Encode(d, packet.subspan(adapter::kHeaderSize), pictureLength);
    return adapter::WriteFramePacketHeader(packet, pictureLength, screenIndex);
}

}  // namespace orv::codec
