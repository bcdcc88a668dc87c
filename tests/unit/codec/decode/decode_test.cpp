// Round trips through every encoder and decoder, and decoders facing broken
// input.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "codec/decode/picture_decoder.h"
#include "codec/encode/picture_encoder.h"
#include "tools/orvcodec/test_pictures.h"

using namespace orv;
using orv::decode::DecodeStatus;

namespace {

struct Picture {
    std::vector<std::uint8_t> px;
    std::uint32_t w, h, stride;
};

Picture Make(std::string_view pattern, std::uint32_t w, std::uint32_t h, std::uint32_t stride = 0,
             std::uint32_t seed = 1) {
    if (stride == 0) stride = 4 * w;
    return {orvcodec::MakePattern(pattern, w, h, stride, seed), w, h, stride};
}

codec::PictureDescriptor Describe(const Picture& p, std::uint32_t code = 0) {
    codec::PictureDescriptor d;
    d.pixels = p.px;
    d.width = static_cast<std::uint16_t>(p.w);
    d.height = static_cast<std::uint16_t>(p.h);
    d.stride = p.stride;
    d.compressionCode = code;
    d.quality = 90;
    return d;
}

std::vector<std::uint8_t> EncodeType(const Picture& p, std::uint32_t type, bool scalar = false) {
    codec::PictureEncoder enc;
    enc.SetScalarOnly(scalar);
    const auto d = Describe(p);
    std::vector<std::uint8_t> out(codec::MaxPictureLengthForType(d, type));
    std::uint32_t length = 0;
    EXPECT_EQ(enc.EncodeType(d, type, out, length), 1);
    out.resize(length);
    return out;
}

// Decodes into a framebuffer with a margin around the picture.
struct Decoded {
    DecodeStatus status;
    std::vector<std::uint8_t> fb;
    std::uint32_t stride;
};

Decoded Decode(bytes::ConstBytes picture, std::uint32_t w, std::uint32_t h) {
    Decoded d{DecodeStatus::kOk, {}, 4 * w + 12};
    d.fb.assign(std::size_t{d.stride} * (h + 1), 0x5A);
    d.status = decode::DecodePicture(picture, {d.fb, w + 3, h + 1, d.stride});
    return d;
}

// Bytes B, G, R (and X when `withX`) of every pixel equal.
::testing::AssertionResult SamePixels(const Picture& p, const Decoded& d, bool withX) {
    for (std::uint32_t y = 0; y < p.h; ++y) {
        for (std::uint32_t x = 0; x < p.w; ++x) {
            for (unsigned k = 0; k < (withX ? 4u : 3u); ++k) {
                const auto a = p.px[std::size_t{y} * p.stride + 4 * x + k];
                const auto b = d.fb[std::size_t{y} * d.stride + 4 * x + k];
                if (a != b) {
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y << " byte "
                                                         << k << ": " << int(a) << " != " << int(b);
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

double Psnr(const Picture& p, const Decoded& d) {
    double sum = 0;
    for (std::uint32_t y = 0; y < p.h; ++y) {
        for (std::uint32_t x = 0; x < p.w; ++x) {
            for (unsigned k = 0; k < 3; ++k) {
                const double e = double(p.px[std::size_t{y} * p.stride + 4 * x + k]) -
                                 d.fb[std::size_t{y} * d.stride + 4 * x + k];
                sum += e * e;
            }
        }
    }
    const double mse = sum / (3.0 * p.w * p.h);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

struct Case {
    std::string pattern;
    std::uint32_t w, h, stride;
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const char* pattern : {"constant", "gradient", "desktop", "noise", "palette", "photo"}) {
        cases.push_back({pattern, 1, 1, 0});
        cases.push_back({pattern, 1, 37, 0});
        cases.push_back({pattern, 53, 1, 0});
        cases.push_back({pattern, 8, 3, 0});
        cases.push_back({pattern, 16, 16, 0});
        cases.push_back({pattern, 131, 67, 4 * 131 + 20});
        cases.push_back({pattern, 320, 200, 0});
    }
    // Runs longer than 4096 within a row and across rows.
    cases.push_back({"constant", 5000, 3, 0});
    cases.push_back({"constant", 700, 40, 0});
    return cases;
}

constexpr std::uint32_t kLosslessTypes[] = {adapter::kCodecRaw, adapter::kCodecPlaneDelta,
                                            adapter::kCodecCache, adapter::kCodecPredictive};

}  // namespace

TEST(Decode, LosslessCodersRoundTripExactly) {
    for (const Case& c : Cases()) {
        const Picture p = Make(c.pattern, c.w, c.h, c.stride);
        for (std::uint32_t type : kLosslessTypes) {
            SCOPED_TRACE(c.pattern + " " + std::to_string(c.w) + "x" + std::to_string(c.h) +
                         " type " + std::to_string(type));
            const auto picture = EncodeType(p, type);
            ASSERT_FALSE(picture.empty());
            const Decoded d = Decode(picture, c.w, c.h);
            ASSERT_EQ(d.status, DecodeStatus::kOk) << decode::DecodeStatusText(d.status);
            EXPECT_TRUE(SamePixels(p, d, type == adapter::kCodecRaw));
        }
    }
}

TEST(Decode, VectorAndScalarPredictionGiveIdenticalBytes) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.pattern + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
        const Picture p = Make(c.pattern, c.w, c.h, c.stride);
        EXPECT_EQ(EncodeType(p, adapter::kCodecPredictive, false),
                  EncodeType(p, adapter::kCodecPredictive, true));
    }
}

TEST(Decode, JpegAndYuvStayWithinPsnrBound) {
    for (const char* pattern : {"gradient", "photo", "desktop"}) {
        for (auto [w, h] : {std::pair{1u, 1u}, {131u, 67u}, {320u, 200u}}) {
            SCOPED_TRACE(std::string(pattern) + " " + std::to_string(w));
            const Picture p = Make(pattern, w, h, 4 * w + 8);
            for (std::uint32_t type : {adapter::kCodecJpeg, adapter::kCodecYuv}) {
                const auto picture = EncodeType(p, type);
                const Decoded d = Decode(picture, w, h);
                ASSERT_EQ(d.status, DecodeStatus::kOk);
                // 4:2:0 chroma on text edges costs the most; 20 dB is far above
                // what a wrong channel order or misplaced plane would give.
                EXPECT_GT(Psnr(p, d), std::string(pattern) == "desktop" ? 20.0 : 28.0);
            }
        }
    }
}

// Pictures that exercise the mended coder faults: a cache stream whose slots
// 0 and 1 change hands while their old values come back, runs over 4095
// inside a row, and a predictive picture larger than 1920 x 1080.
TEST(Decode, MendedFaultsRoundTrip) {
    // Row 0: one pixel of A, then B x 4999 (a slot-1 run over 4095); row 1:
    // C x 5000 (announced into slot 0, run over 4095); row 2: A, B, C, D in
    // short runs, bringing back the values that lost slots 0 and 1.
    Picture runs{std::vector<std::uint8_t>(5000 * 3 * 4), 5000, 3, 5000 * 4};
    auto set = [&](std::uint32_t x, std::uint32_t y, std::uint8_t v) {
        for (unsigned k = 0; k < 4; ++k) runs.px[std::size_t{y} * runs.stride + 4 * x + k] = v;
    };
    for (std::uint32_t x = 0; x < 5000; ++x) {
        set(x, 0, x == 0 ? 10 : 20);
        set(x, 1, 30);
        set(x, 2, std::array<std::uint8_t, 4>{10, 20, 30, 40}[x / 3 % 4]);
    }
    // Many values, four of them frequent, so that slots are given in turn.
    const Picture palette = Make("palette", 300, 120, 0, 7);
    const Picture large = Make("gradient", 2100, 1000);
    for (const Picture* p : std::initializer_list<const Picture*>{&runs, &palette, &large}) {
        for (std::uint32_t type :
             {adapter::kCodecPlaneDelta, adapter::kCodecCache, adapter::kCodecPredictive}) {
            if (p == &large && type != adapter::kCodecPredictive) continue;
            SCOPED_TRACE(std::to_string(p->w) + " type " + std::to_string(type));
            const Decoded d = Decode(EncodeType(*p, type), p->w, p->h);
            ASSERT_EQ(d.status, DecodeStatus::kOk) << decode::DecodeStatusText(d.status);
            EXPECT_TRUE(SamePixels(*p, d, false));
        }
    }
}

// A flat 14 x 7 picture but for its first pixel: channel 2 has a run of 11
// zeros, whose count 10 in a marker 7 would begin with the bits of marker 23
// (and then read to the end as another picture). The encoder writes it with
// marker 23, and the picture comes back as it was.
TEST(Decode, PredictiveRunThatMarker7WouldMakeAmbiguousDecodesExactly) {
    Picture flat{std::vector<std::uint8_t>(14 * 7 * 4), 14, 7, 14 * 4};
    for (std::size_t i = 0; i < 14 * 7; ++i) {
        const std::array<std::uint8_t, 3> bgr = i == 0
                                                    ? std::array<std::uint8_t, 3>{0x0B, 0x00, 0x1A}
                                                    : std::array<std::uint8_t, 3>{0xD6, 0x83, 0xA3};
        std::memcpy(flat.px.data() + 4 * i, bgr.data(), 3);
    }
    const Decoded d = Decode(EncodeType(flat, adapter::kCodecPredictive), flat.w, flat.h);
    ASSERT_EQ(d.status, DecodeStatus::kOk) << decode::DecodeStatusText(d.status);
    EXPECT_TRUE(SamePixels(flat, d, false));
}

TEST(Decode, PictureMustLieInsideTheFramebuffer) {
    const Picture p = Make("gradient", 10, 10);
    auto picture = EncodeType(p, adapter::kCodecRaw);
    std::vector<std::uint8_t> fb(40 * 10);
    EXPECT_EQ(decode::DecodePicture(picture, {fb, 10, 10, 40}), DecodeStatus::kOk);
    EXPECT_EQ(decode::DecodePicture(picture, {fb, 9, 10, 40}), DecodeStatus::kOutside);
    EXPECT_EQ(decode::DecodePicture(picture, {fb, 10, 11, 40}), DecodeStatus::kOutside);
    EXPECT_EQ(decode::DecodePicture(picture, {fb, 10, 10, 36}), DecodeStatus::kOutside);
    EXPECT_EQ(decode::DecodePicture(picture, {bytes::MutBytes(fb).first(399), 10, 10, 40}),
              DecodeStatus::kOutside);
    bytes::PutU32(picture, adapter::kCodecOffX, 1);
    EXPECT_EQ(decode::DecodePicture(picture, {fb, 10, 10, 40}), DecodeStatus::kOutside);
    bytes::PutU32(picture, adapter::kCodecOffX, 0xFFFFFFFF);
    EXPECT_EQ(decode::DecodePicture(picture, {fb, 10, 10, 40}), DecodeStatus::kOutside);
}

TEST(Decode, HeaderProblemsAreReported) {
    const Picture p = Make("gradient", 10, 10);
    auto picture = EncodeType(p, adapter::kCodecRaw);
    std::vector<std::uint8_t> fb(40 * 10);
    const decode::Framebuffer f{fb, 10, 10, 40};
    EXPECT_EQ(decode::DecodePicture(bytes::ConstBytes(picture).first(31), f),
              DecodeStatus::kTruncated);
    EXPECT_EQ(decode::DecodePicture(bytes::ConstBytes(picture).first(picture.size() - 1), f),
              DecodeStatus::kTruncated);
    bytes::PutU32(picture, adapter::kCodecOffPart1 + 4, 0xFFFFFFFF);
    EXPECT_EQ(decode::DecodePicture(picture, f), DecodeStatus::kTruncated);
    bytes::PutU32(picture, adapter::kCodecOffPart1 + 4, 0);
    bytes::PutU32(picture, adapter::kCodecOffType, 3);
    EXPECT_EQ(decode::DecodePicture(picture, f), DecodeStatus::kUnsupported);
    // A 16-bit raw picture cannot be shown.
    bytes::PutU32(picture, adapter::kCodecOffType, 0);
    bytes::PutU32(picture, adapter::kCodecOffPart1, 200);
    EXPECT_EQ(decode::DecodePicture(picture, f), DecodeStatus::kUnsupported);
}

// Every part cut short, and every byte damaged, for every format: the
// decoders report an error or decode something, and never touch memory they
// do not own (the sanitizer build checks that) or the framebuffer outside the
// picture's rectangle.
TEST(Decode, DamagedPicturesAreRefusedSafely) {
    const Picture p = Make("desktop", 23, 13, 0, 3);
    for (std::uint32_t type : {0u, 1u, 2u, 4u, 8u, 16u}) {
        SCOPED_TRACE(type);
        const auto good = EncodeType(p, type);
        const adapter::CodecHeader h = [&] {
            adapter::CodecHeader header;
            EXPECT_TRUE(adapter::ReadCodecHeader(good, header));
            return header;
        }();
        auto check = [&](const std::vector<std::uint8_t>& picture) {
            const Decoded d = Decode(picture, p.w, p.h);
            // The margin right of and below the picture stays untouched.
            std::size_t touched = 0;
            for (std::uint32_t y = 0; y <= p.h; ++y) {
                for (std::uint32_t x = y == p.h ? 0 : p.w; x < p.w + 3; ++x) {
                    for (unsigned k = 0; k < 4; ++k) {
                        touched += d.fb[std::size_t{y} * d.stride + 4 * x + k] != 0x5A;
                    }
                }
            }
            EXPECT_EQ(touched, 0u);
            return d.status;
        };
        // Shorten one part at a time (the header stays consistent).
        for (unsigned k = 0; k < 3; ++k) {
            if (h.parts[k] == 0) continue;
            for (std::uint32_t cut : {1u, 2u, h.parts[k] / 2, h.parts[k] - 1}) {
                if (cut == 0 || cut > h.parts[k]) continue;
                auto picture = good;
                std::size_t offset = adapter::kCodecHeaderSize;
                for (unsigned i = 0; i < k; ++i) offset += h.parts[i];
                picture.erase(
                    picture.begin() + static_cast<std::ptrdiff_t>(offset + h.parts[k] - cut),
                    picture.begin() + static_cast<std::ptrdiff_t>(offset + h.parts[k]));
                bytes::PutU32(picture, adapter::kCodecOffPart1 + 4 * k, h.parts[k] - cut);
                const DecodeStatus s = check(picture);
                // Lossless formats cannot lose bytes unnoticed, except padding.
                if (type == adapter::kCodecRaw || type == adapter::kCodecPredictive) {
                    EXPECT_NE(s, DecodeStatus::kOk) << k << " " << cut;
                }
            }
        }
        // Damage each byte of the data in turn.
        for (std::size_t i = adapter::kCodecHeaderSize; i < good.size(); ++i) {
            auto picture = good;
            picture[i] ^= static_cast<std::uint8_t>(0x5B + i);
            check(picture);
        }
    }
}

// Runs of every length from 1 to 300 symbols, and pieces of 4096: short and
// long markers, and the lengths whose marker 7 count would read as marker 23.
TEST(Decode, PredictiveRunsOfEveryLengthDecode) {
    for (std::uint32_t w = 1; w <= 300; ++w) {
        for (std::uint32_t h : {1u, 2u}) {
            Picture p{std::vector<std::uint8_t>(std::size_t{w} * h * 4, 0), w, h, 4 * w};
            p.px[0] = 200;  // then a run of zero residuals to the end of each row
            p.px[4 * (w - 1) + 1] = 17;
            const Decoded d = Decode(EncodeType(p, adapter::kCodecPredictive), w, h);
            ASSERT_EQ(d.status, DecodeStatus::kOk) << w << "x" << h;
            ASSERT_TRUE(SamePixels(p, d, false)) << w << "x" << h;
        }
    }
    Picture pieces{std::vector<std::uint8_t>(9000 * 4, 0), 9000, 1, 9000 * 4};
    pieces.px[0] = 9;
    pieces.px[4 * 8191 + 2] = 3;
    const Decoded d = Decode(EncodeType(pieces, adapter::kCodecPredictive), 9000, 1);
    ASSERT_EQ(d.status, DecodeStatus::kOk);
    EXPECT_TRUE(SamePixels(pieces, d, false));
}

// Stripes of two rows cycling through four colours (44 x 57, stride 191).
constexpr std::uint8_t kStripeColours[4][3] = {
    {156, 82, 70}, {149, 113, 54}, {143, 87, 246}, {57, 29, 22}};

Picture Stripes() {
    constexpr std::uint32_t kW = 44, kH = 57, kStride = 191;
    Picture p{std::vector<std::uint8_t>(std::size_t{kStride} * kH, 0), kW, kH, kStride};
    for (std::uint32_t y = 0; y < kH; ++y) {
        for (std::uint32_t x = 0; x < kW; ++x) {
            for (unsigned k = 0; k < 3; ++k)
                p.px[y * kStride + 4 * x + k] = kStripeColours[y / 2 % 4][k];
        }
    }
    return p;
}

// Stripes of two rows are long zero runs; two short breaks in them put runs
// of both markers' kinds next to one another. A full HD photo has runs of
// every kind in every row.
TEST(Decode, PredictiveStripesAndPhotosDecode) {
    Picture broken = Stripes();
    auto paint = [&](std::uint32_t y, std::array<unsigned, 4> colours) {
        for (std::uint32_t i = 0; i < 4; ++i) {
            std::memcpy(&broken.px[y * broken.stride + 4 * (28 + i)], kStripeColours[colours[i]],
                        3);
        }
    };
    paint(3, {2, 2, 2, 0});
    paint(33, {1, 2, 1, 3});
    for (const Picture& p : {Stripes(), broken, Make("photo", 1920, 1080)}) {
        const Decoded d = Decode(EncodeType(p, adapter::kCodecPredictive), p.w, p.h);
        ASSERT_EQ(d.status, DecodeStatus::kOk) << decode::DecodeStatusText(d.status);
        EXPECT_TRUE(SamePixels(p, d, false));
    }
}

// A progressive JPEG reads all its scans before it writes a row. Here a
// warning (stray bytes before the last scan) comes first and a fatal error
// (an unknown component in that scan) stops the decode: TurboJPEG then
// reports a warning, but nothing was drawn, and that is no picture.
TEST(Decode, JpegWhoseDecodeStoppedBeforeDrawingIsCorrupt) {
    constexpr int kSide = 64;
    std::vector<std::uint8_t> rgb(kSide * kSide * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7);
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(tj, rgb.data(), kSide, 0, kSide, TJPF_RGB, &jpeg, &size, TJSAMP_420, 90,
                          TJFLAG_PROGRESSIVE),
              0);
    std::vector<std::uint8_t> data(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(tj);
    std::size_t lastScan = 0;
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0xFF && data[i + 1] == 0xDA) lastScan = i;
    }
    ASSERT_GT(lastScan, 0u);
    data[lastScan + 5] = 0x77;  // the scan's first component selector
    data.insert(data.begin() + static_cast<std::ptrdiff_t>(lastScan), {1, 2, 3});

    std::vector<std::uint8_t> picture(adapter::kCodecHeaderSize);
    adapter::CodecHeader h;
    h.codecType = adapter::kCodecJpeg;
    h.width = h.height = kSide;
    h.parts[0] = static_cast<std::uint32_t>(data.size());
    ASSERT_TRUE(adapter::WriteCodecHeader(picture, h));
    picture.insert(picture.end(), data.begin(), data.end());
    EXPECT_EQ(Decode(picture, kSide, kSide).status, DecodeStatus::kCorrupt);
}
