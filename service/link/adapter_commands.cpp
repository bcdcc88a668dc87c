#include "service/link/adapter_commands.h"

#include <array>

#include "service/log/logger.h"

namespace orv::link {

using adapter::ReplyFault;
using adapter::ScreenEntry;

int SendControlCommand(COvwCommBase& link, int dataType, const adapter::ControlBody& body) {
    log::ServiceLog("+ SendControlCommand: datatype:%d +\n", dataType);
    adapter::Packet request = adapter::BuildControlCommand(body);
    std::array<std::uint8_t, adapter::kControlReplyMax> reply{};
    auto requestLength = static_cast<std::uint32_t>(request.size());
    auto replyLength = static_cast<std::uint32_t>(reply.size());
    const int r = link.Transact(adapter::kPipeOutCommands, request.data(), requestLength,
                                adapter::kPipeInReply, reply.data(), replyLength);
    log::ServiceLog("+ SendControlCommand: error :r=%d,DataSize=%d +\n", r,
                    static_cast<int>(replyLength));
    return 0;
}

ReplyFault SendTopo(COvwCommBase& link, const ScreenEntry& s0, const ScreenEntry& s1,
                    int showIdentification) {
    // The 16-bit value at entry offsets 8..9: refresh in the low byte, flags in the high.
    auto rateAndFlags = [](const ScreenEntry& e) { return e.refresh | (e.flags << 8); };
    log::ServiceLog(
        "Varkel: Send Topo:s0:[%d],[%d],[%d],[%d],[%d],[%d],[%d]; "
        "s1:[%d],[%d],[%d],[%d],[%d],[%d],[%d], isShowID=%d",
        s0.screenIndex, s0.portBit, s0.width, s0.height, s0.bitsPerPixel, rateAndFlags(s0),
        s0.modeClass, s1.screenIndex, s1.portBit, s1.width, s1.height, s1.bitsPerPixel,
        rateAndFlags(s1), s1.modeClass, showIdentification);

    adapter::Packet packet = adapter::BuildTopology(s0, s1);
    std::array<std::uint8_t, adapter::kTopologyReplySize> reply{};
    auto requestLength = static_cast<std::uint32_t>(packet.size());
    auto replyLength = static_cast<std::uint32_t>(reply.size());
    const int r = link.Transact(adapter::kPipeOutCommands, packet.data(), requestLength,
                                adapter::kPipeInReply, reply.data(), replyLength);
    const bytes::ConstBytes received(reply.data(),
                                     std::min<std::size_t>(replyLength, reply.size()));
    const ReplyFault fault = adapter::CheckTopologyReply(r, received);

    // Each failure logs its own line and then the lines of the checks it
    // passed, from the most specific down to the check-flag line.
    switch (fault) {
        case ReplyFault::kNone:
            log::ServiceLog("- Send Topo: Success -\n");
            break;
        case ReplyFault::kLink:
            log::ServiceLog("+ Send Topo #error#:communication error +\n");
            break;
        case ReplyFault::kStatus:
            log::ServiceLog("+ Send Topo: #error# bError:%d +\n",
                            received[adapter::kOffReplyStatus]);
            [[fallthrough]];
        case ReplyFault::kDataType:
            log::ServiceLog("+ Send Topo: #error# Data type:%d +\n",
                            received[adapter::kOffReplyType]);
            [[fallthrough]];
        default:
            log::ServiceLog("+ Send Topo: #error# check flag +\n");
            break;
    }
    return fault;
}

}  // namespace orv::link
