// Decoder of the predictive coder (CodecType 4).
//
// The stream cannot always be read forward unambiguously: the 3-bit run
// marker 7 (6-bit count) begins with the same bits as the 5-bit marker 23
// (12-bit count). Wherever both readings are possible the decoder takes one
// and keeps the other as a branch point to come back to; a reading is kept
// only when the whole channel then decodes to exactly width x height symbols
// and ends where the stream's end marks (the 0xFF byte after the last counted
// byte, zero padding to 16) say it ends. Wrong readings are mostly refused on
// the spot: pixels are rebuilt as the symbols come, and a value outside
// 0..255 cannot come from the encoder; neither can odd or too short run
// counts, a run that directly follows a symbol of its own value, or anything
// after a 4096-symbol run piece but its symbol.
//
// The longer reading is tried first: a marker 23 misread as a 7 realigns a
// few tokens later with fewer symbols, and that is found out only at the end.
// What can still follow a branch point depends only on its bit position,
// symbol count and last symbol (the stream's shape) and the width + 1 values
// before it (the neighbours of every later pixel). The search remembers each
// branch point it has been through with those values (as a hash), and, when
// every reading from it failed on the shape alone, without them. Reaching a
// remembered point again means all that follows it has failed already, so
// each ambiguous marker is searched once per distinct way of standing there,
// not once per way of reaching it.
//
// A channel's stream may also be read to its end in more than one way. The
// next channel is predicted from this one's values, so when it has no
// reading the search of this one goes on to its next reading (for a limited
// share of the budget, since the channel to change may be one further back).
// A budget of pixel writes for the whole picture bounds the search on
// hostile input.
#include <array>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "codec/decode/decoders.h"
#include "protocol/adapter/predictive_model.h"

namespace orv::decode {
namespace {

using namespace adapter::predictive;

enum class Read { kOk, kInvalid, kTruncated };

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

struct Token {
    std::size_t end;      // bit position after the token
    std::uint32_t count;  // symbols it stands for
    std::uint16_t symbol;
    bool run;
    bool piece;  // a 4096-symbol piece of a longer run
};

struct State {
    std::size_t pos;
    std::uint32_t n;       // symbols decoded
    bool afterPiece;       // the last token was a 4096-symbol piece
    std::uint16_t prev;    // the last symbol
    std::uint64_t recent;  // hash of the last width + 1 values (0 before the picture)
};

// Polynomial hash of a window of values modulo the prime 2^61 - 1.
constexpr std::uint64_t kHashPrime = (std::uint64_t{1} << 61) - 1;
constexpr std::uint64_t kHashBase = 1'000'003;

__extension__ using Wide = unsigned __int128;

std::uint64_t MulMod(std::uint64_t a, std::uint64_t b) {
    const Wide p = static_cast<Wide>(a) * b;
    const std::uint64_t r =
        static_cast<std::uint64_t>(p & kHashPrime) + static_cast<std::uint64_t>(p >> 61);
    return r >= kHashPrime ? r - kHashPrime : r;
}

struct StateHash {
    std::size_t operator()(const State& s) const {
        std::uint64_t h = s.recent;
        h = h * 31 + s.pos;
        h = h * 31 + s.n;
        h = h * 31 + 2u * s.prev + s.afterPiece;
        return static_cast<std::size_t>(h);
    }
};

// Position, count, last symbol and piece flag: all that decides which tokens
// can follow and whether the stream can end there.
bool SamePlace(const State& a, const State& b) {
    return a.pos == b.pos && a.n == b.n && a.afterPiece == b.afterPiece && a.prev == b.prev;
}

struct StateEqual {
    bool operator()(const State& a, const State& b) const {
        return SamePlace(a, b) && a.recent == b.recent;
    }
};

struct PlaceHash {
    std::size_t operator()(const State& s) const {
        return StateHash()({s.pos, s.n, s.afterPiece, s.prev, 0});
    }
};

struct PlaceEqual {
    bool operator()(const State& a, const State& b) const { return SamePlace(a, b); }
};

class ChannelDecoder {
public:
    // `budget`: pixel writes left, shared by the channels of a picture.
    ChannelDecoder(bytes::ConstBytes part, unsigned channel, const Target& t, std::uint64_t& budget)
        : part_(part),
          bits_(part),
          channel_(channel),
          t_(t),
          total_(t.width * t.height),
          budget_(budget) {
        outgoing_ = 1;  // kHashBase^(width + 1): the weight of the value leaving the window
        for (std::uint32_t i = 0; i <= t.width; ++i) outgoing_ = MulMod(outgoing_, kHashBase);
    }

    // The next reading of the channel that ends as the stream does, its
    // values written into the target; kOk, or why there is no (further) one.
    // Called again, it goes on searching past the reading it gave, for at
    // most `limit` pixel writes; a channel that ran out of budget or limit
    // gives no further reading.
    DecodeStatus Next(std::uint64_t limit) {
        limit_ = limit;
        bool fail = false;
        bool onPixel = false;  // the failure was a value, not the stream's shape
        if (!started_) {
            started_ = true;
            if (!bits_.Has(0, kHeaderBits)) return DecodeStatus::kTruncated;
            if (bits_.Peek(0, kHeaderBits) != StreamHeader(channel_)) {
                return DecodeStatus::kCorrupt;
            }
            std::uint16_t first = 0;
            unsigned length = 0;
            if (const Read r = ReadCode(bits_, kHeaderBits, first, length); r != Read::kOk) {
                return r == Read::kTruncated ? DecodeStatus::kTruncated : DecodeStatus::kCorrupt;
            }
            if (!Apply(s_, {kHeaderBits + length, 1, first, false, false})) {
                return DecodeStatus::kCorrupt;
            }
        } else {
            // The reading given did not suit the next channel.
            fail = onPixel = true;
        }
        while (!exhausted_) {
            if (!fail) {
                onPixel = false;
                if (s_.n == total_) {
                    if (EndsAt(s_.pos)) {
                        for (Branch& b : branches_) b.gaveReading = true;
                        return DecodeStatus::kOk;
                    }
                    fail = true;
                } else {
                    Token t[2];
                    const std::size_t found = Candidates(s_, t);
                    if (found == 2 && dead_.contains(s_)) {
                        fail = true;
                    } else if (found == 2 && !searched_.insert(s_).second) {
                        fail = onPixel = true;  // reached before with the same values
                    } else {
                        // The longer reading first: a marker 23 read as a 7
                        // mostly realigns at once with fewer symbols, a
                        // wrong reading found only at the end.
                        if (found == 2) std::swap(t[0], t[1]), branches_.push_back({s_, t[1]});
                        fail = found == 0 || !Apply(s_, t[0]);
                        onPixel = fail && found != 0;
                    }
                }
            }
            while (fail && !exhausted_) {
                if (branches_.empty()) {
                    return truncated_ ? DecodeStatus::kTruncated : DecodeStatus::kCorrupt;
                }
                Branch& b = branches_.back();
                b.onPixel = b.onPixel || onPixel;
                if (!b.triedAlternative) {
                    b.triedAlternative = true;
                    s_ = b.state;
                    fail = onPixel = !Apply(s_, b.alternative);
                } else {
                    // Both readings failed. When only on the stream's shape,
                    // the branch point fails however it is reached.
                    onPixel = b.onPixel;
                    if (!onPixel) dead_.insert(b.state);
                    // A reading given from here was refused by the next
                    // channel, which sees all values, not only the window.
                    if (b.gaveReading) searched_.erase(b.state);
                    branches_.pop_back();
                }
            }
        }
        return DecodeStatus::kCorrupt;
    }

private:
    // Rebuilds the pixels of the token's symbols; false when one falls outside
    // 0..255, which no encoder output gives.
    bool Apply(State& s, const Token& t) {
        std::uint32_t x = s.n % t_.width;
        std::uint32_t y = s.n / t_.width;
        const int residual = Residual(t.symbol);
        if (budget_ < t.count || limit_ < t.count) {
            exhausted_ = true;
            return false;
        }
        budget_ -= t.count;
        limit_ -= t.count;
        std::uint64_t recent = s.recent;
        for (std::uint32_t i = 0; i < t.count; ++i) {
            const int v = Pixel(x, y, residual);
            if (v < 0) return false;
            const std::uint32_t m = s.n + i;
            const std::uint64_t leaving = m > t_.width ? Value(m - t_.width - 1) : 0;
            recent = MulMod(recent, kHashBase) + static_cast<std::uint64_t>(v) +
                     (kHashPrime - MulMod(leaving, outgoing_));
            recent %= kHashPrime;
            if (++x == t_.width) x = 0, ++y;
        }
        s = {t.end, s.n + t.count, t.piece, t.symbol, recent};
        return true;
    }

    // The value of the channel at symbol index m (already rebuilt).
    std::uint8_t Value(std::uint32_t m) const {
        return t_.origin[std::size_t{m / t_.width} * t_.stride + 4 * (m % t_.width) + channel_];
    }

    // Rebuilds one value and returns it; -1 when it falls outside 0..255.
    int Pixel(std::uint32_t x, std::uint32_t y, int residual) {
        std::uint8_t* row = t_.origin + std::size_t{y} * t_.stride;
        const std::uint8_t* above = y > 0 ? row - t_.stride : nullptr;
        auto at = [&](unsigned byte, int& a, int& b, int& c) {
            a = x > 0 ? row[4 * x - 4 + byte] : 0;
            b = above != nullptr ? above[4 * x + byte] : 0;
            c = above != nullptr && x > 0 ? above[4 * x - 4 + byte] : 0;
        };
        const unsigned k = channel_;
        int a, b, c;
        at(k, a, b, c);
        const Choice choice = Choose(a, b, c);
        int v = residual + Predict(choice, a, b, c);
        if (k > 0) {
            int pa, pb, pc;
            at(k - 1, pa, pb, pc);
            v += row[4 * x + k - 1] - Predict(choice, pa, pb, pc);
        }
        v &= 1023;
        if (v > 255) return -1;
        row[4 * x + k] = static_cast<std::uint8_t>(v);
        return v;
    }

    // The readings of the token at s.pos that the encoder could have written.
    std::size_t Candidates(const State& s, Token out[2]) {
        std::size_t found = 0;
        auto offer = [&](const Token& t) {
            if (s.afterPiece ? t.symbol != s.prev : (t.run && s.n >= 2 && t.symbol == s.prev)) {
                return;
            }
            out[found++] = t;
        };
        std::uint16_t symbol = 0;
        unsigned length = 0;
        if (Note(ReadCode(bits_, s.pos, symbol, length))) {
            offer({s.pos + length, 1, symbol, false, false});
        }
        const std::uint32_t left = total_ - s.n;
        if (bits_.Peek(s.pos, 3) == 7 && Note(bits_.Has(s.pos, 9) ? Read::kOk : Read::kTruncated)) {
            const std::uint32_t c = bits_.Peek(s.pos + 3, 6);
            if (c % 2 == 0 && c >= 2 && c < left &&
                Note(ReadCode(bits_, s.pos + 9, symbol, length)) && c * length > 10) {
                offer({s.pos + 9 + length, c + 1, symbol, true, false});
            }
        }
        if (bits_.Peek(s.pos, 5) == 23 &&
            Note(bits_.Has(s.pos, 17) ? Read::kOk : Read::kTruncated)) {
            const std::uint32_t c = bits_.Peek(s.pos + 5, 12);
            if ((c == kMaxRun - 1 || (c >= 64 && c % 2 == 0)) && c < left &&
                Note(ReadCode(bits_, s.pos + 17, symbol, length))) {
                offer({s.pos + 17 + length, c + 1, symbol, true, c == kMaxRun - 1});
            }
        }
        return found;
    }

    bool Note(Read r) {
        if (r == Read::kTruncated) truncated_ = true;
        return r == Read::kOk;
    }

    // True when the stream's last symbol ends at bit `pos`: the remaining
    // bits of its byte are 0, the next byte is 0xFF and only zeros follow, up
    // to the part's 16-byte padded end.
    bool EndsAt(std::size_t pos) const {
        const std::size_t f = pos / 8 + 1;
        if (part_.size() != (f + 1 + 15) / 16 * 16 || part_[f] != 0xFF) return false;
        if ((part_[f - 1] >> (pos % 8)) != 0) return false;
        for (std::size_t i = f + 1; i < part_.size(); ++i) {
            if (part_[i] != 0) return false;
        }
        return true;
    }

    bytes::ConstBytes part_;
    BitReader bits_;
    unsigned channel_;
    const Target& t_;
    std::uint32_t total_;
    bool truncated_ = false;
    std::uint64_t& budget_;
    std::uint64_t limit_ = 0;  // pixel writes left to this call of Next()
    bool exhausted_ = false;
    struct Branch {
        State state;
        Token alternative;
        bool triedAlternative = false;
        bool onPixel = false;      // some reading below failed on a value
        bool gaveReading = false;  // a reading below was given by Next()
    };
    bool started_ = false;
    State s_{0, 0, false, 0, 0};
    std::vector<Branch> branches_;
    std::uint64_t outgoing_;
    // Branch points searched, with the values before them (any failure
    // after them then repeats), and those from which no reading fits the
    // stream's shape (whatever the values).
    std::unordered_set<State, StateHash, StateEqual> searched_;
    std::unordered_set<State, PlaceHash, PlaceEqual> dead_;
};

}  // namespace

DecodeStatus DecodePredictive(const PartSpans& parts, const Target& t) {
    if (std::uint64_t{t.width} * t.height > UINT32_MAX / 2) return DecodeStatus::kUnsupported;
    // A channel's stream can hold several readings that end as it does; the
    // next channel is predicted from this one's values, so when it has no
    // reading, the next reading of this one is tried. Once the search has
    // gone back, each search gets a limited share of the budget: a channel
    // built on a wrong reading may have none, and the reading to change may
    // be one further back.
    const std::uint64_t total = std::uint64_t{t.width} * t.height;
    std::uint64_t budget = 3 * (32 * total + (1u << 20));
    const std::uint64_t again = 16 * total + (1u << 18);
    bool wentBack = false;
    std::array<std::optional<ChannelDecoder>, 3> channels;
    DecodeStatus failure = DecodeStatus::kOk;  // the first one met
    for (unsigned k = 0; k < 3;) {
        const bool fresh = !channels[k];
        if (fresh) channels[k].emplace(parts[k], k, t, budget);
        const DecodeStatus s = channels[k]->Next(fresh && !wentBack ? budget : again);
        if (s == DecodeStatus::kOk) {
            ++k;
            continue;
        }
        if (failure == DecodeStatus::kOk) failure = s;
        if (k == 0 || budget == 0) return failure;
        channels[k].reset();
        --k;
        wentBack = true;
    }
    return DecodeStatus::kOk;
}

}  // namespace orv::decode
