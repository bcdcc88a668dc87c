// Plane delta coder (CodecType 1): bytes B, G and R each form a plane, coded
// into parts 1, 2 and 3. The first row goes as literal chunks; every further
// row as mapped differences from the row above, in tokens H (hi = H >> 4,
// lo = H & 15):
//   lo 1 or 2: the last written difference again 16 * lo + hi times;
//   otherwise: hi literal differences, then the last of them lo more times.
// Tokens never cross a row. Each part is padded with zeros to 16 bytes.
#include <vector>

#include "codec/encode/coders.h"

namespace orv::codec {
namespace {

// Output cursor that checks the room before every token.
class TokenWriter {
public:
    explicit TokenWriter(bytes::MutBytes out) : out_(out) {}

    bool Room(std::size_t n) {
        if (!bytes::Fits(out_.size(), pos_, n)) ok_ = false;
        return ok_;
    }
    void Byte(std::uint8_t b) { out_[pos_++] = b; }
    void Bytes(const std::uint8_t* p, std::size_t n) {
        std::memcpy(out_.data() + pos_, p, n);
        pos_ += n;
    }
    std::size_t Pos() const { return pos_; }
    bool Ok() const { return ok_; }

private:
    bytes::MutBytes out_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// Writes n literals as chunks: 0xF0 and 15 bytes while more than 15 remain,
// then n << 4 and the rest.
void WriteLiterals(TokenWriter& w, const std::uint8_t* p, std::size_t n) {
    while (n > 15) {
        if (!w.Room(16)) return;
        w.Byte(0xF0);
        w.Bytes(p, 15);
        p += 15;
        n -= 15;
    }
    if (n > 0 && w.Room(1 + n)) {
        w.Byte(static_cast<std::uint8_t>(n << 4));
        w.Bytes(p, n);
    }
}

// Writes a run: its start value `v` followed by r repeats.
void WriteRun(TokenWriter& w, std::uint8_t v, std::size_t r) {
    if (r <= 2) {
        if (!w.Room(r + 2)) return;
        w.Byte(static_cast<std::uint8_t>((r + 1) << 4));
        for (std::size_t i = 0; i <= r; ++i) w.Byte(v);
        return;
    }
    if (!w.Room(2)) return;
    if (r <= 15) {
        w.Byte(static_cast<std::uint8_t>(0x10 | r));
        w.Byte(v);
        return;
    }
    w.Byte(0x1F);
    w.Byte(v);
    std::size_t k = r - 15;
    while (k >= 48) {
        if (!w.Room(1)) return;
        w.Byte(0xF2);
        k -= 47;
    }
    if (k >= 16) {
        if (w.Room(1)) w.Byte(static_cast<std::uint8_t>(((k % 16) << 4) | (k / 16)));
    } else if (k >= 3) {
        if (w.Room(1)) w.Byte(static_cast<std::uint8_t>(k));
    } else if (k > 0 && w.Room(1 + k)) {
        w.Byte(static_cast<std::uint8_t>(k << 4));
        for (std::size_t i = 0; i < k; ++i) w.Byte(v);
    }
}

// Codes one row of mapped differences `m`.
void WriteDiffRow(TokenWriter& w, const std::uint8_t* m, std::size_t n) {
    std::size_t litStart = 0;  // first pending literal
    std::size_t repeats = 0;   // open run: its start is m[i - 1 - repeats]
    for (std::size_t i = 1; i < n; ++i) {
        if (m[i] == m[i - 1]) {
            if (repeats == 0) WriteLiterals(w, m + litStart, i - 1 - litStart);
            ++repeats;
        } else if (repeats > 0) {
            WriteRun(w, m[i - 1], repeats);
            repeats = 0;
            litStart = i;
        }
    }
    if (repeats > 0) {
        WriteRun(w, m[n - 1], repeats);
    } else {
        WriteLiterals(w, m + litStart, n - litStart);
    }
}

// Codes plane `k` into `out`; returns the padded length, 0 when it does not fit.
std::size_t EncodePlane(const PictureDescriptor& d, unsigned k, bytes::MutBytes out,
                        std::vector<std::uint8_t>& row) {
    TokenWriter w(out);
    const std::size_t width = d.width;
    const std::uint8_t* src = d.pixels.data() + k;
    for (std::size_t x = 0; x < width; ++x) row[x] = src[4 * x];
    WriteLiterals(w, row.data(), width);
    for (std::uint32_t y = 1; y < d.height; ++y) {
        const std::uint8_t* above = src;
        src += d.stride;
        for (std::size_t x = 0; x < width; ++x) {
            const auto diff = static_cast<std::int8_t>(src[4 * x] - above[4 * x]);
            row[x] = static_cast<std::uint8_t>(diff >= 0 ? 2 * diff : -2 * diff - 1);
        }
        WriteDiffRow(w, row.data(), width);
    }
    const std::size_t padded = RoundUp16(w.Pos());
    if (!w.Ok() || !ZeroFill(out, w.Pos(), padded)) return 0;
    return padded;
}

}  // namespace

bool EncodePlaneDelta(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts,
                      CoderScratch&) {
    std::vector<std::uint8_t> row(d.width);
    std::size_t offset = 0;
    for (unsigned k = 0; k < 3; ++k) {
        const std::size_t len = EncodePlane(d, k, out.subspan(offset), row);
        if (len == 0) return false;
        parts[k] = static_cast<std::uint32_t>(len);
        offset += len;
    }
    return true;
}

}  // namespace orv::codec
