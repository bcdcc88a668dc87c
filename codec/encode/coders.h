// The individual encoders behind PictureEncoder. Each writes the data that
// follows the CodecHeader into `out`, sets the part lengths and returns true,
// or returns false when `out` is too small or the picture cannot be coded
// (the caller then reports an empty result). The descriptor has been checked
// by the caller: width and height > 0, the pixels cover every row.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/encode/picture_encoder.h"
#include "common/bytes.h"

namespace orv::codec {

using Parts = std::array<std::uint32_t, 3>;

struct CoderScratch {
    std::vector<std::uint16_t>& symbols;
    bool scalarOnly;
};

using CoderFn = bool (*)(const PictureDescriptor&, bytes::MutBytes, Parts&, CoderScratch&);

[[nodiscard]] bool EncodeRaw(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts,
                             CoderScratch&);
[[nodiscard]] bool EncodeJpeg(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts,
                              CoderScratch&);
[[nodiscard]] bool EncodeYuv(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts,
                             CoderScratch&);
[[nodiscard]] bool EncodeJpegFromYuv(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts);
[[nodiscard]] bool EncodePlaneDelta(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts,
                                    CoderScratch&);
[[nodiscard]] bool EncodeCache(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts,
                               CoderScratch&);
[[nodiscard]] bool EncodePredictive(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts,
                                    CoderScratch& scratch);

// Worst-case data lengths (after the CodecHeader) for a w x h picture.
std::size_t MaxJpegLength(std::uint32_t w, std::uint32_t h);
std::size_t MaxYuvLength(std::uint32_t w, std::uint32_t h);
inline std::size_t RoundUp16(std::size_t n) {
    return (n + 15) & ~std::size_t{15};
}

// LSB-first bit packer into 32-bit little-endian words. A word that would not
// fit in the output is dropped and latches failure.
class BitWriter {
public:
    explicit BitWriter(bytes::MutBytes out) : out_(out) {}

    // `value` < 2^bits, bits <= 32.
    void Put(std::uint32_t value, unsigned bits) {
        acc_ |= std::uint64_t{value} << count_;
        count_ += bits;
        if (count_ >= 32) {
            StoreWord();
            acc_ >>= 32;
            count_ -= 32;
        }
    }

    // Writes the last partial word and returns the length the part counts:
    // the whole words plus (bits in the last word + 8) / 8 of its bytes.
    std::size_t Finish() {
        StoreWord();
        return pos_ - 4 + (count_ + 8) / 8;
    }

    bool Ok() const { return ok_; }

private:
    void StoreWord() {
        if (!bytes::Fits(out_.size(), pos_, 4)) {
            ok_ = false;
            return;
        }
        bytes::StoreLE<std::uint32_t>(out_.data() + pos_, static_cast<std::uint32_t>(acc_));
        pos_ += 4;
    }

    bytes::MutBytes out_;
    std::size_t pos_ = 0;
    std::uint64_t acc_ = 0;
    unsigned count_ = 0;
    bool ok_ = true;
};

// Zero-fills `out` from `from` to `to`; false when `to` is past its end.
[[nodiscard]] inline bool ZeroFill(bytes::MutBytes out, std::size_t from, std::size_t to) {
    if (to > out.size() || from > to) return false;
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(from),
              out.begin() + static_cast<std::ptrdiff_t>(to), 0);
    return true;
}

}  // namespace orv::codec
