// The simulated bus's frame header and DESC payload decoders, as either end
// reads them from its peer. A descriptor that decodes encodes back to the
// same bytes.
#include <string>

#include "protocol/bus/bus_frame.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bytes::ConstBytes in(data, size);
    std::string error;
    if (size >= 8) bus::DecodeHeader(in.first(8), &error);
    const auto settings = bus::DecodeDescriptor(in, &error);
    if (settings &&
        bus::EncodeDescriptor(*settings) != std::vector<std::uint8_t>(data, data + size))
        __builtin_trap();
    return 0;
}
