// Reading a fuzz input: parameters from its front, the rest as data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bytes.h"

namespace orv::fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

    // The next byte, 0 once the input is used up.
    std::uint8_t Byte() {
        if (rest_.empty()) return 0;
        const std::uint8_t b = rest_[0];
        rest_ = rest_.subspan(1);
        return b;
    }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
    // The next `n` bytes, or fewer at the end.
    bytes::ConstBytes Take(std::size_t n) {
        const bytes::ConstBytes part = rest_.first(n < rest_.size() ? n : rest_.size());
        rest_ = rest_.subspan(part.size());
        return part;
    }
    bytes::ConstBytes Rest() const { return rest_; }
    bool Empty() const { return rest_.empty(); }

private:
    bytes::ConstBytes rest_;
};

}  // namespace orv::fuzz
