// The picture coders on 1920 x 1080 pictures (desktop-like and photo-like),
// each beside its anchor measured in the same run:
//   raw copy            memcpy of the same bytes
//   JPEG, code 224      TurboJPEG called directly on the same input
//   predictive coder    CharLS JPEG-LS lossless, and LZ4 default, same picture
//   delta, cache coders LZ4 default on the same bytes
// Counters: MPixel/s and the compressed size in bytes.
#include <benchmark/benchmark.h>
#include <charls/charls.h>
#include <lz4.h>
#include <turbojpeg.h>

#include <cstring>
#include <vector>

#include "codec/encode/picture_encoder.h"
#include "tools/orvcodec/test_pictures.h"

using namespace orv;

namespace {

constexpr std::uint32_t kWidth = 1920;
constexpr std::uint32_t kHeight = 1080;
constexpr int kQuality = 90;
constexpr const char* kContent[] = {"desktop", "photo"};

const std::vector<std::uint8_t>& Picture(std::int64_t content) {
    static const std::vector<std::uint8_t> pictures[] = {
        orvcodec::MakePattern("desktop", kWidth, kHeight),
        orvcodec::MakePattern("photo", kWidth, kHeight)};
    return pictures[content];
}

codec::PictureDescriptor Describe(std::int64_t content, std::uint32_t code) {
    codec::PictureDescriptor d;
    d.pixels = Picture(content);
    d.width = kWidth;
    d.height = kHeight;
    d.stride = 4 * kWidth;
    d.compressionCode = code;
    d.quality = kQuality;
    return d;
}

// The code-228 picture of a content, the input of code 224.
const std::vector<std::uint8_t>& YuvPicture(std::int64_t content) {
    static std::vector<std::uint8_t> pictures[2];
    auto& p = pictures[content];
    if (p.empty()) {
        const auto d = Describe(content, adapter::kCompressYuv);
        p.resize(codec::MaxPictureLength(d));
        std::uint32_t length = 0;
        // Empty when nothing was encoded; its users then skip with an error.
        (void)codec::PictureEncoder().Encode(d, p, length);
        p.resize(length);
    }
    return p;
}

void Report(benchmark::State& state, std::size_t bytes) {
    state.SetLabel(kContent[state.range(0)]);
    state.counters["MPixel/s"] = benchmark::Counter(double(kWidth) * kHeight / 1e6,
                                                    benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bytes"] = double(bytes);
}

// Our encoder, by compression code or (negative) by table entry.
void Encode(benchmark::State& state, std::uint32_t code, bool byType) {
    auto d = Describe(state.range(0), code);
    if (!byType && code == adapter::kCompressJpegFromYuv) d.pixels = YuvPicture(state.range(0));
    std::vector<std::uint8_t> out(byType ? codec::MaxPictureLengthForType(d, code)
                                         : codec::MaxPictureLength(d));
    codec::PictureEncoder enc;
    std::uint32_t length = 0;
    // A picture that encodes to nothing shows as 0 bytes in the report.
    for (auto _ : state) {
        if (byType)
            (void)enc.EncodeType(d, code, out, length);
        else
            (void)enc.Encode(d, out, length);
        benchmark::DoNotOptimize(out.data());
    }
    Report(state, length);
}

void BM_RawCopy(benchmark::State& s) {
    Encode(s, adapter::kCompressRaw, false);
}
void BM_Jpeg(benchmark::State& s) {
    Encode(s, adapter::kCodecJpeg, true);
}
void BM_JpegFromYuv(benchmark::State& s) {
    Encode(s, adapter::kCompressJpegFromYuv, false);
}
void BM_Yuv(benchmark::State& s) {
    Encode(s, adapter::kCompressYuv, false);
}
void BM_PlaneDelta(benchmark::State& s) {
    Encode(s, adapter::kCodecPlaneDelta, true);
}
void BM_Cache(benchmark::State& s) {
    Encode(s, adapter::kCompressCache, false);
}
void BM_Predictive(benchmark::State& s) {
    Encode(s, adapter::kCompressPredictive, false);
}

void BM_Anchor_Memcpy(benchmark::State& state) {
    const auto& src = Picture(state.range(0));
    std::vector<std::uint8_t> dst(src.size() + 32);
    for (auto _ : state) {
        std::memcpy(dst.data() + 32, src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
    }
    Report(state, src.size());
}

// TurboJPEG called directly, one handle for the whole run, straight into a
// buffer of the worst-case size.
template <typename Compress>
void TurboJpegAnchor(benchmark::State& state, Compress compress) {
    tjhandle tj = tjInitCompress();
    std::vector<std::uint8_t> dst(tjBufSize(kWidth, kHeight, TJSAMP_420));
    unsigned long size = 0;
    for (auto _ : state) {
        unsigned char* p = dst.data();
        size = dst.size();
        compress(tj, &p, &size);
    }
    tjDestroy(tj);
    Report(state, size);
}

void BM_Anchor_TurboJpeg(benchmark::State& state) {
    const auto& src = Picture(state.range(0));
    TurboJpegAnchor(state, [&](tjhandle tj, unsigned char** p, unsigned long* size) {
        tjCompress2(tj, src.data(), kWidth, 4 * kWidth, kHeight, TJPF_BGRX, p, size, TJSAMP_420,
                    kQuality, TJFLAG_NOREALLOC);
    });
}

void BM_Anchor_TurboJpegFromYuv(benchmark::State& state) {
    const auto& yuv = YuvPicture(state.range(0));
    adapter::CodecHeader h;
    if (!adapter::ReadCodecHeader(yuv, h)) {
        state.SkipWithError("no YUV picture to start from");
        return;
    }
    const unsigned char* planes[3] = {yuv.data() + 32, yuv.data() + 32 + h.parts[0],
                                      yuv.data() + 32 + h.parts[0] + h.parts[1]};
    TurboJpegAnchor(state, [&](tjhandle tj, unsigned char** p, unsigned long* size) {
        tjCompressFromYUVPlanes(tj, planes, kWidth, nullptr, kHeight, TJSAMP_420, p, size, kQuality,
                                TJFLAG_NOREALLOC);
    });
}

void BM_Anchor_CharLS(benchmark::State& state) {
    // JPEG-LS takes packed BGR; the conversion is done once, outside the loop.
    const auto& src = Picture(state.range(0));
    std::vector<std::uint8_t> bgr;
    for (std::size_t i = 0; i < src.size(); i += 4)
        bgr.insert(bgr.end(), {src[i], src[i + 1], src[i + 2]});
    std::vector<std::uint8_t> dst(2 * bgr.size() + 4096);
    std::size_t size = 0;
    for (auto _ : state) {
        charls::jpegls_encoder encoder;
        encoder.frame_info({kWidth, kHeight, 8, 3})
            .interleave_mode(charls::interleave_mode::sample)
            .destination(dst);
        size = encoder.encode(bgr);
    }
    Report(state, size);
}

void BM_Anchor_Lz4(benchmark::State& state) {
    const auto& src = Picture(state.range(0));
    std::vector<char> dst(LZ4_compressBound(static_cast<int>(src.size())));
    int size = 0;
    for (auto _ : state) {
        size = LZ4_compress_default(reinterpret_cast<const char*>(src.data()), dst.data(),
                                    static_cast<int>(src.size()), static_cast<int>(dst.size()));
    }
    Report(state, static_cast<std::size_t>(size));
}

}  // namespace

#define ORV_CODEC_BENCH(fn) BENCHMARK(fn)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)
ORV_CODEC_BENCH(BM_RawCopy);
ORV_CODEC_BENCH(BM_Anchor_Memcpy);
ORV_CODEC_BENCH(BM_Jpeg);
ORV_CODEC_BENCH(BM_Anchor_TurboJpeg);
ORV_CODEC_BENCH(BM_JpegFromYuv);
ORV_CODEC_BENCH(BM_Anchor_TurboJpegFromYuv);
ORV_CODEC_BENCH(BM_Yuv);
ORV_CODEC_BENCH(BM_Predictive);
ORV_CODEC_BENCH(BM_Anchor_CharLS);
ORV_CODEC_BENCH(BM_PlaneDelta);
ORV_CODEC_BENCH(BM_Cache);
ORV_CODEC_BENCH(BM_Anchor_Lz4);

BENCHMARK_MAIN();
