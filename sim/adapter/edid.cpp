#include "sim/adapter/edid.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace orv::sim {
namespace {

constexpr std::size_t kBlock = 128;
constexpr std::uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::size_t kDescriptor0 = 54;  // four 18-byte descriptors from here
constexpr std::size_t kDescriptorSize = 18;

void SealBlock(bytes::MutBytes block) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < kBlock; ++i) sum = static_cast<std::uint8_t>(sum + block[i]);
    block[kBlock - 1] = static_cast<std::uint8_t>(0x100 - sum);
}

// A display descriptor (tag 0xFC name, 0xFF serial): text up to 13
// characters, ended by a line feed and padded with spaces.
void TextDescriptor(bytes::MutBytes d, std::uint8_t tag, const std::string& text) {
    std::fill(d.begin(), d.end(), 0);
    d[3] = tag;
    const std::size_t n = std::min<std::size_t>(text.size(), 13);
    for (std::size_t i = 0; i < 13; ++i)
        d[5 + i] = i < n ? static_cast<std::uint8_t>(text[i]) : (i == n ? '\n' : ' ');
}

// Detailed timing with reduced blanking: 160 pixels across, 5% of the lines
// (at least 30) down.
void TimingDescriptor(bytes::MutBytes d, std::uint16_t w, std::uint16_t h, std::uint8_t refresh) {
    const std::uint32_t hb = 160;
    const std::uint32_t vb = std::max<std::uint32_t>(30, h / 20);
    const std::uint64_t clock10k = (std::uint64_t(w) + hb) * (h + vb) * refresh / 10000;
    bytes::PutU16(d, 0, static_cast<std::uint16_t>(std::min<std::uint64_t>(clock10k, 0xFFFF)));
    d[2] = static_cast<std::uint8_t>(w);
    d[3] = static_cast<std::uint8_t>(hb);
    d[4] = static_cast<std::uint8_t>(((w >> 8) & 0x0F) << 4 | ((hb >> 8) & 0x0F));
    d[5] = static_cast<std::uint8_t>(h);
    d[6] = static_cast<std::uint8_t>(vb);
    d[7] = static_cast<std::uint8_t>(((h >> 8) & 0x0F) << 4 | ((vb >> 8) & 0x0F));
    d[8] = 48;     // front porch
    d[9] = 32;     // sync width
    d[10] = 0x35;  // vertical front porch 3, sync 5
    d[11] = 0;
    d[12] = static_cast<std::uint8_t>(w / 4);  // image size in mm (about 0.25 mm a pixel)
    d[13] = static_cast<std::uint8_t>(h / 4);
    d[14] = static_cast<std::uint8_t>(((w / 4) >> 8) << 4 | ((h / 4) >> 8));
    d[17] = 0x1E;  // digital separate sync
}

}  // namespace

std::vector<std::uint8_t> GenerateEdid(const EdidParams& p) {
    const bool withExtension = p.size != kBlock;
    std::vector<std::uint8_t> e(withExtension ? 2 * kBlock : kBlock, 0);
    const bytes::MutBytes base(e.data(), kBlock);
    std::copy(std::begin(kHeader), std::end(kHeader), base.begin());
    // Manufacturer "ORV" in three 5-bit letters, big-endian.
    const std::uint16_t maker = ('O' - '@') << 10 | ('R' - '@') << 5 | ('V' - '@');
    base[8] = static_cast<std::uint8_t>(maker >> 8);
    base[9] = static_cast<std::uint8_t>(maker);
    bytes::PutU16(base, 10, 0x5A01);  // product code
    bytes::PutU32(base, 12, p.serial);
    base[16] = 1;   // week
    base[17] = 36;  // year 2026
    base[18] = 1;   // EDID 1.4
    base[19] = 4;
    base[20] = 0xA5;  // digital, 8 bits per colour, DisplayPort
    base[21] = static_cast<std::uint8_t>(std::min(255, p.width / 40));  // cm
    base[22] = static_cast<std::uint8_t>(std::min(255, p.height / 40));
    base[23] = 120;   // gamma 2.2
    base[24] = 0x06;  // preferred timing in the first descriptor, sRGB
    const std::uint8_t chroma[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
    std::copy(std::begin(chroma), std::end(chroma), base.begin() + 25);
    for (std::size_t i = 38; i < 54; ++i) base[i] = 0x01;  // no standard timings
    TimingDescriptor(base.subspan(kDescriptor0, kDescriptorSize), p.width, p.height, p.refresh);
    TextDescriptor(base.subspan(kDescriptor0 + kDescriptorSize, kDescriptorSize), 0xFC, p.name);
    TextDescriptor(base.subspan(kDescriptor0 + 2 * kDescriptorSize, kDescriptorSize), 0xFF,
                   "SIM" + std::to_string(p.serial));
    // Range limits: 24..75 Hz, 30..160 kHz, 600 MHz.
    const bytes::MutBytes range = base.subspan(kDescriptor0 + 3 * kDescriptorSize, kDescriptorSize);
    const std::uint8_t limits[] = {0,  0, 0,    0xFD, 0,    24,   75,   30,   160,
                                   60, 0, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20};
    std::copy(std::begin(limits), std::end(limits), range.begin());
    base[126] = withExtension ? 1 : 0;
    SealBlock(base);
    if (withExtension) {
        const bytes::MutBytes ext(e.data() + kBlock, kBlock);
        ext[0] = 0x02;  // CTA extension, revision 3, no data blocks
        ext[1] = 0x03;
        ext[2] = 4;
        SealBlock(ext);
    }
    return e;
}

std::string EdidProblem(bytes::ConstBytes edid) {
    if (edid.size() != 128 && edid.size() != 256)
        return "size " + std::to_string(edid.size()) + " is not 128 or 256";
    if (!std::equal(std::begin(kHeader), std::end(kHeader), edid.begin())) return "bad EDID header";
    for (std::size_t b = 0; b < edid.size(); b += kBlock) {
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < kBlock; ++i) sum = static_cast<std::uint8_t>(sum + edid[b + i]);
        if (sum != 0) return "block " + std::to_string(b / kBlock) + " checksum wrong";
    }
    return {};
}

std::optional<std::vector<std::uint8_t>> LoadEdidHex(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    std::string why = "cannot open";
    std::optional<std::vector<std::uint8_t>> edid;
    if (in) {
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        edid = ParseEdidHex(text, &why);
    }
    if (!edid && error) *error = path + ": " + why;
    return edid;
}

std::optional<std::vector<std::uint8_t>> ParseEdidHex(std::string_view text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<std::vector<std::uint8_t>> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (text.size() > 64 * 1024) return fail("file too large for an EDID");
    std::vector<std::uint8_t> out;
    int pending = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return fail("not a hex file");
        const int v =
            std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
        if (pending < 0) {
            pending = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(pending << 4 | v));
            pending = -1;
        }
    }
    if (pending >= 0) return fail("odd number of hex digits");
    const std::string problem = EdidProblem(out);
    if (!problem.empty()) return fail(problem);
    return out;
}

std::pair<std::uint16_t, std::uint16_t> EdidPreferredMode(bytes::ConstBytes edid) {
    const bytes::ConstBytes d = bytes::Slice(edid, kDescriptor0, kDescriptorSize);
    if (d.empty() || (d[0] == 0 && d[1] == 0)) return {0, 0};
    return {static_cast<std::uint16_t>(d[2] | (d[4] >> 4) << 8),
            static_cast<std::uint16_t>(d[5] | (d[7] >> 4) << 8)};
}

}  // namespace orv::sim
