#include "tools/orvcodec/orvcodec.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "codec/decode/picture_decoder.h"
#include "codec/encode/picture_encoder.h"
#include "common/png/png_io.h"
#include "tools/orvcodec/test_pictures.h"

namespace orv::orvcodec {
namespace {

using png::Image;
using png::ReadPng;
using png::WritePng;

constexpr const char* kUsage =
    "usage:\n"
    "  orvcodec encode (--code N | --codec-type N) [--quality Q]\n"
    "                  (--png FILE | --pattern NAME --size WxH) [--packet] -o OUT\n"
    "      writes the encoded picture (CodecHeader and data), or with --packet the\n"
    "      whole frame packet. --code takes a compression code (224, 226, 227, 228,\n"
    "      254); --codec-type runs an entry of the encoder table (0 raw, 1 plane\n"
    "      delta, 2 cache, 4 predictive, 8 JPEG, 16 YUV planes). Quality 1..100,\n"
    "      default 90.\n"
    "  orvcodec info FILE\n"
    "      prints the picture's header fields, one key=value a line; FILE is a\n"
    "      picture or a frame packet.\n"
    "  orvcodec decode FILE -o OUT.png\n"
    "      decodes a picture or frame packet to PNG.\n"
    "  orvcodec bench [--png FILE | --pattern NAME --size WxH] [--quality Q]\n"
    "                 [--iterations N]\n"
    "      encodes one picture with every code: MPixel/s and compression ratio.\n"
    "      Default: the desktop pattern at 1920x1080, 10 iterations.\n"
    "patterns: constant gradient desktop photo noise palette\n";

struct Options {
    std::string command;
    std::map<std::string, std::string> values;
    std::vector<std::string> files;
    bool packet = false;
};

// Parses "--name value" pairs, "--packet", "-o OUT" and plain file names.
bool Parse(std::span<const char* const> args, Options& o, std::ostream& err) {
    if (args.empty()) return false;
    o.command = args[0];
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string arg = args[i];
        if (arg == "--packet") {
            o.packet = true;
        } else if (arg == "-o" || (arg.size() > 2 && arg.rfind("--", 0) == 0)) {
            if (i + 1 >= args.size()) {
                err << "orvcodec: " << arg << " needs a value\n";
                return false;
            }
            o.values[arg == "-o" ? "out" : arg.substr(2)] = args[++i];
        } else {
            o.files.push_back(arg);
        }
    }
    return true;
}

bool Number(const Options& o, const std::string& key, std::uint32_t& value, std::ostream& err) {
    const auto it = o.values.find(key);
    if (it == o.values.end()) return true;
    try {
        std::size_t used = 0;
        const unsigned long v = std::stoul(it->second, &used, 0);
        if (used != it->second.size() || v > UINT32_MAX) throw std::out_of_range(key);
        value = static_cast<std::uint32_t>(v);
        return true;
    } catch (const std::exception&) {
        err << "orvcodec: --" << key << " wants a number, not '" << it->second << "'\n";
        return false;
    }
}

// The picture to encode: a PNG file or a generated pattern.
bool LoadPicture(const Options& o, Image& image, std::ostream& err, bool defaultPattern) {
    if (const auto png = o.values.find("png"); png != o.values.end()) {
        std::string error;
        if (!ReadPng(png->second, image, error)) {
            err << "orvcodec: " << error << "\n";
            return false;
        }
    } else {
        std::string pattern = defaultPattern ? "desktop" : "";
        std::string size = defaultPattern ? "1920x1080" : "";
        if (const auto it = o.values.find("pattern"); it != o.values.end()) pattern = it->second;
        if (const auto it = o.values.find("size"); it != o.values.end()) size = it->second;
        unsigned w = 0, h = 0;
        char x = 0;
        char rest = 0;
        if (std::sscanf(size.c_str(), "%u%c%u%c", &w, &x, &h, &rest) != 3 || x != 'x') {
            err << "orvcodec: give --png FILE, or --pattern NAME and --size WxH\n";
            return false;
        }
        image.width = w;
        image.height = h;
        image.bgrx = MakePattern(pattern, w, h);
        if (image.bgrx.empty() && w * h != 0) {
            err << "orvcodec: unknown pattern '" << pattern << "'\n";
            return false;
        }
    }
    if (image.width == 0 || image.height == 0 || image.width > 0xFFFF || image.height > 0xFFFF) {
        err << "orvcodec: the picture must measure 1 to 65535 pixels each way\n";
        return false;
    }
    return true;
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& data, std::ostream& err) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        err << "orvcodec: cannot open " << path << "\n";
        return false;
    }
    data.assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

bool WriteFile(const std::string& path, bytes::ConstBytes data, std::ostream& err) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out.flush()) {
        err << "orvcodec: cannot write " << path << "\n";
        return false;
    }
    return true;
}

codec::PictureDescriptor Describe(const Image& image, std::uint32_t code, std::uint32_t quality) {
    codec::PictureDescriptor d;
    d.pixels = image.bgrx;
    d.width = static_cast<std::uint16_t>(image.width);
    d.height = static_cast<std::uint16_t>(image.height);
    d.stride = 4 * image.width;
    d.compressionCode = code;
    d.quality = static_cast<int>(quality);
    return d;
}

// Encodes with a compression code; code 224 first makes the YUV picture it
// takes as input. Empty when nothing was encoded.
std::vector<std::uint8_t> EncodeCode(codec::PictureEncoder& enc, const Image& image,
                                     std::uint32_t code, std::uint32_t quality) {
    codec::PictureDescriptor d = Describe(image, code, quality);
    std::vector<std::uint8_t> yuv;
    if (code == adapter::kCompressJpegFromYuv) {
        yuv = EncodeCode(enc, image, adapter::kCompressYuv, quality);
        d.pixels = yuv;
    }
    std::vector<std::uint8_t> out(codec::MaxPictureLength(d));
    std::uint32_t length = 0;
    (void)enc.Encode(d, out, length);  // length stays 0 when nothing was encoded
    out.resize(length);
    return out;
}

std::vector<std::uint8_t> EncodeTableEntry(codec::PictureEncoder& enc, const Image& image,
                                           std::uint32_t type, std::uint32_t quality) {
    const codec::PictureDescriptor d = Describe(image, 0, quality);
    std::vector<std::uint8_t> out(codec::MaxPictureLengthForType(d, type));
    std::uint32_t length = 0;
    (void)enc.EncodeType(d, type, out, length);  // length stays 0 when nothing was encoded
    out.resize(length);
    return out;
}

int Encode(const Options& o, std::ostream& err) {
    const bool byCode = o.values.count("code") != 0;
    const bool byType = o.values.count("codec-type") != 0;
    std::uint32_t number = 0;
    std::uint32_t quality = 90;
    if (byCode == byType || o.values.count("out") == 0) {
        err << kUsage;
        return 2;
    }
    if (!Number(o, byCode ? "code" : "codec-type", number, err) ||
        !Number(o, "quality", quality, err)) {
        return 2;
    }
    Image image;
    if (!LoadPicture(o, image, err, false)) return 1;
    codec::PictureEncoder enc;
    std::vector<std::uint8_t> picture = byCode ? EncodeCode(enc, image, number, quality)
                                               : EncodeTableEntry(enc, image, number, quality);
    if (picture.empty()) {
        err << "orvcodec: nothing encoded (unknown code or unusable quality)\n";
        return 1;
    }
    if (!o.packet) return WriteFile(o.values.at("out"), picture, err) ? 0 : 1;
    std::vector<std::uint8_t> packet(adapter::kHeaderSize + picture.size() + 1, 0);
    std::copy(picture.begin(), picture.end(), packet.begin() + adapter::kHeaderSize);
    const std::uint32_t length =
        adapter::WriteFramePacketHeader(packet, static_cast<std::uint32_t>(picture.size()), 0);
    packet.resize(length);
    return WriteFile(o.values.at("out"), packet, err) ? 0 : 1;
}

// The picture in a file that holds a picture or a frame packet.
bool LoadEncoded(const Options& o, std::vector<std::uint8_t>& data, bytes::ConstBytes& picture,
                 std::ostream& err) {
    if (o.files.size() != 1) {
        err << kUsage;
        return false;
    }
    if (!ReadFile(o.files[0], data, err)) return false;
    picture = data;
    if (adapter::HasMagic(data)) {
        picture = adapter::FramePicture(data);
        if (picture.empty()) {
            err << "orvcodec: " << o.files[0] << ": frame packet shorter than its picture\n";
            return false;
        }
    }
    return true;
}

int Info(const Options& o, std::ostream& out, std::ostream& err) {
    std::vector<std::uint8_t> data;
    bytes::ConstBytes picture;
    if (!LoadEncoded(o, data, picture, err)) return 1;
    adapter::CodecHeader h;
    if (!adapter::ReadCodecHeader(picture, h)) {
        err << "orvcodec: " << o.files[0] << ": shorter than a picture header\n";
        return 1;
    }
    out << "codec_type=" << h.codecType << "\nx=" << h.x << "\ny=" << h.y << "\nheight=" << h.height
        << "\nwidth=" << h.width << "\npart1=" << h.parts[0] << "\npart2=" << h.parts[1]
        << "\npart3=" << h.parts[2] << "\npicture_length=" << h.PictureLength()
        << "\npacket_length=" << adapter::PacketLength(adapter::kHeaderSize + h.PictureLength())
        << "\n";
    return 0;
}

int Decode(const Options& o, std::ostream& err) {
    std::vector<std::uint8_t> data;
    bytes::ConstBytes picture;
    if (o.values.count("out") == 0) {
        err << kUsage;
        return 2;
    }
    if (!LoadEncoded(o, data, picture, err)) return 1;
    // Decode at 0/0 of a framebuffer of the picture's size.
    std::vector<std::uint8_t> copy(picture.begin(), picture.end());
    adapter::CodecHeader h;
    if (!adapter::ReadCodecHeader(copy, h) || h.width == 0 || h.height == 0 ||
        std::uint64_t{h.width} * h.height > (1u << 28)) {
        err << "orvcodec: " << o.files[0] << ": not a picture of a usable size\n";
        return 1;
    }
    bytes::PutU32(copy, adapter::kCodecOffX, 0);
    bytes::PutU32(copy, adapter::kCodecOffY, 0);
    Image image;
    image.width = h.width;
    image.height = h.height;
    image.bgrx.assign(std::size_t{h.width} * h.height * 4, 0xFF);
    const decode::DecodeStatus status =
        decode::DecodePicture(copy, {image.bgrx, h.width, h.height, 4 * h.width});
    if (status != decode::DecodeStatus::kOk) {
        err << "orvcodec: " << o.files[0] << ": " << decode::DecodeStatusText(status) << "\n";
        return 1;
    }
    std::string error;
    if (!WritePng(o.values.at("out"), image, error)) {
        err << "orvcodec: " << error << "\n";
        return 1;
    }
    return 0;
}

int Bench(const Options& o, std::ostream& out, std::ostream& err) {
    std::uint32_t quality = 90;
    std::uint32_t iterations = 10;
    if (!Number(o, "quality", quality, err) || !Number(o, "iterations", iterations, err)) return 2;
    Image image;
    if (!LoadPicture(o, image, err, true)) return 1;
    const double pixels = double(image.width) * image.height;
    struct Row {
        const char* name;
        bool byCode;
        std::uint32_t number;
    };
    const Row rows[] = {{"254 raw", true, 254},       {"228 yuv", true, 228},
                        {"224 jpeg/yuv", true, 224},  {"type 8 jpeg", false, 8},
                        {"type 1 delta", false, 1},   {"226 cache", true, 226},
                        {"227 predictive", true, 227}};
    codec::PictureEncoder enc;
    // Code 224 takes the YUV picture as its input; make it once.
    const std::vector<std::uint8_t> yuv = EncodeCode(enc, image, adapter::kCompressYuv, quality);
    out << std::left << std::setw(16) << "code" << std::right << std::setw(12) << "MPixel/s"
        << std::setw(12) << "bytes" << std::setw(10) << "ratio"
        << "\n";
    for (const Row& row : rows) {
        codec::PictureDescriptor d = Describe(image, row.number, quality);
        if (row.number == adapter::kCompressJpegFromYuv) d.pixels = yuv;
        std::vector<std::uint8_t> buffer(row.byCode
                                             ? codec::MaxPictureLength(d)
                                             : codec::MaxPictureLengthForType(d, row.number));
        std::uint32_t length = 0;
        const auto start = std::chrono::steady_clock::now();
        // A code that encodes nothing shows as 0 bytes in its row.
        for (std::uint32_t i = 0; i < std::max(1u, iterations); ++i) {
            if (row.byCode)
                (void)enc.Encode(d, buffer, length);
            else
                (void)enc.EncodeType(d, row.number, buffer, length);
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        out << std::left << std::setw(16) << row.name << std::right << std::fixed
            << std::setprecision(1) << std::setw(12)
            << pixels * std::max(1u, iterations) / seconds / 1e6 << std::setw(12) << length
            << std::setw(10) << std::setprecision(2)
            << (length == 0 ? 0.0 : pixels * 4 / double(length)) << "\n";
    }
    return 0;
}

}  // namespace

int Run(std::span<const char* const> args, std::ostream& out, std::ostream& err) {
    Options o;
    if (!args.empty() && (std::string(args[0]) == "--help" || std::string(args[0]) == "-h")) {
        out << kUsage;
        return 0;
    }
    if (!Parse(args, o, err)) {
        err << kUsage;
        return 2;
    }
    if (o.command == "encode") return Encode(o, err);
    if (o.command == "info") return Info(o, out, err);
    if (o.command == "decode") return Decode(o, err);
    if (o.command == "bench") return Bench(o, out, err);
    err << "orvcodec: unknown command '" << o.command << "'\n" << kUsage;
    return 2;
}

}  // namespace orv::orvcodec
