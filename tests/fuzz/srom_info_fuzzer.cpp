// The serial ROM's information block as the service reads it from a reply:
// parsed, every field read, and rebuilt.
#include "protocol/adapter/srom_info.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto info = adapter::SromInfo::Parse({data, size});
    if (!info) return 0;
    info->ChecksumValid();
    info->ActiveSlot();
    info->Identity();
    for (std::size_t i = 0; i <= 5; ++i) info->Region(i);
    // Building keeps every field and makes the checksum hold.
    const auto built = adapter::SromInfo::Parse(info->Build());
    if (!built || !built->ChecksumValid() || built->Identity() != info->Identity() ||
        built->Region(0) != info->Region(0))
        __builtin_trap();
    return 0;
}
