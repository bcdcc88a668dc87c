#include "protocol/driver/driver_protocol.h"

#include <algorithm>

namespace orv::driver {
namespace {

Encoded Encode(std::int32_t type, std::initializer_list<std::int32_t> fields) {
    Encoded e;
    bytes::ByteWriter w(e.bytes);
    w.U32(static_cast<std::uint32_t>(type));
    for (std::int32_t f : fields) w.U32(static_cast<std::uint32_t>(f));
    e.size = w.Pos();
    return e;
}

}  // namespace

std::size_t MessageLength(Direction direction, std::int32_t type) {
    if (direction == Direction::kToService) {
        switch (type) {
            case msg::kHello:
                return kHelloSize;
            case msg::kCreateView:
            case msg::kDropView:
            case msg::kViewNotice:
                return kAnswerSize;
            default:
                return 0;
        }
    }
    switch (type) {
        case msg::kHelloReply:
            return kHelloReplySize;
        case msg::kModeValue:
            return kModeValueSize;
        case msg::kCalgValue:
            return kCalgValueSize;
        case msg::kCreateView:
            return kCreateViewSize;
        case msg::kDropView:
            return kDropViewSize;
        default:
            return 0;
    }
}

Encoded EncodeHello() {
    return Encode(msg::kHello, {});
}
Encoded EncodeHelloReply() {
    return Encode(msg::kHelloReply, {});
}
Encoded EncodeModeValue(std::int32_t value) {
    return Encode(msg::kModeValue, {value});
}
Encoded EncodeCalgValue(std::int32_t value) {
    return Encode(msg::kCalgValue, {value});
}
Encoded EncodeCreateView(std::int32_t viewId, std::int32_t width, std::int32_t height,
                         std::int32_t columns, std::int32_t rows) {
    return Encode(msg::kCreateView, {viewId, width, height, columns, rows});
}
Encoded EncodeDropView(std::int32_t viewId) {
    return Encode(msg::kDropView, {viewId});
}
Encoded EncodeCreateAnswer(std::int32_t result, std::int32_t viewId) {
    return Encode(msg::kCreateView, {result, viewId});
}
Encoded EncodeDropAnswer(std::int32_t result, std::int32_t viewId) {
    return Encode(msg::kDropView, {result, viewId});
}
Encoded EncodeViewNotice(std::int32_t flag, std::int32_t viewId) {
    return Encode(msg::kViewNotice, {flag, viewId});
}

std::optional<Message> Decode(Direction direction, bytes::ConstBytes in) {
    bytes::ByteReader r(in);
    Message m;
    m.type = static_cast<std::int32_t>(r.U32());
    const std::size_t length = MessageLength(direction, m.type);
    if (!r.Ok() || length == 0 || in.size() != length) return std::nullopt;
    const std::size_t count = (length - kFieldSize) / kFieldSize;
    for (std::size_t i = 0; i < count; ++i) m.fields[i] = static_cast<std::int32_t>(r.U32());
    if (!r.Ok()) return std::nullopt;
    return m;
}

void MessageCutter::Append(bytes::ConstBytes received) {
    // Keep the buffer from growing with consumed bytes at its front.
    if (start_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), received.begin(), received.end());
}

MessageCutter::Step MessageCutter::Next(Message& out) {
    const bytes::ConstBytes pending = bytes::ConstBytes(buffer_).subspan(start_);
    std::uint32_t type = 0;
    if (!bytes::GetU32(pending, 0, type)) return Step::kNeedMore;
    const std::size_t length = MessageLength(direction_, static_cast<std::int32_t>(type));
    if (length == 0) {
        discarded_ += pending.size();
        buffer_.clear();
        start_ = 0;
        return Step::kDiscarded;
    }
    if (pending.size() < length) return Step::kNeedMore;
    out = *Decode(direction_, pending.first(length));
    start_ += length;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return Step::kMessage;
}

std::string ShareBufferName(std::int32_t viewId) {
    return std::string(kShareBufferPrefix) + std::to_string(viewId);
}

std::uint32_t MappingSize(const ViewGeometry& g) {
    if (g.width == 0 || g.height == 0 || g.columns == 0 || g.rows == 0) return 0;
    const std::uint64_t cells = std::uint64_t{g.columns} * g.rows;
    const std::uint64_t size = (std::uint64_t{g.width} * g.height + 3 * cells) * 8 + 8;
    return size > UINT32_MAX ? 0 : static_cast<std::uint32_t>(size);
}

std::optional<ShareLayout> LayoutFor(const ViewGeometry& g) {
    ShareLayout l;
    l.size = MappingSize(g);
    if (l.size == 0) return std::nullopt;
    l.half = l.size / 2;
    l.cells = g.Cells();
    l.stride = (l.half - static_cast<std::uint32_t>(kHalfOffSlots)) / l.cells;
    if (l.stride < kMinSlotUsed) return std::nullopt;
    return l;
}

std::string_view SlotCheckText(SlotCheck check) {
    switch (check) {
        case SlotCheck::kOk:
            return "ok";
        case SlotCheck::kEmpty:
            return "empty slot";
        case SlotCheck::kCountBeyondHalf:
            return "slot count beyond the half";
        case SlotCheck::kBeyondStride:
            return "used length beyond the slot";
        case SlotCheck::kShorterThanHeader:
            return "used length shorter than a packet header";
        case SlotCheck::kPacketTooLong:
            return "packet longer than the adapter buffer";
    }
    return "unknown";
}

SlotCheck ReadSlotCount(bytes::ConstBytes half, const ShareLayout& layout, std::uint16_t& count) {
    count = 0;
    std::uint16_t n = 0;
    if (half.size() != layout.half || !bytes::GetU16(half, kHalfOffCount, n) || n > layout.cells ||
        !bytes::Fits(half.size(), kHalfOffSlots, std::size_t{n} * layout.stride))
        return SlotCheck::kCountBeyondHalf;
    count = n;
    return SlotCheck::kOk;
}

SlotCheck ReadFrameSlot(bytes::ConstBytes half, const ShareLayout& layout, std::uint32_t index,
                        FrameSlot& out) {
    out = FrameSlot{};
    const bytes::ConstBytes slot =
        bytes::Slice(half, kHalfOffSlots + std::size_t{index} * layout.stride, layout.stride);
    if (slot.empty()) return SlotCheck::kCountBeyondHalf;
    bytes::ByteReader r(slot);
    const std::uint32_t used = r.U32();
    const std::uint32_t column = r.U32();
    const std::uint32_t row = r.U32();
    if (used == 0) return SlotCheck::kEmpty;
    if (used > layout.stride) return SlotCheck::kBeyondStride;
    if (used < kMinSlotUsed) return SlotCheck::kShorterThanHeader;
    if (used - kSlotHeaderSize > kMaxPacketSize) return SlotCheck::kPacketTooLong;
    out.used = used;
    out.column = column;
    out.row = row;
    out.packet = slot.subspan(kSlotOffPacket, used - kSlotHeaderSize);
    return SlotCheck::kOk;
}

bool WriteFrameSlot(bytes::MutBytes half, const ShareLayout& layout, std::uint32_t index,
                    std::uint32_t column, std::uint32_t row, bytes::ConstBytes packet) {
    const std::size_t offset = kHalfOffSlots + std::size_t{index} * layout.stride;
    const std::size_t used = kSlotHeaderSize + packet.size();
    if (half.size() != layout.half || index >= layout.cells || used > layout.stride ||
        used < kMinSlotUsed || packet.size() > kMaxPacketSize ||
        !bytes::Fits(half.size(), offset, used))
        return false;
    bytes::ByteWriter w(half.subspan(offset, used));
    w.U32(static_cast<std::uint32_t>(used));
    w.U32(column);
    w.U32(row);
    w.Bytes(packet);
    return w.Ok();
}

bool WriteSlotCount(bytes::MutBytes half, const ShareLayout& layout, std::uint16_t count) {
    if (half.size() != layout.half || count > layout.cells) return false;
    return bytes::PutU16(half, kHalfOffCount, count);
}

}  // namespace orv::driver
