// Round trips through every encoder and decoder, and decoders facing broken
// input.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "service/codec/picture_encoder.h"
#include "sim/decode/picture_decoder.h"
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
