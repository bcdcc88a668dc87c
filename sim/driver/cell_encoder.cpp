#include "sim/driver/cell_encoder.h"

#include "protocol/adapter/frame_packet.h"

namespace orv::driver {

std::size_t RawPacketLength(const WallGeometry& wall) {
    return adapter::PacketLength(adapter::kHeaderSize + adapter::kCodecHeaderSize +
                                 std::size_t{wall.CellWidth()} * wall.CellHeight() * 4);
}

std::uint32_t SelectCompression(std::uint32_t calg, const WallGeometry& wall, std::size_t room) {
    switch (calg) {
        case adapter::kCompressJpegFromYuv:
        case adapter::kCompressCache:
        case adapter::kCompressPredictive:
        case adapter::kCompressYuv:
            return calg;
        case adapter::kCompressRaw:
            return RawPacketLength(wall) <= room ? calg : adapter::kCompressJpegFromYuv;
        default:
            return adapter::kCompressJpegFromYuv;
    }
}

std::uint32_t CellEncoder::EncodeWith(const codec::PictureDescriptor& d, bytes::MutBytes out) {
    if (out.size() < adapter::kHeaderSize) return 0;
    std::uint32_t pictureLength = 0;
    if (d.compressionCode != adapter::kCompressJpegFromYuv) {
        if (!encoder_.Encode(d, out.subspan(adapter::kHeaderSize), pictureLength)) return 0;
    } else {
        // JPEG is made from the picture's YUV planes.
        codec::PictureDescriptor planes = d;
        planes.compressionCode = adapter::kCompressYuv;
        yuv_.resize(codec::MaxPictureLength(planes));
        std::uint32_t yuvLength = 0;
        if (!encoder_.Encode(planes, yuv_, yuvLength)) return 0;
        codec::PictureDescriptor jpeg = d;
        jpeg.pixels = bytes::ConstBytes(yuv_).first(yuvLength);
        if (!encoder_.Encode(jpeg, out.subspan(adapter::kHeaderSize), pictureLength)) return 0;
    }
    return adapter::WriteFramePacketHeader(out, pictureLength, 0);
}

std::uint32_t CellEncoder::Encode(const Picture& source, const WallGeometry& wall,
                                  std::uint32_t column, std::uint32_t row, std::uint32_t code,
                                  int quality, bytes::MutBytes out) {
    const std::size_t stride = std::size_t{source.width} * 4;
    const std::size_t offset = std::size_t{wall.CellTop(row)} * stride + wall.CellLeft(column) * 4;
    const std::size_t span = (std::size_t{wall.CellHeight()} - 1) * stride + wall.CellWidth() * 4;
    if (!wall.Usable() || source.width < wall.SourceWidth() ||
        source.height < wall.SourceHeight() || !bytes::Fits(source.bgrx.size(), offset, span))
        return 0;
    codec::PictureDescriptor d;
    d.pixels = bytes::ConstBytes(source.bgrx).subspan(offset, span);
    d.width = static_cast<std::uint16_t>(wall.CellWidth());
    d.height = static_cast<std::uint16_t>(wall.CellHeight());
    d.stride = static_cast<std::uint32_t>(stride);
    d.compressionCode = code;
    d.quality = quality;
    if (const std::uint32_t length = EncodeWith(d, out); length != 0) return length;
    if (code == adapter::kCompressJpegFromYuv) return 0;
    ++fallbacks_;
    d.compressionCode = adapter::kCompressJpegFromYuv;
    return EncodeWith(d, out);
}

}  // namespace orv::driver
