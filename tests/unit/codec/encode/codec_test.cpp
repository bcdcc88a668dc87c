// The encoder set: sizes and layouts of the formats, hand-worked streams of
// the lossless coders, and the bounds every encoder keeps.
#include <gtest/gtest.h>

#include <vector>

#include "codec/encode/picture_encoder.h"
#include "tools/orvcodec/test_pictures.h"

using namespace orv;

namespace {

// A picture given as rows of {B, G, R} triples.
struct Pixels {
    std::vector<std::uint8_t> px;
    std::uint16_t w, h;
};

Pixels FromRows(std::initializer_list<std::initializer_list<std::array<std::uint8_t, 3>>> rows) {
    Pixels p{{},
             static_cast<std::uint16_t>(rows.begin()->size()),
             static_cast<std::uint16_t>(rows.size())};
    for (const auto& row : rows) {
        for (const auto& bgr : row) p.px.insert(p.px.end(), {bgr[0], bgr[1], bgr[2], 0xFF});
    }
    return p;
}

codec::PictureDescriptor Describe(const std::vector<std::uint8_t>& px, std::uint16_t w,
                                  std::uint16_t h, std::uint32_t code = adapter::kCompressRaw) {
    codec::PictureDescriptor d;
    d.pixels = px;
    d.width = w;
    d.height = h;
    d.stride = 4u * w;
    d.compressionCode = code;
    return d;
}

std::vector<std::uint8_t> EncodeType(const Pixels& p, std::uint32_t type) {
    const auto d = Describe(p.px, p.w, p.h);
    std::vector<std::uint8_t> out(codec::MaxPictureLengthForType(d, type));
    std::uint32_t length = 0;
    codec::PictureEncoder enc;
    EXPECT_EQ(enc.EncodeType(d, type, out, length), 1);
    out.resize(length);
    return out;
}

adapter::CodecHeader Header(bytes::ConstBytes picture) {
    adapter::CodecHeader h;
    EXPECT_TRUE(adapter::ReadCodecHeader(picture, h));
    return h;
}

// Part k of a picture.
std::vector<std::uint8_t> Part(const std::vector<std::uint8_t>& picture, unsigned k) {
    const adapter::CodecHeader h = Header(picture);
    std::size_t offset = adapter::kCodecHeaderSize;
    for (unsigned i = 0; i < k; ++i) offset += h.parts[i];
    return {picture.begin() + static_cast<std::ptrdiff_t>(offset),
            picture.begin() + static_cast<std::ptrdiff_t>(offset + h.parts[k])};
}

// `bytes` followed by zeros up to a multiple of 16.
std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> bytes) {
    bytes.resize((bytes.size() + 15) / 16 * 16, 0);
    return bytes;
}

}  // namespace

TEST(Codec, RawIdentificationPictureFillsItsPacket) {
    const auto px = orvcodec::MakePattern("gradient", 1280, 720);
    auto d = Describe(px, 1280, 720);
    d.x = 7;
    d.y = 9;
    d.quality = 99;
    std::vector<std::uint8_t> packet(5242880, 0);
    codec::PictureEncoder enc;
    ASSERT_EQ(enc.EncodeFramePacket(d, 1, packet), 3686480u);

    const std::uint8_t head[] = {'o',  'r',  'v',  'v',  'a',  'r',  'k',  'e',
                                 'l',  's',  't',  'a',  0x50, 0x40, 0x38, 0x00,  // 3,686,480
                                 0x04, 0x00, 0x00, 0x30,           // ControlWord, screen bit set
                                 0,    3,    0,    0,    0,    0,  // type, 3, FrameIndex
                                 0x20, 0x40, 0x38, 0x00,           // picture length 3,686,432
                                 0x11};
    EXPECT_TRUE(std::equal(std::begin(head), std::end(head), packet.begin()));
    EXPECT_TRUE(
        std::all_of(packet.begin() + 31, packet.begin() + 48, [](auto b) { return b == 0; }));
    const adapter::CodecHeader h = Header(bytes::ConstBytes(packet).subspan(48));
    EXPECT_EQ(h.codecType, adapter::kCodecRaw);
    EXPECT_EQ(h.x, 7u);
    EXPECT_EQ(h.y, 9u);
    EXPECT_EQ(h.width, 1280u);
    EXPECT_EQ(h.height, 720u);
    EXPECT_EQ(h.parts, (std::array<std::uint32_t, 3>{3686400, 0, 0}));
    EXPECT_TRUE(std::equal(px.begin(), px.end(), packet.begin() + 80));
}

TEST(Codec, PacketOfWholeUsbPacketsGetsOneMoreByte) {
    std::vector<std::uint8_t> packet(600, 0xEE);
    EXPECT_EQ(adapter::WriteFramePacketHeader(packet, 464, 0), 513u);
    EXPECT_EQ(packet[512], 0);
    std::uint32_t controlWord = 0;
    bytes::GetU32(packet, adapter::kOffControlWord, controlWord);
    EXPECT_EQ(controlWord, adapter::kControlWordFrame);
    EXPECT_EQ(adapter::WriteFramePacketHeader(packet, 465, 0), 513u);
    // Too small for header, picture and the extra byte: refused.
    EXPECT_EQ(adapter::WriteFramePacketHeader(bytes::MutBytes(packet).first(512), 464, 0), 0u);
}

TEST(Codec, YuvPlanesAreRoundedToSixteenBytes) {
    const auto px = orvcodec::MakePattern("photo", 1281, 721);
    const auto d = Describe(px, 1281, 721, adapter::kCompressYuv);
    std::vector<std::uint8_t> out(codec::MaxPictureLength(d), 0xEE);
    std::uint32_t length = 0;
    codec::PictureEncoder enc;
    ASSERT_EQ(enc.Encode(d, out, length), 1);
    EXPECT_EQ(length, 1388464u);
    const adapter::CodecHeader h = Header(out);
    EXPECT_EQ(h.codecType, adapter::kCodecYuv);
    EXPECT_EQ(h.parts, (std::array<std::uint32_t, 3>{925616, 231408, 231408}));
    // Plane ends (925,604 and 231,401 bytes) are followed by zero padding.
    for (std::size_t i = 925604; i < 925616; ++i) EXPECT_EQ(out[32 + i], 0) << i;
    for (std::size_t i = 231401; i < 231408; ++i) EXPECT_EQ(out[32 + 925616 + i], 0) << i;
}

TEST(Codec, JpegFromYuvPlanesTakesATypeSixteenPicture) {
    const auto px = orvcodec::MakePattern("photo", 97, 45);
    auto d = Describe(px, 97, 45, adapter::kCompressYuv);
    std::vector<std::uint8_t> yuv(codec::MaxPictureLength(d));
    std::uint32_t yuvLength = 0;
    codec::PictureEncoder enc;
    ASSERT_EQ(enc.Encode(d, yuv, yuvLength), 1);

    d.compressionCode = adapter::kCompressJpegFromYuv;
    d.quality = 80;
    d.pixels = bytes::ConstBytes(yuv).first(yuvLength);
    std::vector<std::uint8_t> out(codec::MaxPictureLength(d));
    std::uint32_t length = 0;
    ASSERT_EQ(enc.Encode(d, out, length), 1);
    const adapter::CodecHeader h = Header(out);
    EXPECT_EQ(h.codecType, adapter::kCodecJpeg);
    EXPECT_EQ(h.parts[1] + h.parts[2], 0u);
    EXPECT_EQ(length, 32 + h.parts[0]);
    EXPECT_EQ(out[32], 0xFF);  // JPEG start of image
    EXPECT_EQ(out[33], 0xD8);

    // A truncated or mistyped input picture is refused.
    d.pixels = bytes::ConstBytes(yuv).first(yuvLength - 1);
    EXPECT_EQ(enc.Encode(d, out, length), 0);
    yuv[0] = adapter::kCodecRaw;
    d.pixels = bytes::ConstBytes(yuv).first(yuvLength);
    EXPECT_EQ(enc.Encode(d, out, length), 0);
    EXPECT_EQ(length, 0u);
}

TEST(Codec, UnknownCodesAndEmptyPicturesGiveNothing) {
    const auto px = orvcodec::MakePattern("noise", 4, 4);
    std::vector<std::uint8_t> out(4096, 0xEE);
    std::uint32_t length = 99;
    codec::PictureEncoder enc;
    EXPECT_EQ(enc.Encode(Describe(px, 4, 4, 225), out, length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(out[0], 0xEE);
    for (std::uint32_t code : {224u, 226u, 227u, 228u, 254u}) {
        EXPECT_EQ(enc.Encode(Describe(px, 0, 4, code), out, length), 0) << code;
        EXPECT_EQ(enc.Encode(Describe(px, 4, 0, code), out, length), 0) << code;
        EXPECT_EQ(codec::MaxPictureLength(Describe(px, 0, 4, code)), 0u);
    }
    // A frame packet of an unknown code carries an empty picture.
    EXPECT_EQ(enc.EncodeFramePacket(Describe(px, 4, 4, 225), 0, out), 48u);
    std::uint32_t pictureLength = 1;
    bytes::GetU32(out, adapter::kOffFramePictureLen, pictureLength);
    EXPECT_EQ(pictureLength, 0u);
    // Pixels that do not cover the rows are refused, not read past.
    auto d = Describe(px, 4, 4);
    d.pixels = bytes::ConstBytes(px).first(px.size() - 1);
    EXPECT_EQ(enc.Encode(d, out, length), 0);
}

TEST(Codec, RawCopyTakesEightSixteenAndThirtyTwoBits) {
    std::vector<std::uint8_t> px(64);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint8_t>(i);
    codec::PictureEncoder enc;
    std::vector<std::uint8_t> out(256);
    std::uint32_t length = 0;
    for (auto [bits, expected] : {std::pair{8u, 6u}, {16u, 12u}, {32u, 24u}, {24u, 0u}}) {
        auto d = Describe(px, 3, 2);
        d.stride = 32;  // wider than any row
        d.bitsPerPixel = bits;
        EXPECT_EQ(enc.Encode(d, out, length), expected ? 1 : 0) << bits;
        EXPECT_EQ(length, expected ? 32 + expected : 0) << bits;
        if (expected == 0) continue;
        EXPECT_EQ(Header(out).parts[0], expected);
        const std::size_t row = expected / 2;
        EXPECT_TRUE(std::equal(px.begin(), px.begin() + row, out.begin() + 32));
        EXPECT_TRUE(std::equal(px.begin() + 32, px.begin() + 32 + row, out.begin() + 32 + row));
    }
}

// Hand-worked plane delta streams. B plane rows {10, 12, 9} / {10, 12, 12}:
// row 0 is one chunk of 3; row 1's differences 0, 0, 3 map to 0, 0, 6: a run
// of one repeat goes out as two literals (0x20 0 0), then the literal 6.
// G and R are constant (20 and 30): their second row is a run of 0 with two
// repeats, written as three literals.
TEST(Codec, PlaneDeltaHandWorked) {
    const Pixels p = FromRows(
        {{{10, 20, 30}, {12, 20, 30}, {9, 20, 30}}, {{10, 20, 30}, {12, 20, 30}, {12, 20, 30}}});
    const auto picture = EncodeType(p, adapter::kCodecPlaneDelta);
    EXPECT_EQ(Header(picture).codecType, adapter::kCodecPlaneDelta);
    EXPECT_EQ(Part(picture, 0), Padded({0x30, 10, 12, 9, 0x20, 0, 0, 0x10, 6}));
    EXPECT_EQ(Part(picture, 1), Padded({0x30, 20, 20, 20, 0x30, 0, 0, 0}));
    EXPECT_EQ(Part(picture, 2), Padded({0x30, 30, 30, 30, 0x30, 0, 0, 0}));
}

// A constant plane: literal chunks, then each row one run of the difference
// 0. Width 70: row 0 is 4 chunks of 15 and one of 10; row 1 is 0x1F 0 (the
// start and 15 repeats), then 54 repeats: 47 (0xF2), then 7 (0x07).
TEST(Codec, PlaneDeltaConstantPlane) {
    std::vector<std::uint8_t> px(70 * 2 * 4, 0x42);
    codec::PictureEncoder enc;
    const auto d = Describe(px, 70, 2);
    std::vector<std::uint8_t> out(codec::MaxPictureLengthForType(d, adapter::kCodecPlaneDelta));
    std::uint32_t length = 0;
    ASSERT_EQ(enc.EncodeType(d, adapter::kCodecPlaneDelta, out, length), 1);
    out.resize(length);
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 4; ++i) {
        expected.push_back(0xF0);
        expected.insert(expected.end(), 15, 0x42);
    }
    expected.push_back(0xA0);
    expected.insert(expected.end(), 10, 0x42);
    expected.insert(expected.end(), {0x1F, 0x00, 0xF2, 0x07});
    for (unsigned k = 0; k < 3; ++k) EXPECT_EQ(Part(out, k), Padded(expected)) << k;
}

// Cache coder, B rows {5, 5, 5} / {5, 7, 7}: announce slot 0 = 5 (59, 0, 5),
// a leading run of 4 as four slot-0 codes, announce slot 1 = 7 (59, 1, 7),
// two slot-1 codes: 44 bits, the last word counts (12 + 8) / 8 = 2 bytes.
// G and R are 0: announce slot 0 = 0 and six slot-0 codes, 24 bits.
TEST(Codec, CacheCoderHandWorked) {
    const Pixels p =
        FromRows({{{5, 0, 0}, {5, 0, 0}, {5, 0, 0}}, {{5, 0, 0}, {7, 0, 0}, {7, 0, 0}}});
    const auto picture = EncodeType(p, adapter::kCodecCache);
    EXPECT_EQ(Part(picture, 0), Padded({0x3B, 0x14, 0xC0, 0x1E, 0x07, 0x05}));
    EXPECT_EQ(Part(picture, 1), Padded({0x3B, 0, 0, 0}));
    EXPECT_EQ(Part(picture, 2), Padded({0x3B, 0, 0, 0}));
}

// Predictive coder on one pixel (B 3, G 1, R 250): every neighbour is absent,
// every prediction 0. Symbols: B 3 -> 6; G (1 - 0) - (3 - 0) = -2 -> 3;
// R (250 - 0) - (1 - 0) = 249 -> 498. After the 17-bit header: 6 is (5, 8),
// 3 is (3, 6), 498 is (14, 498 << 4 | 15). The 0xFF follows the counted bytes.
TEST(Codec, PredictiveOnePixel) {
    const auto picture = EncodeType(FromRows({{{3, 1, 250}}}), adapter::kCodecPredictive);
    EXPECT_EQ(Header(picture).codecType, adapter::kCodecPredictive);
    EXPECT_EQ(Part(picture, 0), Padded({0x00, 0xCC, 0x10, 0xFF}));
    EXPECT_EQ(Part(picture, 1), Padded({0x00, 0xEC, 0x0C, 0xFF}));
    EXPECT_EQ(Part(picture, 2), Padded({0x00, 0xEC, 0x5E, 0x3E, 0xFF}));
}

// Nine black pixels in a row: symbol 0 (code 1 in 2 bits) nine times. The
// first goes alone; the run from the second covers 7 (6 x 2 bits > 10). Its
// count 6 in a marker 7 would begin with the bits of marker 23, so marker 23
// carries it in 12 bits; then the code, and the last alone. 40 bits, which
// count six bytes.
TEST(Codec, PredictiveRunHandWorked) {
    Pixels p{std::vector<std::uint8_t>(9 * 4, 0), 9, 1};
    const auto picture = EncodeType(p, adapter::kCodecPredictive);
    EXPECT_EQ(Part(picture, 0), Padded({0x00, 0xCC, 0xBA, 0x06, 0x50, 0x00, 0xFF}));
    EXPECT_EQ(Part(picture, 1), Padded({0x00, 0xEC, 0xBA, 0x06, 0x50, 0x00, 0xFF}));
}

TEST(Codec, EncodersNeverWritePastTheirOutput) {
    const auto px = orvcodec::MakePattern("noise", 61, 23);
    const auto d = Describe(px, 61, 23);
    codec::PictureEncoder enc;
    for (std::uint32_t type : {0u, 1u, 2u, 4u, 8u, 16u}) {
        std::vector<std::uint8_t> full(codec::MaxPictureLengthForType(d, type));
        std::uint32_t needed = 0;
        ASSERT_EQ(enc.EncodeType(d, type, full, needed), 1) << type;
        // Lossless coders expand noise beyond the raw size; the bound holds it.
        EXPECT_LE(needed, full.size());
        for (std::size_t room :
             {std::size_t{0}, std::size_t{31}, std::size_t{needed / 2}, std::size_t{needed - 1}}) {
            std::vector<std::uint8_t> out(room + 64, 0xEE);
            std::uint32_t length = 1;
            EXPECT_EQ(enc.EncodeType(d, type, bytes::MutBytes(out).first(room), length), 0)
                << type << " " << room;
            EXPECT_EQ(length, 0u);
            EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(room), out.end(),
                                    [](auto b) { return b == 0xEE; }))
                << type << " " << room;
        }
        std::vector<std::uint8_t> exact(needed);
        std::uint32_t length = 0;
        EXPECT_EQ(enc.EncodeType(d, type, exact, length), 1) << type;
        EXPECT_EQ(length, needed);
    }
}

TEST(Codec, CompressionCodesNameTheirCodecTypes) {
    std::uint32_t type = 99;
    const std::pair<std::uint32_t, std::uint32_t> table[] = {
        {224, 8}, {226, 2}, {227, 4}, {228, 16}, {254, 0}};
    for (auto [code, expected] : table) {
        ASSERT_TRUE(codec::CodecTypeOf(code, type));
        EXPECT_EQ(type, expected);
    }
    EXPECT_FALSE(codec::CodecTypeOf(225, type));
    EXPECT_FALSE(codec::CodecTypeOf(1, type));
    // Table entries without an encoder of their own run the raw copy.
    const Pixels p = FromRows({{{1, 2, 3}}});
    EXPECT_EQ(Header(EncodeType(p, 3)).codecType, adapter::kCodecRaw);
    EXPECT_EQ(Header(EncodeType(p, 17)).codecType, adapter::kCodecRaw);
}
