// Decoder of the predictive coder (CodecType 4).
//
// Each channel's stream is read in one pass, channel 0 first: a channel's
// values are predicted from those of the channel before it, which are then
// all in the target. The tokens form a prefix code. Bits 1,1,1,0 begin a run
// marker and the next bit tells which: 1 for marker 23 (12-bit count), 0 for
// marker 7 (6-bit count), whose counts the encoder keeps to multiples of four
// for that reason. Any other start is a symbol's code.
//
// Only what the encoder writes is taken: a value outside 0..255, a run past
// the picture's last symbol, or a stream that does not end where its end
// marks (the 0xFF byte after the last counted byte, zero padding to 16) say
// it ends is a corrupt picture.
#include "codec/decode/decoders.h"
#include "protocol/adapter/predictive_model.h"

namespace orv::decode {
namespace {

using namespace adapter::predictive;

enum class Read { kOk, kInvalid, kTruncated };

DecodeStatus Failure(Read r) {
    return r == Read::kTruncated ? DecodeStatus::kTruncated : DecodeStatus::kCorrupt;
}

// The code of one symbol at `pos`.
Read ReadCode(const BitReader& bits, std::size_t pos, std::uint16_t& s, unsigned& length) {
    if (!bits.Has(pos, 1)) return Read::kTruncated;
    const std::uint32_t b = bits.Peek(pos, 14);
    if ((b & 1) != 0) {
        if ((b & 2) == 0) {
            s = 0, length = 2;
        } else if ((b & 4) == 0) {
            s = 1, length = 3;
        } else if ((b & 8) != 0) {
            s = static_cast<std::uint16_t>(b >> 4), length = 14;
            if (s < 21) return Read::kInvalid;
        } else {
            return Read::kInvalid;
        }
    } else if ((b & 2) != 0) {
        s = (b & 4) != 0 ? 3 : 2, length = 3;
    } else {
        const unsigned zeros = b == 0 ? 14 : static_cast<unsigned>(__builtin_ctz(b));
        if (zeros > 10) return bits.Has(pos, zeros + 1) ? Read::kInvalid : Read::kTruncated;
        s = static_cast<std::uint16_t>(2 * zeros + ((b >> (zeros + 1)) & 1));
        length = zeros + 2;
        if (s > 20) return Read::kInvalid;
    }
    return bits.Has(pos, length) ? Read::kOk : Read::kTruncated;
}

// The number of symbols a token at `pos` stands for, past its run marker if
// it has one (1 and `pos` unchanged if not).
Read ReadCount(const BitReader& bits, std::size_t& pos, std::uint32_t& count) {
    count = 1;
    if (bits.Peek(pos, 4) != 7) return Read::kOk;  // bits 1,1,1,0
    const bool marker23 = bits.Peek(pos + 4, 1) != 0;
    const unsigned head = marker23 ? 5 : 3;
    const unsigned countBits = marker23 ? 12 : 6;
    if (!bits.Has(pos, head + countBits)) return Read::kTruncated;
    count = bits.Peek(pos + head, countBits) + 1;
    pos += head + countBits;
    return Read::kOk;
}

// True when the stream's last symbol ends at bit `pos`: the remaining bits of
// its byte are 0, the next byte is 0xFF and only zeros follow, up to the
// part's 16-byte padded end.
bool EndsAt(bytes::ConstBytes part, std::size_t pos) {
    const std::size_t f = pos / 8 + 1;
    if (part.size() != (f + 1 + 15) / 16 * 16 || part[f] != 0xFF) return false;
    if ((part[f - 1] >> (pos % 8)) != 0) return false;
    for (std::size_t i = f + 1; i < part.size(); ++i) {
        if (part[i] != 0) return false;
    }
    return true;
}

// Rebuilds byte k of the pixel at (x, y) from its symbol's residual; false
// when the value falls outside 0..255, which no encoder output gives.
bool RebuildPixel(const Target& t, unsigned k, std::uint32_t x, std::uint32_t y, int residual) {
    std::uint8_t* row = t.origin + std::size_t{y} * t.stride;
    const std::uint8_t* above = y > 0 ? row - t.stride : nullptr;
    const Neighbours n = NeighboursOf(row, above, x, k);
    const Choice choice = Choose(n.a, n.b, n.c);
    int v = residual + Predict(choice, n.a, n.b, n.c);
    if (k > 0) {
        const Neighbours p = NeighboursOf(row, above, x, k - 1);
        v += row[4 * x + k - 1] - Predict(choice, p.a, p.b, p.c);
    }
    v &= 1023;
    if (v > 255) return false;
    row[4 * x + k] = static_cast<std::uint8_t>(v);
    return true;
}

DecodeStatus DecodeChannel(bytes::ConstBytes part, unsigned k, const Target& t) {
    const BitReader bits(part);
    if (!bits.Has(0, kHeaderBits)) return DecodeStatus::kTruncated;
    if (bits.Peek(0, kHeaderBits) != StreamHeader(k)) return DecodeStatus::kCorrupt;
    const std::uint32_t total = t.width * t.height;
    std::size_t pos = kHeaderBits;
    std::uint32_t x = 0, y = 0;
    for (std::uint32_t n = 0; n < total;) {
        std::uint32_t count = 0;
        std::uint16_t symbol = 0;
        unsigned length = 0;
        if (const Read r = ReadCount(bits, pos, count); r != Read::kOk) return Failure(r);
        if (const Read r = ReadCode(bits, pos, symbol, length); r != Read::kOk) return Failure(r);
        pos += length;
        if (count > total - n) return DecodeStatus::kCorrupt;
        const int residual = Residual(symbol);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!RebuildPixel(t, k, x, y, residual)) return DecodeStatus::kCorrupt;
            if (++x == t.width) x = 0, ++y;
        }
        n += count;
    }
    return EndsAt(part, pos) ? DecodeStatus::kOk : DecodeStatus::kCorrupt;
}

}  // namespace

DecodeStatus DecodePredictive(const PartSpans& parts, const Target& t) {
    if (std::uint64_t{t.width} * t.height > UINT32_MAX / 2) return DecodeStatus::kUnsupported;
    for (unsigned k = 0; k < 3; ++k) {
        if (const DecodeStatus s = DecodeChannel(parts[k], k, t); s != DecodeStatus::kOk) return s;
    }
    return DecodeStatus::kOk;
}

}  // namespace orv::decode
