// SromInfo: the adapter's serial-ROM information structure (228 bytes at
// 0x6000, backup at 0x4000), as a value that keeps every byte it was parsed
// from, so the bytes it does not interpret are written back unchanged.
//
// Value type, no locks, any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/bytes.h"
#include "protocol/adapter/packet_header.h"

namespace orv::adapter {

struct SromRegion {
    std::uint32_t address = 0;
    std::uint32_t reservedSize = 0;  // the largest image the region takes
    std::uint32_t writtenSize = 0;   // size of the image written
    std::uint8_t checksum = 0;       // two's complement of the image's byte sum
    bool operator==(const SromRegion&) const = default;
};

// Two's complement of the byte sum: the value that makes the sum 0 modulo 256.
std::uint8_t ImageChecksum(bytes::ConstBytes data);

class SromInfo {
public:
    using Raw = std::array<std::uint8_t, kSromInfoSize>;

    SromInfo() : raw_{} {}
    // Nothing when fewer than 228 bytes are given; extra bytes are ignored.
    [[nodiscard]] static std::optional<SromInfo> Parse(bytes::ConstBytes data);

    // The 228 bytes with byte 0 computed so that they sum to 0 modulo 256.
    Raw Build() const;
    const Raw& Bytes() const { return raw_; }
    // True when the 228 bytes as held sum to 0 modulo 256.
    bool ChecksumValid() const;

    std::uint8_t ActiveSlot() const { return raw_[kSromOffActiveSlot]; }
    void SetActiveSlot(std::uint8_t slot) { raw_[kSromOffActiveSlot] = slot; }
    // The 24 identity bytes as text, cut at the first NUL.
    std::string Identity() const;
    bytes::ConstBytes IdentityBytes() const;
    // Copies up to 24 characters; the rest of the field is zeroed.
    void SetIdentity(std::string_view identity);

    // `index` 0..4 (kRegion...); out-of-range indices read as an empty region
    // and are not written.
    SromRegion Region(std::size_t index) const;
    void SetRegion(std::size_t index, const SromRegion& region);

private:
    Raw raw_;
};

}  // namespace orv::adapter
