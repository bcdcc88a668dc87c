// The simulated adapter's packet check and dispatch, as its I/O thread runs
// them, without the socket: a sequence of OUT transfers, each checked; a
// topology that passes becomes the screens' modes, and frame packets are
// decoded into the screen they target.
//
// Input: records of u8 endpoint (bit 0: the frames pipe, else the commands
// pipe), u16 length (LE), that many bytes of transfer.
#include <array>
#include <string>

#include "fuzz_input.h"
#include "protocol/adapter/packet_header.h"
#include "sim/adapter/frame_decode.h"
#include "sim/adapter/packet_check.h"

using namespace orv;

namespace {

std::uint32_t U32(bytes::ConstBytes b, std::size_t offset) {
    std::uint32_t v = 0;
    bytes::GetU32(b, offset, v);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    sim::Topology topology{};
    std::array<sim::MonitorPicture, 2> screens;
    while (!in.Empty()) {
        const std::uint8_t endpoint =
            (in.Byte() & 1) != 0 ? adapter::kPipeOutFrames : adapter::kPipeOutCommands;
        const bytes::ConstBytes p = in.Take(in.U16());
        if (!sim::CheckOutPacket(endpoint, p, topology).empty()) continue;
        std::string error;
        switch (p[adapter::kOffDataType]) {
            case adapter::type::kTopology: {
                const auto next = sim::ReadTopology(p, &error);
                if (!next) break;
                topology = *next;
                for (int slot = 0; slot < 2; ++slot) {
                    const adapter::ScreenEntry& e = topology[slot];
                    sim::MonitorPicture& pic = screens[slot];
                    if (e.Empty() || (pic.width == e.width && pic.height == e.height &&
                                      pic.bitsPerPixel == e.bitsPerPixel))
                        continue;
                    pic = sim::MonitorPicture{};
                    pic.width = e.width;
                    pic.height = e.height;
                    pic.bitsPerPixel = e.bitsPerPixel;
                }
                break;
            }
            case adapter::type::kFrame:
            case adapter::type::kFrameAlt: {
                const auto slot = sim::FrameTarget(p, topology);
                if (!slot) __builtin_trap();  // CheckOutPacket refuses such packets
                const std::uint32_t frameIndex = U32(p, adapter::kOffFrameIndex);
                const bytes::ConstBytes picture =
                    p.subspan(adapter::kOffFramePicture, U32(p, adapter::kOffFramePictureLen));
                if (sim::DecodeFramePicture(screens[*slot], frameIndex, picture, &error) &&
                    frameIndex == 0)
                    sim::ShowFrame(screens[*slot]);
                break;
            }
            case adapter::type::kShowFrame:
                for (sim::MonitorPicture& pic : screens) sim::ShowFrame(pic);
                break;
            default:
                break;
        }
    }
    return 0;
}
