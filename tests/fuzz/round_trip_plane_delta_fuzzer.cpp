// Round trip through the plane delta coder (see round_trip.h).
#include "round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orv::fuzz::RoundTrip(data, size, orv::adapter::kCodecPlaneDelta);
    return 0;
}
