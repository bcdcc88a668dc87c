// One half of a view's shared memory as a hostile driver may leave it: the
// geometry comes from the input's front, the half from the rest. Every slot
// the service would read is checked; an accepted slot must lie inside its
// stride and the half, and hold a whole packet header.
#include <vector>

#include "fuzz_input.h"
#include "protocol/driver/driver_protocol.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    driver::ViewGeometry g;
    g.columns = 1 + in.Byte() % 6;
    g.rows = 1 + in.Byte() % 6;
    // Small cells keep a half small enough to fill from the input.
    g.width = g.columns * (1 + in.Byte() % 64);
    g.height = g.rows * (1 + in.Byte() % 64);
    const auto layout = driver::LayoutFor(g);
    if (!layout) return 0;
    // The half is the input's bytes, repeated to its full size.
    const bytes::ConstBytes pattern = in.Rest();
    std::vector<std::uint8_t> half(layout->half);
    for (std::size_t i = 0; i < half.size() && !pattern.empty(); ++i)
        half[i] = pattern[i % pattern.size()];
    std::uint16_t count = 0;
    if (driver::ReadSlotCount(half, *layout, count) != driver::SlotCheck::kOk) return 0;
    if (count > layout->cells) __builtin_trap();
    for (std::uint32_t i = 0; i < count; ++i) {
        driver::FrameSlot slot;
        if (driver::ReadFrameSlot(half, *layout, i, slot) != driver::SlotCheck::kOk) continue;
        const auto* begin = half.data() + driver::kHalfOffSlots + std::size_t{i} * layout->stride;
        if (slot.used > layout->stride || slot.used < driver::kMinSlotUsed ||
            slot.packet.data() != begin + driver::kSlotOffPacket ||
            slot.packet.size() != slot.used - driver::kSlotHeaderSize ||
            slot.packet.data() + slot.packet.size() > half.data() + half.size())
            __builtin_trap();
    }
    return 0;
}
