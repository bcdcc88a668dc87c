// EDIDs from outside: the service's check of an EDID reply, and the
// simulator's EDID check, preferred-mode reader and hex-file parser.
#include "protocol/adapter/packets.h"
#include "sim/adapter/edid.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bytes::ConstBytes in(data, size);
    sim::EdidProblem(in);
    sim::EdidPreferredMode(in);
    std::string error;
    const auto parsed = sim::ParseEdidHex({reinterpret_cast<const char*>(data), size}, &error);
    if (parsed && !sim::EdidProblem(*parsed).empty()) __builtin_trap();  // only valid ones
    // As the reply of an EDID query: the fixed header, then the EDID bytes.
    std::vector<std::uint8_t> reply =
        adapter::BuildEdidReply(0x01, 0, static_cast<std::uint32_t>(size), in);
    (void)adapter::CheckEdidReply(0, reply, 0x01);  // only a crash counts
    return 0;
}
