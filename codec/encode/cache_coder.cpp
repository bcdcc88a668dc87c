// Three-plane cache coder (CodecType 2): bytes B, G and R are each coded as a
// bit stream of slot codes, literals and runs over a table of 15 recently
// announced values (see the code table below), into parts 1, 2 and 3.
//
//   slot 0          1 bit  0
//   slot 1          2 bits 1
//   slot 2..14      6 bits 3 + (slot - 2) * 4
//   literal        14 bits 0x3F + (value << 6)
//   announce        6 bits 59, 4 bits slot, 8 bits value
//   run of slot 0   8 bits 55 + 6-bit count, or 183 + 12-bit count
//   run of slot 1   8 bits 119 + 6-bit count, or 247 + 12-bit count
#include <array>

#include "codec/encode/coders.h"

namespace orv::codec {
namespace {

constexpr unsigned kSlots = 15;
constexpr std::uint32_t kMaxRun = 4095;
constexpr std::uint32_t kFrequentUses = 100;

class CacheStream {
public:
    explicit CacheStream(bytes::MutBytes out) : bits_(out) {}

    void Announce(unsigned slot, std::uint8_t v) {
        bits_.Put(59, 6);
        bits_.Put(slot, 4);
        bits_.Put(v, 8);
        // The value that held the slot loses its code, whichever slot it is,
        // so that its code can never be written for the slot's new value.
        if (slotUsed_[slot]) code_[slot_[slot]] = 0;
        slot_[slot] = v;
        slotUsed_[slot] = true;
        code_[v] = static_cast<std::uint8_t>(slot + 1);
    }

    // Run of `o` pixels of the slot-0 (slot 0) or slot-1 value.
    void Run(unsigned slot, std::uint32_t o) {
        const std::uint32_t shortRun = slot == 0 ? 55 : 119;
        const std::uint32_t longRun = slot == 0 ? 183 : 247;
        const std::uint32_t maxCodes = slot == 0 ? 14 : 7;
        while (o > kMaxRun) {
            bits_.Put(longRun, 8);
            bits_.Put(kMaxRun, 12);
            o -= kMaxRun;
        }
        if (o <= maxCodes) {
            for (std::uint32_t i = 0; i < o; ++i) SlotCode(slot);
        } else if (o <= 63) {
            bits_.Put(shortRun, 8);
            bits_.Put(o, 6);
        } else {
            bits_.Put(longRun, 8);
            bits_.Put(o, 12);
        }
    }

    void Leading(std::uint8_t v, std::uint32_t o) {
        Announce(0, v);
        used_ = 1;
        Run(0, o);
        uses_[v] += o;
    }

    void Second(std::uint8_t v) {
        Announce(1, v);
        used_ = 2;
        turn_ = 2;
    }

    // One run of `o` equal values `v` inside a row.
    void Code(std::uint8_t v, std::uint32_t o) {
        if (slotUsed_[0] && slot_[0] == v) {
            Run(0, o);
        } else if (slotUsed_[1] && slot_[1] == v) {
            Run(1, o);
        } else if (o > 4) {
            Announce(0, v);
            Run(0, o);
        } else if (code_[v] != 0) {
            for (std::uint32_t i = 0; i < o; ++i) SlotCode(code_[v] - 1u);
        } else if (used_ < kSlots) {
            Announce(used_, v);
            ++used_;
            turn_ = used_ < kSlots ? used_ : 1;
            for (std::uint32_t i = 0; i < o; ++i) SlotCode(code_[v] - 1u);
        } else if (uses_[v] > kFrequentUses) {
            Announce(turn_, v);
            turn_ = turn_ == kSlots - 1 ? 1 : turn_ + 1;
            uses_[v] = 0;
            for (std::uint32_t i = 0; i < o; ++i) SlotCode(code_[v] - 1u);
        } else {
            for (std::uint32_t i = 0; i < o; ++i) bits_.Put(0x3Fu + (std::uint32_t{v} << 6), 14);
        }
        uses_[v] += o;
    }

    std::size_t Finish(bytes::MutBytes out) {
        const std::size_t counted = bits_.Finish();
        const std::size_t padded = RoundUp16(counted);
        if (!bits_.Ok() || !ZeroFill(out, counted, padded)) return 0;
        return padded;
    }

private:
    void SlotCode(unsigned slot) {
        if (slot == 0)
            bits_.Put(0, 1);
        else if (slot == 1)
            bits_.Put(1, 2);
        else
            bits_.Put(3 + (slot - 2) * 4, 6);
    }

    BitWriter bits_;
    std::array<std::uint8_t, kSlots> slot_{};
    std::array<bool, kSlots> slotUsed_{};
    std::array<std::uint8_t, 256> code_{};  // slot + 1, 0 = none
    std::array<std::uint32_t, 256> uses_{};
    unsigned used_ = 0;
    unsigned turn_ = 2;
};

// Codes byte `k` of every pixel; returns the padded length, 0 when it does not fit.
std::size_t EncodeChannel(const PictureDescriptor& d, unsigned k, bytes::MutBytes out) {
    CacheStream s(out);
    const std::uint32_t w = d.width;
    const std::uint8_t* row = d.pixels.data() + k;
    const std::uint8_t first = row[0];
    // The leading run of the first value, across rows.
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t lead = 0;
    for (; y < d.height; ++y, row += d.stride, x = 0) {
        while (x < w && row[4 * x] == first) ++x;
        lead += x;
        if (x < w) break;
    }
    s.Leading(first, lead);
    if (y < d.height) s.Second(row[4 * x]);
    for (; y < d.height; ++y, row += d.stride, x = 0) {
        while (x < w) {
            const std::uint8_t v = row[4 * x];
            std::uint32_t end = x + 1;
            while (end < w && row[4 * end] == v) ++end;
            s.Code(v, end - x);
            x = end;
        }
    }
    return s.Finish(out);
}

}  // namespace

bool EncodeCache(const PictureDescriptor& d, bytes::MutBytes out, Parts& parts, CoderScratch&) {
    std::size_t offset = 0;
    for (unsigned k = 0; k < 3; ++k) {
        const std::size_t len = EncodeChannel(d, k, out.subspan(offset));
        if (len == 0) return false;
        parts[k] = static_cast<std::uint32_t>(len);
        offset += len;
    }
    return true;
}

}  // namespace orv::codec
