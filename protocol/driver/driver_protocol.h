// Every byte layout of the display-driver channel, with its named offsets.
//
// The channel has two parts, shared by the service (service/driver,
// service/frame) and the display-driver stand-in (sim/driver):
//
// 1. TCP messages. Every field is a little-endian int32; a message is its type
//    followed by a fixed number of fields, and there is no length field, so a
//    reader cuts the byte stream by the length its type implies (types 16 and
//    17 exist in both directions with different lengths):
//
//      driver -> service                    service -> driver
//      1  hello                   4 bytes   2  hello reply                4 bytes
//      16 create answer  result,id 12       96 mode value                 8
//      17 drop answer    result,id 12       98 CALG value (255 unread)    8
//      32 view notice    flag,id   12       16 create view id,w,h,c,r     24
//                                           17 drop view   id             8
//
// 2. Per view, one shared-memory block "Global\ORV-SHARE-BUFFER<id>" of
//      size = (width * height + 3 * columns * rows) * 8 + 8
//    bytes, in two equal halves (half 1 at 0, half 2 at size / 2). A half:
//      0  u16  not read by the service
//      2  u16  n, the number of slots the service examines
//      4  n slots of `stride` = (size / 2 - 4) / (columns * rows) bytes
//    A FrameSlot:
//      0  u32  used length, this 12-byte header included; 0 = empty
//      4  u32  column of the target monitor
//      8  u32  row of the target monitor
//      12 one frame packet with its 48-byte header (type at slot byte 32,
//         FrameIndex at slot bytes 34..37)
//    and four named events that pace the halves (kEventNames).
//
// Pure functions and value types over caller buffers, through the
// bounds-checked helpers: no locks, no sockets, any thread. MessageCutter is a
// value that one reader owns.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace orv::driver {

// ---------------------------------------------------------------- messages
namespace msg {
inline constexpr std::int32_t kHello = 1;        // driver -> service
inline constexpr std::int32_t kHelloReply = 2;   // service -> driver
inline constexpr std::int32_t kCreateView = 16;  // request, and its answer
inline constexpr std::int32_t kDropView = 17;    // request, and its answer
inline constexpr std::int32_t kViewNotice = 32;  // driver -> service
inline constexpr std::int32_t kModeValue = 96;   // service -> driver
inline constexpr std::int32_t kCalgValue = 98;   // service -> driver
}  // namespace msg

inline constexpr std::size_t kFieldSize = 4;
inline constexpr std::size_t kHelloSize = 4;
inline constexpr std::size_t kHelloReplySize = 4;
inline constexpr std::size_t kAnswerSize = 12;  // create answer, drop answer, view notice
inline constexpr std::size_t kModeValueSize = 8;
inline constexpr std::size_t kCalgValueSize = 8;
inline constexpr std::size_t kCreateViewSize = 24;
inline constexpr std::size_t kDropViewSize = 8;
inline constexpr std::size_t kMaxMessageSize = kCreateViewSize;

// The CALG value sent when the registry value cannot be read.
inline constexpr std::int32_t kCalgUnread = 255;

// Who reads the stream: the service reads what the driver sends and the
// driver what the service sends.
enum class Direction { kToService, kToDriver };

// Bytes of a message of `type` in `direction`; 0 for a type that has no
// defined length there.
std::size_t MessageLength(Direction direction, std::int32_t type);

// One decoded message: its type and the int32 fields after it, in order
// (unused fields are 0). Field meanings per type:
//   create/drop answer: fields[0] result, fields[1] view id
//   view notice:        fields[0] flag, fields[1] view id
//   mode, CALG:         fields[0] value
//   create view:        view id, width, height, columns, rows
//   drop view:          fields[0] view id
struct Message {
    std::int32_t type = 0;
    std::array<std::int32_t, 5> fields{};

    bool operator==(const Message&) const = default;
};

// The bytes of one message, ready for one send.
struct Encoded {
    std::array<std::uint8_t, kMaxMessageSize> bytes{};
    std::size_t size = 0;

    bytes::ConstBytes Span() const { return {bytes.data(), size}; }
};

Encoded EncodeHello();
Encoded EncodeHelloReply();
Encoded EncodeModeValue(std::int32_t value);
Encoded EncodeCalgValue(std::int32_t value);
Encoded EncodeCreateView(std::int32_t viewId, std::int32_t width, std::int32_t height,
                         std::int32_t columns, std::int32_t rows);
Encoded EncodeDropView(std::int32_t viewId);
Encoded EncodeCreateAnswer(std::int32_t result, std::int32_t viewId);
Encoded EncodeDropAnswer(std::int32_t result, std::int32_t viewId);
Encoded EncodeViewNotice(std::int32_t flag, std::int32_t viewId);

// Decodes exactly one message of `direction` from `in`: nullopt when the
// type is unknown there or `in` is not exactly its length.
std::optional<Message> Decode(Direction direction, bytes::ConstBytes in);

// Cuts the TCP byte stream of one connection into messages: bytes go in as
// they were received (messages may be merged into one receive or split over
// several), whole messages come out. A message whose type has no defined
// length cannot be delimited; its receive is dropped: every byte buffered
// when Next meets it is discarded and counted in Discarded(), and cutting
// resumes with the next receive.
class MessageCutter {
public:
    explicit MessageCutter(Direction direction) : direction_(direction) {}

    void Append(bytes::ConstBytes received);

    enum class Step { kMessage, kNeedMore, kDiscarded };
    // kMessage: `out` holds the next message. kNeedMore: no whole message is
    // buffered. kDiscarded: an unknown type was met and the buffer emptied.
    Step Next(Message& out);

    std::size_t Buffered() const { return buffer_.size() - start_; }
    std::uint64_t Discarded() const { return discarded_; }

private:
    Direction direction_;
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;
    std::uint64_t discarded_ = 0;
};

// ---------------------------------------------------------------- names
// Kernel-object names; the platform layer maps them to POSIX names.
inline constexpr std::string_view kShareBufferPrefix = "Global\\ORV-SHARE-BUFFER";

// "Global\ORV-SHARE-BUFFER" followed by the view id in decimal.
std::string ShareBufferName(std::int32_t viewId);

// The four events, by index. The driver creates them; the service opens them.
inline constexpr std::size_t kEventHalf1Released = 0;  // service: done with half 1
inline constexpr std::size_t kEventHalf1Ready = 1;     // driver: half 1 holds a frame
inline constexpr std::size_t kEventHalf2Released = 2;  // service: done with half 2
inline constexpr std::size_t kEventHalf2Ready = 3;     // driver: half 2 holds a frame
inline constexpr std::array<std::string_view, 4> kEventNames = {
    "Global\\SyncDriverWaitEvent1",
    "Global\\SyncWaitDriverEvent1",
    "Global\\SyncDriverWaitEvent2",
    "Global\\SyncWaitDriverEvent2",
};

// ---------------------------------------------------------------- shared memory
inline constexpr std::size_t kHalfOffCount = 2;  // u16
inline constexpr std::size_t kHalfOffSlots = 4;
inline constexpr std::size_t kSlotOffUsed = 0;    // u32
inline constexpr std::size_t kSlotOffColumn = 4;  // u32
inline constexpr std::size_t kSlotOffRow = 8;     // u32
inline constexpr std::size_t kSlotHeaderSize = 12;
inline constexpr std::size_t kSlotOffPacket = kSlotHeaderSize;

// What a slot's packet must hold. The adapter packet header is 48 bytes with
// the data type at 20 and the FrameIndex at 22..25; the adapter's queue buffer
// takes at most 3 MiB. The service's copy of these is in
// protocol/adapter/packet_header.h; they are repeated here so that this
// layer depends on orv_common only (a test checks they agree).
inline constexpr std::size_t kPacketHeaderSize = 48;
inline constexpr std::size_t kPacketOffType = 20;
inline constexpr std::size_t kPacketOffFrameIndex = 22;
inline constexpr std::size_t kMaxPacketSize = 3u * 1024 * 1024;
inline constexpr std::size_t kSlotOffPacketType = kSlotOffPacket + kPacketOffType;
inline constexpr std::size_t kSlotOffFrameIndex = kSlotOffPacket + kPacketOffFrameIndex;
inline constexpr std::size_t kMinSlotUsed = kSlotHeaderSize + kPacketHeaderSize;
static_assert(kSlotOffPacketType == 32 && kSlotOffFrameIndex == 34);
static_assert(kSlotOffFrameIndex + 4 <= kMinSlotUsed);

// The geometry a view is created with.
struct ViewGeometry {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;

    std::uint32_t Cells() const { return columns * rows; }
};

// The mapping size of a view; 0 when the geometry has no cell, a dimension
// is 0, or the size does not fit in 32 bits (the formula is a 32-bit one and
// a wrapped size would not match the halves the driver computes).
std::uint32_t MappingSize(const ViewGeometry& g);

// The layout of one view's block, derived from its mapping size and cells.
struct ShareLayout {
    std::uint32_t size = 0;    // whole block
    std::uint32_t half = 0;    // bytes of one half: size / 2
    std::uint32_t stride = 0;  // bytes of one slot
    std::uint32_t cells = 0;   // slots that fit a half

    // Offset of half 1 or 2 in the block.
    std::uint32_t HalfOffset(int halfNumber) const { return halfNumber == 2 ? half : 0; }
};

// nullopt when MappingSize gives 0 or a slot could not hold a packet header.
std::optional<ShareLayout> LayoutFor(const ViewGeometry& g);

// Why a half or slot is not used. kOk and kEmpty are the normal cases.
enum class SlotCheck {
    kOk,
    kEmpty,              // used length 0
    kCountBeyondHalf,    // the half's slot count does not fit the half
    kBeyondStride,       // used length larger than the slot
    kShorterThanHeader,  // used length cannot hold the slot and packet headers
    kPacketTooLong,      // packet longer than the adapter's queue buffer
};

// A fixed text for the log line of a refused half or slot.
std::string_view SlotCheckText(SlotCheck check);

// The slot count of a half: kCountBeyondHalf (and `count` 0) when the count
// is more than the slots that fit (layout.cells) or `half` is not a whole half.
SlotCheck ReadSlotCount(bytes::ConstBytes half, const ShareLayout& layout, std::uint16_t& count);

// A validated FrameSlot. `packet` views the slot's packet in the half.
struct FrameSlot {
    std::uint32_t used = 0;
    std::uint32_t column = 0;
    std::uint32_t row = 0;
    bytes::ConstBytes packet;
};

// Reads slot `index` of `half` (index < the slot count). Every field is read
// once, so a peer that rewrites the slot meanwhile cannot make the result
// inconsistent. kOk fills `out`; any other result leaves it empty.
SlotCheck ReadFrameSlot(bytes::ConstBytes half, const ShareLayout& layout, std::uint32_t index,
                        FrameSlot& out);

// Writes a FrameSlot header and packet at slot `index` (the driver's side).
// False, and nothing written, when the packet does not pass ReadFrameSlot's
// checks.
bool WriteFrameSlot(bytes::MutBytes half, const ShareLayout& layout, std::uint32_t index,
                    std::uint32_t column, std::uint32_t row, bytes::ConstBytes packet);

// Writes the slot count of a half; false when it does not fit.
bool WriteSlotCount(bytes::MutBytes half, const ShareLayout& layout, std::uint16_t count);

}  // namespace orv::driver
