// Decoders of the plane delta coder (CodecType 1) and the cache coder
// (CodecType 2). Each restores bytes B, G and R, one part per byte.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "codec/decode/decoders.h"

namespace orv::decode {
namespace {

// Reads the tokens of one row of `width` values from `in` at `pos` into
// `row`. Literals are taken as they are.
DecodeStatus ReadRow(bytes::ConstBytes in, std::size_t& pos, std::uint8_t* row,
                     std::uint32_t width) {
    std::uint32_t x = 0;
    while (x < width) {
        if (pos >= in.size()) return DecodeStatus::kTruncated;
        const std::uint8_t h = in[pos++];
        const unsigned hi = h >> 4;
        const unsigned lo = h & 15;
        std::uint32_t literals = 0;
        std::uint32_t repeats = 0;
        if (lo == 1 || lo == 2) {
            repeats = 16 * lo + hi;
        } else {
            literals = hi;
            repeats = lo;
        }
        // A token repeats something written before it in the same row, and
        // never runs past the row's end.
        if ((literals == 0 && (x == 0 || repeats == 0)) || literals + repeats > width - x) {
            return DecodeStatus::kCorrupt;
        }
        if (!bytes::Fits(in.size(), pos, literals)) return DecodeStatus::kTruncated;
        std::memcpy(row + x, in.data() + pos, literals);
        pos += literals;
        x += literals;
        std::memset(row + x, row[x - 1], repeats);
        x += repeats;
    }
    return DecodeStatus::kOk;
}

DecodeStatus DecodeDeltaPlane(bytes::ConstBytes in, unsigned k, const Target& t,
                              std::uint8_t* row) {
    std::size_t pos = 0;
    std::uint8_t* dst = t.origin + k;
    if (const DecodeStatus s = ReadRow(in, pos, row, t.width); s != DecodeStatus::kOk) return s;
    for (std::uint32_t x = 0; x < t.width; ++x) dst[4 * x] = row[x];
    for (std::uint32_t y = 1; y < t.height; ++y) {
        const std::uint8_t* above = dst;
        dst += t.stride;
        if (const DecodeStatus s = ReadRow(in, pos, row, t.width); s != DecodeStatus::kOk) {
            return s;
        }
        for (std::uint32_t x = 0; x < t.width; ++x) {
            const unsigned m = row[x];
            const int diff =
                (m & 1) != 0 ? -static_cast<int>((m + 1) / 2) : static_cast<int>(m / 2);
            dst[4 * x] = static_cast<std::uint8_t>(above[4 * x] + diff);
        }
    }
    return DecodeStatus::kOk;
}

// Writes values in raster order into one byte of every pixel of the target.
class PixelCursor {
public:
    PixelCursor(const Target& t, unsigned k) : t_(t), row_(t.origin + k) {}

    bool Put(std::uint8_t v, std::uint32_t n) {
        if (n > left_) return false;
        left_ -= n;
        while (n > 0) {
            const std::uint32_t m = std::min(n, t_.width - x_);
            for (std::uint32_t i = 0; i < m; ++i) row_[4 * (x_ + i)] = v;
            n -= m;
            x_ += m;
            if (x_ == t_.width) {
                x_ = 0;
                row_ += t_.stride;
            }
        }
        return true;
    }
    bool Done() const { return left_ == 0; }

private:
    const Target& t_;
    std::uint8_t* row_;
    std::uint32_t x_ = 0;
    std::uint64_t left_ = std::uint64_t{t_.width} * t_.height;
};

DecodeStatus DecodeCacheChannel(bytes::ConstBytes in, unsigned k, const Target& t) {
    const BitReader bits(in);
    std::array<std::uint8_t, 15> slot{};
    std::array<bool, 15> slotUsed{};
    PixelCursor out(t, k);
    std::size_t pos = 0;
    while (!out.Done()) {
        const std::uint32_t b = bits.Peek(pos, 32);
        unsigned length = 0;
        unsigned which = 0;
        std::uint32_t count = 1;
        bool literal = false;
        if ((b & 1) == 0) {
            length = 1;
        } else if ((b & 3) == 1) {
            length = 2;
            which = 1;
        } else {
            const unsigned q = (b >> 2) & 15;
            if (q <= 12) {
                length = 6;
                which = q + 2;
            } else if (q == 15) {
                length = 14;
                literal = true;
            } else if (q == 14) {
                length = 18;
                which = (b >> 6) & 15;
                if (!bits.Has(pos, length)) return DecodeStatus::kTruncated;
                if (which >= slot.size()) return DecodeStatus::kCorrupt;
                slot[which] = static_cast<std::uint8_t>(b >> 10);
                slotUsed[which] = true;
                pos += length;
                continue;
            } else {
                const unsigned kind = (b >> 6) & 3;
                const unsigned countBits = (kind & 2) != 0 ? 12 : 6;
                length = 8 + countBits;
                which = kind & 1;
                count = (b >> 8) & ((1u << countBits) - 1);
                if (count == 0) return DecodeStatus::kCorrupt;
            }
        }
        if (!bits.Has(pos, length)) return DecodeStatus::kTruncated;
        if (!literal && !slotUsed[which]) return DecodeStatus::kCorrupt;
        const std::uint8_t v = literal ? static_cast<std::uint8_t>(b >> 6) : slot[which];
        if (!out.Put(v, count)) return DecodeStatus::kCorrupt;
        pos += length;
    }
    return DecodeStatus::kOk;
}

}  // namespace

DecodeStatus DecodePlaneDelta(const PartSpans& parts, const Target& t) {
    std::vector<std::uint8_t> row(t.width);
    for (unsigned k = 0; k < 3; ++k) {
        if (const DecodeStatus s = DecodeDeltaPlane(parts[k], k, t, row.data());
            s != DecodeStatus::kOk) {
            return s;
        }
    }
    return DecodeStatus::kOk;
}

DecodeStatus DecodeCache(const PartSpans& parts, const Target& t) {
    for (unsigned k = 0; k < 3; ++k) {
        if (const DecodeStatus s = DecodeCacheChannel(parts[k], k, t); s != DecodeStatus::kOk) {
            return s;
        }
    }
    return DecodeStatus::kOk;
}

}  // namespace orv::decode
