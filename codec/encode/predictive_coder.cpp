// Predictive coder (CodecType 4): the prediction model of predictive_model.h
// turns the B, G and R bytes into three symbol arrays, which are entropy coded
// into parts 1, 2 and 3.
//
// Symbols are computed eight pixels at a time with 128-bit integer vectors of
// 16-bit lanes; the first row, and the first (width mod 8) pixels of every
// further row (8 when the width is a multiple of 8), go one at a time, so the
// vector part always has a left neighbour and handles whole groups of eight.
// Both paths give identical symbols.
#include <cstring>
#include <utility>
#include <vector>

#include "codec/encode/coders.h"
#include "protocol/adapter/predictive_model.h"

namespace orv::codec {
namespace {

using namespace adapter::predictive;

using V8 = std::int16_t __attribute__((vector_size(16)));
using Pixels8 = std::uint32_t __attribute__((vector_size(32)));  // eight BGRX pixels

inline V8 Load(const std::int16_t* p) {
    V8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline V8 Select(V8 mask, V8 yes, V8 no) {
    return (mask & yes) | (~mask & no);
}

// Symbols of one pixel, scalar. `cur` and `above` point at their rows;
// `above` is null on the first row.
inline void ScalarPixel(const std::uint8_t* cur, const std::uint8_t* above, std::size_t x,
                        std::uint16_t* const out[3], std::size_t idx) {
    Neighbours n[3];
    for (unsigned k = 0; k < 3; ++k) n[k] = NeighboursOf(cur, above, x, k);
    auto error = [&](unsigned k, Choice c) {
        return cur[4 * x + k] - Predict(c, n[k].a, n[k].b, n[k].c);
    };
    Choice choice = Choose(n[0].a, n[0].b, n[0].c);
    out[0][idx] = static_cast<std::uint16_t>(Symbol(error(0, choice)));
    for (unsigned k = 1; k < 3; ++k) {
        choice = Choose(n[k].a, n[k].b, n[k].c);
        out[k][idx] = static_cast<std::uint16_t>(Symbol(error(k, choice) - error(k - 1, choice)));
    }
}

// Symbols of eight pixels from x on, from the channel rows `cur` and `above`
// (16-bit, one array per channel); x >= 1.
inline void VectorGroup(const std::int16_t* const cur[3], const std::int16_t* const above[3],
                        std::size_t x, std::uint16_t* const out[3], std::size_t idx) {
    V8 a[3], b[3], c[3], v[3];
    for (unsigned k = 0; k < 3; ++k) {
        a[k] = Load(cur[k] + x - 1);
        b[k] = Load(above[k] + x);
        c[k] = Load(above[k] + x - 1);
        v[k] = Load(cur[k] + x);
    }
    for (unsigned k = 0; k < 3; ++k) {
        const V8 aLeB = a[k] <= b[k];
        const V8 maxAB = Select(aLeB, b[k], a[k]);
        const V8 minAB = Select(aLeB, a[k], b[k]);
        const V8 highC = c[k] >= maxAB;
        const V8 lowC = ~highC & (c[k] <= minAB);
        const V8 left = (highC & aLeB) | (lowC & (a[k] >= b[k]));
        const V8 up = (highC | lowC) & ~left;
        const V8 grad = ~(left | up);
        V8 r = v[k] - ((left & a[k]) | (up & b[k]) | (grad & (a[k] + b[k] - c[k])));
        if (k > 0) {
            const unsigned j = k - 1;
            r -= v[j] - ((left & a[j]) | (up & b[j]) | (grad & (a[j] + b[j] - c[j])));
        }
        r += (r < 0) & 1024;
        r -= (r >= 512) & 1024;
        const V8 symbol = (r << 1) ^ (r >> 15);
        std::memcpy(out[k] + idx, &symbol, sizeof symbol);
    }
}

void ComputeSymbols(const PictureDescriptor& d, std::uint16_t* const out[3], bool scalarOnly) {
    const std::size_t w = d.width;
    const std::uint8_t* cur = d.pixels.data();
    for (std::size_t x = 0; x < w; ++x) ScalarPixel(cur, nullptr, x, out, x);
    const std::size_t head = w % 8 == 0 ? 8 : w % 8;
    const bool vectors = !scalarOnly && w > head;
    std::vector<std::int16_t> rows(vectors ? 6 * w : 0);
    std::int16_t* curRow[3];
    std::int16_t* aboveRow[3];
    for (unsigned k = 0; k < 3 && vectors; ++k) {
        curRow[k] = rows.data() + k * w;
        aboveRow[k] = rows.data() + (3 + k) * w;
    }
    auto spread = [w](const std::uint8_t* src, std::int16_t* const dst[3]) {
        std::size_t x = 0;
        for (; x + 8 <= w; x += 8) {
            Pixels8 p;
            std::memcpy(&p, src + 4 * x, sizeof p);
            for (unsigned k = 0; k < 3; ++k) {
                const V8 channel = __builtin_convertvector((p >> (8 * k)) & 0xFF, V8);
                std::memcpy(dst[k] + x, &channel, sizeof channel);
            }
        }
        for (; x < w; ++x) {
            for (unsigned k = 0; k < 3; ++k) dst[k][x] = src[4 * x + k];
        }
    };
    if (vectors) spread(cur, curRow);
    for (std::uint32_t y = 1; y < d.height; ++y) {
        const std::uint8_t* above = cur;
        cur += d.stride;
        const std::size_t base = std::size_t{y} * w;
        if (!vectors) {
            for (std::size_t x = 0; x < w; ++x) ScalarPixel(cur, above, x, out, base + x);
            continue;
        }
        for (unsigned k = 0; k < 3; ++k) std::swap(curRow[k], aboveRow[k]);
        spread(cur, curRow);
        for (std::size_t x = 0; x < head; ++x) ScalarPixel(cur, above, x, out, base + x);
        for (std::size_t x = head; x < w; x += 8) VectorGroup(curRow, aboveRow, x, out, base + x);
    }
}

struct CodeTable {
    Code codes[1024];
    CodeTable() {
        for (unsigned s = 0; s < 1024; ++s) codes[s] = SymbolCode(s);
    }
};

const CodeTable& Codes() {
    static const CodeTable table;
    return table;
}

void WriteRun(BitWriter& bits, Code code, std::size_t length) {
    while (length > kMaxRun) {
        bits.Put(0x1FFF7, 17);
        bits.Put(code.value, code.length);
        length -= kMaxRun;
    }
    if ((length - 1) * code.length > 10) {
        // Marker 7 (bits 1,1,1) is followed by its count, least significant
        // bit first: a count of 4k + 2 would make the first five bits read
        // 1,1,1,0,1, which is marker 23, and an odd one 1,1,1,1, a symbol's
        // code. Such runs take marker 23 and its 12-bit count as long runs
        // do, so that every stream reads one way only.
        if (length >= 65 || (length - 1) % 4 != 0) {
            bits.Put(23, 5);
            bits.Put(static_cast<std::uint32_t>(length - 1), 12);
        } else {
            bits.Put(7, 3);
            bits.Put(static_cast<std::uint32_t>(length - 1), 6);
        }
        bits.Put(code.value, code.length);
    } else {
        for (std::size_t i = 0; i < length; ++i) bits.Put(code.value, code.length);
    }
}

// Entropy codes `n` symbols (followed by the two end values) into `out`;
// returns the padded part length, 0 when it does not fit.
std::size_t CodeChannel(const std::uint16_t* sym, std::size_t n, unsigned part,
                        bytes::MutBytes out) {
    const Code* codes = Codes().codes;
    BitWriter bits(out);
    bits.Put(StreamHeader(part), kHeaderBits);
    bits.Put(codes[sym[0]].value, codes[sym[0]].length);
    std::size_t i = 1;
    while (i < n) {
        const std::uint16_t s = sym[i];
        if (sym[i + 1] == s && sym[i + 2] == s) {
            std::size_t length = 3;
            // Through flat content eight at a time: four steps of two.
            const V8 same = V8{} + static_cast<std::int16_t>(s);
            for (V8 next; i + length + 8 <= n; length += 8) {
                std::memcpy(&next, sym + i + length, sizeof next);
                const V8 equal = next == same;
                std::uint64_t halves[2];
                std::memcpy(halves, &equal, sizeof halves);
                if ((halves[0] & halves[1]) != ~std::uint64_t{0}) break;
            }
            while (sym[i + length] == s && sym[i + length + 1] == s) length += 2;
            WriteRun(bits, codes[s], length);
            i += length;
        } else {
            bits.Put(codes[s].value, codes[s].length);
            ++i;
        }
    }
    const std::size_t counted = bits.Finish();
    const std::size_t padded = RoundUp16(counted + 1);
    if (!bits.Ok() || !ZeroFill(out, counted, padded)) return 0;
    out[counted] = 0xFF;
    return padded;
}

}  // namespace

bool EncodePredictive(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts,
                      CoderScratch& scratch) {
    // The symbol arrays are sized for the picture: any size is coded.
    const std::size_t n = std::size_t{d.width} * d.height;
    scratch.symbols.resize(3 * (n + 2));
    std::uint16_t* channel[3];
    for (unsigned k = 0; k < 3; ++k) {
        channel[k] = scratch.symbols.data() + k * (n + 2);
        channel[k][n] = kSymbolEnd;
        channel[k][n + 1] = kSymbolEnd2;
    }
    ComputeSymbols(d, channel, scratch.scalarOnly);
    std::size_t offset = 0;
    for (unsigned k = 0; k < 3; ++k) {
        const std::size_t len = CodeChannel(channel[k], n, k, out.subspan(offset));
        if (len == 0) return false;
        parts[k] = static_cast<std::uint32_t>(len);
        offset += len;
    }
    return true;
}

}  // namespace orv::codec
