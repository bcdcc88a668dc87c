// The prediction model of the predictive coder (CodecType 4), shared by the
// encoder and the decoder so that both sides make the same choices.
//
// For each pixel byte the neighbours a (left), b (above) and c (above-left),
// 0 outside the picture, choose a predictor: the left or the above neighbour
// (median edge detector, the left one on every tie) or the gradient a + b - c.
// Byte 0's residual is byte - prediction; bytes 1 and 2 subtract from theirs
// the error of the previous byte under the same choice. Residuals are taken
// modulo 1024 into -512..511 and mapped to symbols 0..1023 (2r, -2r - 1).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace orv::adapter::predictive {

enum Choice : int { kLeft, kAbove, kGradient };

inline constexpr unsigned kSymbolEnd = 1025;   // ends a channel's symbol array
inline constexpr unsigned kSymbolEnd2 = 1026;  // second end value (look-ahead room)
inline constexpr unsigned kMaxRun = 4096;

// The neighbours a (left), b (above) and c (above-left) of byte k of pixel x,
// 0 outside the picture: `row` is the pixel's row (four bytes a pixel),
// `above` the row above it, null on the first row.
struct Neighbours {
    int a, b, c;
};

inline Neighbours NeighboursOf(const std::uint8_t* row, const std::uint8_t* above, std::size_t x,
                               unsigned k) {
    return {x > 0 ? row[4 * x - 4 + k] : 0, above != nullptr ? above[4 * x + k] : 0,
            above != nullptr && x > 0 ? above[4 * x - 4 + k] : 0};
}

inline Choice Choose(int a, int b, int c) {
    if (c >= std::max(a, b)) return a <= b ? kLeft : kAbove;
    if (c <= std::min(a, b)) return a >= b ? kLeft : kAbove;
    return kGradient;
}

inline int Predict(Choice choice, int a, int b, int c) {
    return choice == kLeft ? a : choice == kAbove ? b : a + b - c;
}

inline unsigned Symbol(int r) {
    if (r < 0) r += 1024;
    if (r >= 512) r -= 1024;
    return r >= 0 ? static_cast<unsigned>(2 * r) : static_cast<unsigned>(-2 * r - 1);
}

inline int Residual(unsigned symbol) {
    return (symbol & 1) != 0 ? -static_cast<int>((symbol + 1) / 2) : static_cast<int>(symbol / 2);
}

// Code of a symbol (length in bits, value written LSB first).
struct Code {
    std::uint8_t length;
    std::uint16_t value;
};

inline Code SymbolCode(unsigned s) {
    switch (s) {
        case 0:
            return {2, 1};
        case 1:
            return {3, 3};
        case 2:
            return {3, 2};
        case 3:
            return {3, 6};
        default:
            break;
    }
    if (s <= 20) {
        const unsigned m = s / 2;
        return {static_cast<std::uint8_t>(m + 2),
                static_cast<std::uint16_t>((1u << m) | ((s & 1u) << (m + 1)))};
    }
    return {14, static_cast<std::uint16_t>((s << 4) | 0xF)};
}

// The 17-bit stream header; channel code 0 for part 1, 2 for parts 2 and 3.
inline std::uint32_t StreamHeader(unsigned part) {
    return 0x0CC00u | ((part == 0 ? 0u : 2u) << 12);
}
inline constexpr unsigned kHeaderBits = 17;

}  // namespace orv::adapter::predictive
