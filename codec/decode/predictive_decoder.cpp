// Decoder of the predictive coder (CodecType 4).
//
// The stream cannot always be read forward unambiguously: the 3-bit run
// marker 7 (6-bit count) begins with the same bits as the 5-bit marker 23
// (12-bit count) whenever bit 1 of its count is set. Where both readings are
// possible the decoder takes the longer one and keeps the other as a branch
// point to come back to. A reading is kept only when every channel then
// decodes to exactly width x height symbols and ends where the stream's end
// marks (the 0xFF byte after the last counted byte, zero padding to 16) say
// it ends.
//
// Only what the encoder writes is read: pixels are rebuilt as the symbols
// come, and a value outside 0..255 cannot come from the encoder; neither can
// a run marker where literal codes are shorter, a 6-bit count of 64 or more
// symbols or a 12-bit one of fewer, odd counts, a run that directly follows
// a symbol of its own value (but the first), a second symbol of a run's value
// after the run, more literal repeats than the encoder writes before it uses
// a marker, or anything after a 4096-symbol run piece but its symbol.
//
// Two searches. The quick one reads each channel on its own (see
// ChannelSearch); it settles what the encoder writes in a few passes, but a
// wrong reading whose values all fit can survive to the end of its channel,
// many times over, and a channel may even hold several readings that end as
// it does, which only the next channel (predicted from this one's values)
// tells apart. When the quick search runs out of its budget, the careful
// one (see Search) reads the three channels together, each one token at a
// time and never further than the channel before it (whose values it
// needs), so a wrong reading is found out by the next channel a token or so
// later rather than after the whole stream. Of two readings it follows only
// those from which the stream can still end as it does: for each place but
// its symbol count (bit position, last symbol and what came since it
// changed), the set of symbol counts with which a reading from there ends is
// worked out once, from the sets after each token, whatever the values. The
// work is polynomial: one set of width x height + 1 bits per place reached.
//
// The careful search goes back where a failure's cause can change: a token
// or end that does not fit the stream of channel k depends only on the
// branch points of channel k, a value out of range on those of channels 0 to
// k. Branch points that cannot change the cause are passed over, and a
// branch point of channel k whose readings all failed on channel k's stream
// alone is remembered by its place: reached again, it fails at once. A
// budget of pixel writes and a bound on the sets' memory (past which the
// search goes on without them), far above what the encoder's pictures take,
// bound the work on hostile input.
#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>
#include <unordered_set>
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

// What the tokens since the last change of symbol were; 1 to 6 stand for
// that many literal codes of the last symbol in a row.
enum Mode : std::uint8_t {
    kAfterFirst = 0,   // the first symbol alone: a run of it may follow
    kAfterRun = 7,     // a run marker
    kAfterRunOne = 8,  // a run marker and one literal code of its symbol
    kAfterPiece = 9,   // a 4096-symbol piece: more of its symbol must follow
};

// How many literal codes of one symbol the encoder writes in a row: a run of
// L (odd) goes literal while (L - 1) x code length <= 10, and one equal
// symbol may follow it.
constexpr unsigned MaxLiterals(unsigned codeLength) {
    return 2 + 2 * (5 / codeLength);
}

struct Token {
    std::size_t end;      // bit position after the token
    std::uint32_t count;  // symbols it stands for
    std::uint16_t symbol;
    std::uint8_t mode;  // the mode after it
};

// Where a channel's reading stands: all that decides which tokens can
// follow and whether the stream can end there.
struct Place {
    std::size_t pos;
    std::uint32_t n;  // symbols decoded
    std::uint8_t mode;
    std::uint16_t prev;  // the last symbol

    bool operator==(const Place&) const = default;
};

struct PlaceHash {
    std::size_t operator()(const Place& p) const {
        std::size_t h = p.pos;
        h = h * 31 + p.n;
        h = h * 31 + 16u * p.prev + p.mode;
        return h;
    }
};

// What a failure depends on: the branch points of the channels whose bits
// are set, and, with kValues, the values they rebuilt.
using Cause = std::uint8_t;
constexpr Cause kValues = 8;
constexpr Cause StreamOf(unsigned channel) {
    return static_cast<Cause>(1u << channel);
}
constexpr Cause ValuesUpTo(unsigned channel) {
    return static_cast<Cause>(((2u << channel) - 1) | kValues);
}

// One channel's stream: the tokens the encoder could have written at a place,
// the pixels they rebuild, and where the stream may end.
class Channel {
public:
    Channel(bytes::ConstBytes part, unsigned channel, const Target& t)
        : part_(part),
          bits_(part),
          channel_(channel),
          t_(t),
          total_(t.width * t.height),
          words_(total_ / 64 + 1) {}

    // Reads the header; the first symbol's token, always a literal code.
    DecodeStatus Start(Token& first) {
        if (!bits_.Has(0, kHeaderBits)) return DecodeStatus::kTruncated;
        if (bits_.Peek(0, kHeaderBits) != StreamHeader(channel_)) return DecodeStatus::kCorrupt;
        unsigned length = 0;
        if (const Read r = ReadCode(bits_, kHeaderBits, first.symbol, length); r != Read::kOk) {
            return r == Read::kTruncated ? DecodeStatus::kTruncated : DecodeStatus::kCorrupt;
        }
        first.end = kHeaderBits + length;
        first.count = 1;
        first.mode = kAfterFirst;
        return DecodeStatus::kOk;
    }

    // Whether the stream can end at `p`: all symbols read, no run piece
    // waiting for the rest of its run, and the end marks right after.
    bool Ends(const Place& p) const {
        return p.n == total_ && p.mode != kAfterPiece && EndsAt(p.pos);
    }

    // Rebuilds `count` values of `symbol` from symbol index `from` on,
    // calling each(x, y) after each; false when one falls outside 0..255,
    // which no encoder output gives.
    template <class Each>
    bool Write(std::uint32_t from, std::uint32_t count, std::uint16_t symbol, Each&& each) {
        std::uint32_t x = from % t_.width;
        std::uint32_t y = from / t_.width;
        const int residual = Residual(symbol);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!Pixel(x, y, residual)) return false;
            each(x, y);
            if (++x == t_.width) x = 0, ++y;
        }
        return true;
    }

    // The readings of the token at `p` that the encoder could have written,
    // the longer first when there are two.
    std::size_t Candidates(const Place& p, Token out[2]) {
        std::size_t found = 0;
        auto offer = [&](std::size_t end, std::uint32_t count, std::uint16_t symbol,
                         unsigned codeLength, bool run, bool piece) {
            const int mode = ModeAfter(p, symbol, codeLength, run, piece);
            if (mode >= 0) out[found++] = {end, count, symbol, static_cast<std::uint8_t>(mode)};
        };
        std::uint16_t symbol = 0;
        unsigned length = 0;
        if (Note(ReadCode(bits_, p.pos, symbol, length))) {
            offer(p.pos + length, 1, symbol, length, false, false);
        }
        const std::uint32_t left = total_ - p.n;
        // Marker 23: 65 to 4095 symbols, or a 4096-symbol piece that more of
        // the run follows.
        if (bits_.Peek(p.pos, 5) == 23 &&
            Note(bits_.Has(p.pos, 17) ? Read::kOk : Read::kTruncated)) {
            const std::uint32_t c = bits_.Peek(p.pos + 5, 12);
            const bool piece = c == kMaxRun - 1;
            if ((piece ? c + 1 < left : c >= 64 && c % 2 == 0 && c < left) &&
                Note(ReadCode(bits_, p.pos + 17, symbol, length))) {
                offer(p.pos + 17 + length, c + 1, symbol, length, !piece, piece);
            }
        }
        // Marker 7: 3 to 63 symbols, where literal codes would be longer.
        if (bits_.Peek(p.pos, 3) == 7 && Note(bits_.Has(p.pos, 9) ? Read::kOk : Read::kTruncated)) {
            const std::uint32_t c = bits_.Peek(p.pos + 3, 6);
            if (c % 2 == 0 && c >= 2 && c < left &&
                Note(ReadCode(bits_, p.pos + 9, symbol, length)) && c * length > 10) {
                offer(p.pos + 9 + length, c + 1, symbol, length, true, false);
            }
        }
        return found;
    }

    // The place after token `t` read at `p`.
    static Place After(const Place& p, const Token& t) {
        return {t.end, p.n + t.count, t.mode, t.symbol};
    }

    // Whether some reading from `p` ends as the stream does, whatever the
    // values; true too once the counts kept would pass their limit (the
    // search then goes on without them).
    bool Alive(const Place& p) {
        const std::size_t set = Counts({p.pos, p.prev, p.mode});
        if (set == kNone) return true;
        const std::uint32_t r = total_ - p.n;
        return ((sets_[set * words_ + r / 64] >> (r % 64)) & 1) != 0;
    }

    // Some reading ran past the end of the part.
    bool Truncated() const { return truncated_; }

    // Branch points from which every reading failed on this stream alone.
    std::unordered_set<Place, PlaceHash> dead;

private:
    // The mode after a token of `symbol` read at `p`, or -1 when the
    // encoder never writes that token there.
    static int ModeAfter(const Place& p, std::uint16_t symbol, unsigned codeLength, bool run,
                         bool piece) {
        const int fresh = piece ? kAfterPiece : run ? kAfterRun : 1;
        if (symbol != p.prev) return p.mode == kAfterPiece ? -1 : fresh;
        switch (p.mode) {
            case kAfterFirst:
            case kAfterPiece:
                return fresh;
            case kAfterRun:
                return run ? -1 : kAfterRunOne;
            case kAfterRunOne:
                return -1;
            default:  // literal codes in a row
                return !run && p.mode < MaxLiterals(codeLength) ? p.mode + 1 : -1;
        }
    }

    // Rebuilds one value; false when it falls outside 0..255.
    bool Pixel(std::uint32_t x, std::uint32_t y, int residual) {
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
        if (v > 255) return false;
        row[4 * x + k] = static_cast<std::uint8_t>(v);
        return true;
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
    // Where a reading stands but for its symbol count: the symbols still to
    // come do not change which tokens can follow.
    struct Key {
        std::size_t pos;
        std::uint16_t prev;
        std::uint8_t mode;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const { return (k.pos * 31 + k.prev) * 16 + k.mode; }
    };
    static constexpr std::size_t kNone = ~std::size_t{0};
    static constexpr std::size_t kSetWords = std::size_t{1} << 24;  // 128 MB of counts

    // The set of symbol counts with which some reading from `from` ends as
    // the stream does (bit r of its words_ words: r more symbols), kNone
    // past the limit. Worked out once per key, from the sets of the keys
    // after each token, by a depth-first search over the keys reached.
    std::size_t Counts(const Key& from) {
        struct Frame {
            Key key;
            std::size_t set;
            Token t[2];
            std::size_t found;
            std::size_t next;
        };
        std::vector<Frame> stack;
        // Its set, or kNone with a frame pushed (or the limit reached).
        auto open = [&](const Key& k) -> std::size_t {
            if (const auto it = counts_.find(k); it != counts_.end()) return it->second;
            if (full_ || sets_.size() + words_ > kSetWords) {
                full_ = true;
                return kNone;
            }
            const std::size_t set = sets_.size() / words_;
            sets_.resize(sets_.size() + words_, 0);
            counts_.emplace(k, set);
            const Place p{k.pos, 0, k.mode, k.prev};
            if (p.mode != kAfterPiece && EndsAt(p.pos)) sets_[set * words_] = 1;
            stack.push_back({k, set, {}, 0, 0});
            stack.back().found = Candidates(p, stack.back().t);
            return kNone;
        };
        const std::size_t first = open(from);
        if (first != kNone || full_) return full_ ? kNone : first;
        while (!stack.empty() && !full_) {
            Frame& f = stack.back();
            if (f.next == f.found) {
                stack.pop_back();
                continue;
            }
            const Token t = f.t[f.next];
            const std::size_t set = f.set;
            const std::size_t after = open({t.end, t.symbol, t.mode});
            if (after == kNone) continue;  // its frame comes first
            // A token of t.count symbols followed by any count of `after`.
            ++stack.back().next;
            ShiftOr(set, after, t.count);
        }
        return full_ ? kNone : counts_.at(from);
    }

    // Set `to` |= set `from` shifted up by `by` counts.
    void ShiftOr(std::size_t to, std::size_t from, std::uint32_t by) {
        std::uint64_t* dst = sets_.data() + to * words_;
        const std::uint64_t* src = sets_.data() + from * words_;
        const std::size_t whole = by / 64;
        const unsigned bits = by % 64;
        for (std::size_t i = words_; i-- > whole;) {
            std::uint64_t v = src[i - whole] << bits;
            if (bits != 0 && i > whole) v |= src[i - whole - 1] >> (64 - bits);
            dst[i] |= v;
        }
    }

    std::size_t words_;  // per set: counts 0 to width x height
    std::vector<std::uint64_t> sets_;
    std::unordered_map<Key, std::size_t, KeyHash> counts_;
    bool full_ = false;
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

// The quick search: each channel on its own, channel 0 first. A reading is
// followed as long as it fits, and the search goes back to the latest branch
// point when it does not. What can still follow a branch point depends only
// on its place and the width + 1 values before it (the neighbours of every
// later pixel); the search remembers each branch point it has been through
// with those values (as a hash), and, when every reading from it failed on
// the shape alone, without them. When the next channel has no reading, this
// one goes on to its next reading, for a limited share of the budget.
class ChannelSearch {
public:
    // `budget`: pixel writes left, shared by the channels of a picture.
    ChannelSearch(bytes::ConstBytes part, unsigned channel, const Target& t, std::uint64_t& budget)
        : channel_(part, channel, t),
          k_(channel),
          t_(t),
          total_(t.width * t.height),
          budget_(budget) {
        outgoing_ = 1;  // kHashBase^(width + 1): the weight of the value leaving the window
        for (std::uint32_t i = 0; i <= t.width; ++i) outgoing_ = MulMod(outgoing_, kHashBase);
    }

    // True once the search ran out of its budget or limit: its failure then
    // says nothing about the stream.
    bool Exhausted() const { return exhausted_; }

    // The next reading of the channel that ends as the stream does, its
    // values written into the target; kOk, or why there is no (further) one.
    // Called again, it goes on searching past the reading it gave, for at
    // most `limit` pixel writes.
    DecodeStatus Next(std::uint64_t limit) {
        limit_ = limit;
        bool fail = false;
        bool onPixel = false;  // the failure was a value, not the stream's shape
        if (!started_) {
            started_ = true;
            Token first;
            if (const DecodeStatus s = channel_.Start(first); s != DecodeStatus::kOk) return s;
            if (!Apply(s_, first)) return DecodeStatus::kCorrupt;
        } else {
            // The reading given did not suit the next channel.
            fail = onPixel = true;
        }
        while (!exhausted_) {
            if (!fail) {
                onPixel = false;
                if (s_.place.n == total_) {
                    if (channel_.Ends(s_.place)) {
                        for (Branch& b : branches_) b.gaveReading = true;
                        return DecodeStatus::kOk;
                    }
                    fail = true;
                } else {
                    Token t[2];
                    const std::size_t found = channel_.Candidates(s_.place, t);
                    if (found == 2 && channel_.dead.contains(s_.place)) {
                        fail = true;
                    } else if (found == 2 && !searched_.insert(s_).second) {
                        fail = onPixel = true;  // reached before with the same values
                    } else {
                        if (found == 2) branches_.push_back({s_, t[1]});
                        fail = found == 0 || !Apply(s_, t[0]);
                        onPixel = fail && found != 0;
                    }
                }
            }
            while (fail && !exhausted_) {
                if (branches_.empty()) {
                    return channel_.Truncated() ? DecodeStatus::kTruncated : DecodeStatus::kCorrupt;
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
                    if (!onPixel) channel_.dead.insert(b.state.place);
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
    struct State {
        Place place;
        std::uint64_t recent;  // hash of the last width + 1 values (0 before the picture)
        bool operator==(const State&) const = default;
    };

    struct StateHash {
        std::size_t operator()(const State& s) const {
            return PlaceHash()(s.place) * 31 + static_cast<std::size_t>(s.recent);
        }
    };

    // Reads token `t` at `s`, rebuilding its pixels and the window's hash.
    bool Apply(State& s, const Token& t) {
        if (budget_ < t.count || limit_ < t.count) {
            exhausted_ = true;
            return false;
        }
        budget_ -= t.count;
        limit_ -= t.count;
        std::uint64_t recent = s.recent;
        std::uint32_t m = s.place.n;
        const bool fits =
            channel_.Write(m, t.count, t.symbol, [&](std::uint32_t x, std::uint32_t y) {
                // The value leaving the window is the one above and to the left.
                const std::uint64_t leaving = m <= t_.width ? 0
                                              : x > 0       ? At(x - 1, y - 1)
                                                            : At(t_.width - 1, y - 2);
                recent = MulMod(recent, kHashBase) + At(x, y) +
                         (kHashPrime - MulMod(leaving, outgoing_));
                recent %= kHashPrime;
                ++m;
            });
        if (!fits) return false;
        s = {Channel::After(s.place, t), recent};
        return true;
    }

    // The value of the channel at (x, y) (already rebuilt).
    std::uint8_t At(std::uint32_t x, std::uint32_t y) const {
        return t_.origin[std::size_t{y} * t_.stride + 4 * x + k_];
    }

    Channel channel_;
    unsigned k_;
    const Target& t_;
    std::uint32_t total_;
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
    State s_{};
    std::vector<Branch> branches_;
    std::uint64_t outgoing_;
    // Branch points searched, with the values before them: any failure after
    // them then repeats.
    std::unordered_set<State, StateHash> searched_;
};

// The quick search of a picture's three channels; `ranOut` is set when a
// channel's search ran out of budget or limit.
DecodeStatus QuickSearch(const PartSpans& parts, const Target& t, bool& ranOut) {
    // A channel's stream can hold several readings that end as it does; the
    // next channel is predicted from this one's values, so when it has no
    // reading, the next reading of this one is tried. Once the search has
    // gone back, each search gets a limited share of the budget: a channel
    // built on a wrong reading may have none, and the reading to change may
    // be one further back.
    const std::uint64_t total = std::uint64_t{t.width} * t.height;
    std::uint64_t budget = 3 * (32 * total + (1u << 16));
    const std::uint64_t again = 16 * total + (1u << 14);
    bool wentBack = false;
    std::array<std::optional<ChannelSearch>, 3> channels;
    DecodeStatus failure = DecodeStatus::kOk;  // the first one met
    for (unsigned k = 0; k < 3;) {
        const bool fresh = !channels[k];
        if (fresh) channels[k].emplace(parts[k], k, t, budget);
        const DecodeStatus s = channels[k]->Next(fresh && !wentBack ? budget : again);
        if (s == DecodeStatus::kOk) {
            ++k;
            continue;
        }
        ranOut = ranOut || channels[k]->Exhausted();
        if (failure == DecodeStatus::kOk) failure = s;
        if (k == 0 || budget == 0) return failure;
        channels[k].reset();
        --k;
        wentBack = true;
    }
    return DecodeStatus::kOk;
}

// The careful search: the three channels read together (see the top of
// the file). A run is rebuilt only as far as the channel before it has
// rebuilt its values; the rest of it waits as the channel's pending count.
class Search {
public:
    Search(const PartSpans& parts, const Target& t)
        : channels_{Channel(parts[0], 0, t), Channel(parts[1], 1, t), Channel(parts[2], 2, t)},
          total_(t.width * t.height),
          budget_(64 * std::uint64_t{total_} + (1u << 20)) {}

    DecodeStatus Run() {
        for (unsigned k = 0; k < 3; ++k) {
            if (const DecodeStatus s = channels_[k].Start(first_[k]); s != DecodeStatus::kOk) {
                return s;
            }
        }
        while (true) {
            const Cause cause = Step();
            if (cause == 0) {
                if (Done()) return DecodeStatus::kOk;
                continue;
            }
            if (!GoBack(cause)) {
                if (budget_ == 0) return DecodeStatus::kCorrupt;
                for (const Channel& c : channels_) {
                    if (c.Truncated()) return DecodeStatus::kTruncated;
                }
                return DecodeStatus::kCorrupt;
            }
        }
    }

private:
    static constexpr Cause kOutOfBudget = 0xFF;

    // The tokens a channel may read next: its first symbol's before its
    // first token, then its candidates at its place.
    struct Next {
        const Token* tokens = nullptr;  // null: not looked up yet
        std::size_t found = 0;
    };

    struct Branch {
        std::array<Place, 3> places;
        std::array<std::uint32_t, 3> pending;
        unsigned channel;
        Token alternative;
        bool triedAlternative = false;
        Cause causes = 0;  // of the failures below it
    };

    bool Done() const {
        for (unsigned k = 0; k < 3; ++k) {
            if (places_[k].n != total_ || pending_[k] != 0) return false;
        }
        return true;
    }

    // Values of channel k rebuilt so far.
    std::uint32_t Written(unsigned k) const { return places_[k].n - pending_[k]; }

    // How many values channel k may rebuild now: as many as the channel
    // before it has rebuilt past it.
    std::uint32_t Room(unsigned k) const { return k == 0 ? total_ : Written(k - 1) - Written(k); }

    const Next& Lookup(unsigned k) {
        Next& next = next_[k];
        if (next.tokens == nullptr && places_[k].n == 0) {
            next = {&first_[k], 1};
        } else if (next.tokens == nullptr) {
            next.found = channels_[k].Candidates(places_[k], candidates_[k]);
            next.tokens = candidates_[k];
        }
        return next;
    }

    // Goes on with the last channel that may: rebuilds more of its run, or
    // reads its next token. 0, or the cause of the failure met.
    Cause Step() {
        unsigned k = 0;
        for (unsigned c = 2; c > 0; --c) {
            if (Room(c) == 0 || (pending_[c] == 0 && places_[c].n == total_)) continue;
            k = c;
            break;
        }
        if (pending_[k] != 0) return Write(k);
        if (places_[k].n == total_) return StreamOf(k);  // not reached: all are done
        const Next& next = Lookup(k);
        if (next.found == 0) return StreamOf(k);
        if (next.found == 1) return Take(k, next.tokens[0]);
        // Of two readings, only those from which the stream can still end.
        Channel& c = channels_[k];
        const bool first = c.Alive(Channel::After(places_[k], next.tokens[0]));
        const bool second = c.Alive(Channel::After(places_[k], next.tokens[1]));
        if (first != second) return Take(k, next.tokens[first ? 0 : 1]);
        if (!first || c.dead.contains(places_[k])) return StreamOf(k);
        branches_.push_back({places_, pending_, k, next.tokens[1]});
        return Take(k, next.tokens[0]);
    }

    // Reads token `t` in channel k at its place, and rebuilds what it may.
    Cause Take(unsigned k, const Token& t) {
        places_[k] = Channel::After(places_[k], t);
        pending_[k] = t.count;
        next_[k] = {};
        if (places_[k].n == total_ && !channels_[k].Ends(places_[k])) return StreamOf(k);
        return Write(k);
    }

    // Rebuilds as much of channel k's pending run as it may.
    Cause Write(unsigned k) {
        const std::uint32_t count = std::min(pending_[k], Room(k));
        if (budget_ < count) {
            budget_ = 0;
            return kOutOfBudget;
        }
        budget_ -= count;
        if (!channels_[k].Write(Written(k), count, places_[k].prev,
                                [](std::uint32_t, std::uint32_t) {})) {
            return ValuesUpTo(k);
        }
        pending_[k] -= count;
        return 0;
    }

    // Goes back to the latest branch point whose other reading may mend a
    // failure with `cause`, and reads that; false when there is none.
    bool GoBack(Cause cause) {
        while (!branches_.empty() && budget_ != 0) {
            Branch& b = branches_.back();
            if ((cause & StreamOf(b.channel)) == 0) {
                branches_.pop_back();  // its readings cannot change the cause
                continue;
            }
            b.causes |= cause;
            if (!b.triedAlternative) {
                b.triedAlternative = true;
                places_ = b.places;
                pending_ = b.pending;
                for (Next& n : next_) n = {};
                cause = Take(b.channel, b.alternative);
                if (cause == 0) return true;
                continue;
            }
            cause = b.causes;
            if (cause == StreamOf(b.channel)) {
                channels_[b.channel].dead.insert(b.places[b.channel]);
            }
            branches_.pop_back();
        }
        return false;
    }

    std::array<Channel, 3> channels_;
    std::uint32_t total_;
    std::uint64_t budget_;  // pixel writes left
    std::array<Place, 3> places_{};
    std::array<std::uint32_t, 3> pending_{};  // symbols read but not yet rebuilt
    std::array<Token, 3> first_{};
    std::array<Token[2], 3> candidates_{};
    std::array<Next, 3> next_{};
    std::vector<Branch> branches_;
};

}  // namespace

DecodeStatus DecodePredictive(const PartSpans& parts, const Target& t) {
    if (std::uint64_t{t.width} * t.height > UINT32_MAX / 2) return DecodeStatus::kUnsupported;
    bool ranOut = false;
    const DecodeStatus quick = QuickSearch(parts, t, ranOut);
    // Past 2^18 pixels the count sets of the careful search outgrow their
    // memory after a few thousand places, and the search would run blind.
    if (quick == DecodeStatus::kOk || !ranOut || std::uint64_t{t.width} * t.height > (1u << 18)) {
        return quick;
    }
    return Search(parts, t).Run();
}

}  // namespace orv::decode
