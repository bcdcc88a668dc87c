// Round trip through the raw coder (see round_trip.h).
#include "round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orv::fuzz::RoundTrip(data, size, orv::adapter::kCodecRaw);
    return 0;
}
