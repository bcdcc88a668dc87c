// Control-channel bytes as the service and the panel receive them: decoded
// whole in both directions, and cut from a stream split where the input says.
// A message that decodes must encode back to the very bytes it came from.
#include <vector>

#include "fuzz_input.h"
#include "protocol/control/control_protocol.h"

using namespace orv;

namespace {

template <typename Decoded, typename Encode>
void CheckRoundTrip(const Decoded& decoded, bytes::ConstBytes in, Encode encode) {
    if (!decoded.value) return;
    const std::vector<std::uint8_t> again = encode(*decoded.value);
    if (again.size() != in.size() || !std::equal(again.begin(), again.end(), in.begin()))
        __builtin_trap();
}

void Check(control::Direction direction, bytes::ConstBytes message) {
    if (direction == control::Direction::kToService)
        CheckRoundTrip(control::DecodeRequest(message), message, control::EncodeRequest);
    else
        CheckRoundTrip(control::DecodeServiceMessage(message), message,
                       control::EncodeServiceMessage);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint8_t piece = in.Byte();  // receive size for the cutter, 0 = all at once
    const bytes::ConstBytes stream = in.Rest();
    for (const auto direction : {control::Direction::kToService, control::Direction::kToPanel}) {
        Check(direction, stream);
        control::MessageCutter cutter(direction);
        std::vector<std::uint8_t> message;
        control::Refusal refusal;
        fuzz::Input receives(stream.data(), stream.size());
        while (!receives.Empty()) {
            const bytes::ConstBytes received =
                receives.Take(piece == 0 ? stream.size() : std::size_t{piece});
            cutter.Append(received);
            if (cutter.Buffered() > control::kMaxMessageSize + received.size()) __builtin_trap();
            for (;;) {
                const auto step = cutter.Next(message, refusal);
                if (step == control::MessageCutter::Step::kNeedMore) break;
                if (step == control::MessageCutter::Step::kMessage) Check(direction, message);
            }
        }
        cutter.DropPartial();
    }
    return 0;
}
