// The service's checks of what an adapter sends: every reply check over the
// same bytes, then the notification parser. Byte 0 gives the link result, the
// version sub-type, the EDID port and the serial-ROM read length.
#include "fuzz_input.h"
#include "protocol/adapter/packets.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint8_t param = in.Byte();
    const int link = (param & 0x80) != 0 ? 31 : 0;
    const bytes::ConstBytes reply = in.Rest();
    // Only crashes and overruns count here; the checks' verdicts do not.
    (void)adapter::CheckTopologyReply(link, reply);
    (void)adapter::CheckCapsReply(link, reply);
    for (std::uint8_t subType : {adapter::kVersionFirmware, adapter::kVersionLayout}) {
        if (adapter::CheckVersionReply(link, reply, subType) != adapter::ReplyFault::kNone)
            continue;
        if (subType == adapter::kVersionFirmware) adapter::VersionText(reply);
        if (subType == adapter::kVersionLayout) adapter::LayoutVersion(reply);
    }
    (void)adapter::CheckSromReply(link, reply, std::size_t{param & 0x7Fu} * 8);
    const adapter::EdidCheck edid =
        adapter::CheckEdidReply(link, reply, static_cast<std::uint8_t>(1u << (param % 5)));
    if (edid.fault == adapter::ReplyFault::kNone) {
        // The EDID lies inside the reply.
        if (edid.edid.data() < reply.data() ||
            edid.edid.data() + edid.edid.size() > reply.data() + reply.size())
            __builtin_trap();
    }
    (void)adapter::ParseNotification(reply);
    return 0;
}
