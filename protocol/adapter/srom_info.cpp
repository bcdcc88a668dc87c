#include "protocol/adapter/srom_info.h"

#include <algorithm>

namespace orv::adapter {
namespace {

std::uint8_t ByteSum(bytes::ConstBytes data) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : data) sum = static_cast<std::uint8_t>(sum + b);
    return sum;
}

}  // namespace

std::uint8_t ImageChecksum(bytes::ConstBytes data) {
    return static_cast<std::uint8_t>(0x100 - ByteSum(data));
}

std::optional<SromInfo> SromInfo::Parse(bytes::ConstBytes data) {
    const bytes::ConstBytes src = bytes::Slice(data, 0, kSromInfoSize);
    if (src.empty()) return std::nullopt;
    SromInfo info;
    std::copy(src.begin(), src.end(), info.raw_.begin());
    return info;
}

SromInfo::Raw SromInfo::Build() const {
    Raw out = raw_;
    out[kSromOffChecksum] = ImageChecksum(bytes::ConstBytes(out).subspan(1));
    return out;
}

bool SromInfo::ChecksumValid() const {
    return ByteSum(raw_) == 0;
}

std::string SromInfo::Identity() const {
    const bytes::ConstBytes id = IdentityBytes();
    return std::string(id.begin(), std::find(id.begin(), id.end(), std::uint8_t{0}));
}

bytes::ConstBytes SromInfo::IdentityBytes() const {
    return bytes::Slice(raw_, kSromOffIdentity, kIdentitySize);
}

void SromInfo::SetIdentity(std::string_view identity) {
    std::fill_n(raw_.begin() + kSromOffIdentity, kIdentitySize, 0);
    bytes::PutBytes(raw_, kSromOffIdentity,
                    bytes::AsBytes(identity.substr(0, std::min(identity.size(), kIdentitySize))));
}

SromRegion SromInfo::Region(std::size_t index) const {
    SromRegion r;
    if (index >= kSromRegionCount) return r;
    const bytes::ConstBytes d =
        bytes::Slice(raw_, kSromOffRegions + index * kSromRegionSize, kSromRegionSize);
    bytes::GetU32(d, kRegOffAddress, r.address);
    bytes::GetU32(d, kRegOffReserved, r.reservedSize);
    bytes::GetU32(d, kRegOffWritten, r.writtenSize);
    bytes::GetU8(d, kRegOffChecksum, r.checksum);
    return r;
}

void SromInfo::SetRegion(std::size_t index, const SromRegion& region) {
    if (index >= kSromRegionCount) return;
    const bytes::MutBytes d =
        bytes::MutBytes(raw_).subspan(kSromOffRegions + index * kSromRegionSize, kSromRegionSize);
    bytes::PutU32(d, kRegOffAddress, region.address);
    bytes::PutU32(d, kRegOffReserved, region.reservedSize);
    bytes::PutU32(d, kRegOffWritten, region.writtenSize);
    bytes::PutU8(d, kRegOffChecksum, region.checksum);
}

}  // namespace orv::adapter
