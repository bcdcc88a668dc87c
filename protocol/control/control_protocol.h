// Every byte layout of the control channel between the panel (and orvctl)
// and the service, with its named offsets.
//
// The channel is one TCP connection. A message has no length field and no
// delimiter: byte 0 is its type and the type fixes the length, or the length
// follows from a count inside the message. All fields are little-endian and
// packed; i32 fields unless noted. Types 0x14, 0x40, 0x41, 0x42, 0x51 and 0x54
// exist in both directions with different lengths.
//
//   panel -> service                        service -> panel
//   0x01 hello                    1         0x02 hello reply 02 00 00 00   4
//   0x12 bezel      wall, f32     9         0x14 result, old id, new id   13
//   0x14 change id  old, new      9         0x40 wall list          9 + walls
//   0x40 get walls                1         0x41 K, K x MonitorEntry 5 + 16K
//   0x41 get monitors             1         0x42 encode mode               5
//   0x42 get encode mode          1         0x44 i64 (never sent)          9
//   0x43 select wall  selection   5         0x51 driver lost               1
//   0x50 create wall  WallRecord  41 + 32M  0x54 u8 (never sent)           2
//   0x51 remove wall entry  id, sel   9     0x57 u8 change, monitor id     6
//   0x54 thread count             5         0x5D N, N x monitor id   5 + 4N
//   0x55 add wall entry  n, n     9         0x61 ok                        5
//   0x56 destroy wall             1         0x63 wall destroyed            1
//   0x59 set cells  wall, N, N x WallCell   9 + 16N
//   0x5A remove monitor  wall, id 9
//   0x5B swap  wall, a, b        13
//   0x5C panel leaving            1
//   0x5E zone template  wall, nr  9
//   0x5F save configuration       1
//   0x60 set encode mode          5
//
//   WallRecord (40 bytes + zones): 0 wall id, 4 pixel mode, 8 columns,
//     12 rows, 16 total width, 20 total height, 24 monitor width,
//     28 monitor height, 32 zone count M, 36 zone template, 40 M x ZoneItem
//   ZoneItem (32 bytes): f64 x0, y0, x1, y1, fractions of the wall
//   WallCell (16 bytes): monitor id, cell index, column, row
//   MonitorEntry (16 bytes): cell index, column, row, monitor id
//   0x40 reply: 0x40, W; when W > 0 the selection and W WallRecords; then
//     an i32 1 (so W = 0 gives exactly 40 00 00 00 00 01 00 00 00)
//
// No message is longer than the receiver's 1 MiB receive buffer; a count that
// would make one longer is refused.
//
// Pure functions and value types: no socket, thread or clock; any thread.
// MessageCutter is a value that one reader owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/bytes.h"

namespace orv::control {

// ---------------------------------------------------------------- types
namespace type {
// panel -> service
inline constexpr std::uint8_t kHello = 0x01;
inline constexpr std::uint8_t kBezel = 0x12;
inline constexpr std::uint8_t kChangeMonitorId = 0x14;  // also the answer
inline constexpr std::uint8_t kGetWalls = 0x40;         // also the answer
inline constexpr std::uint8_t kGetMonitors = 0x41;      // also the answer
inline constexpr std::uint8_t kGetEncodeMode = 0x42;    // also the answer
inline constexpr std::uint8_t kSelectWall = 0x43;
inline constexpr std::uint8_t kCreateWall = 0x50;
inline constexpr std::uint8_t kRemoveWallEntry = 0x51;  // service -> panel: driver lost
inline constexpr std::uint8_t kThreadCount = 0x54;      // service -> panel: thread status
inline constexpr std::uint8_t kAddWallEntry = 0x55;
inline constexpr std::uint8_t kDestroyWall = 0x56;
inline constexpr std::uint8_t kSetWallCells = 0x59;
inline constexpr std::uint8_t kRemoveMonitor = 0x5A;
inline constexpr std::uint8_t kSwapMonitors = 0x5B;
inline constexpr std::uint8_t kPanelLeaving = 0x5C;
inline constexpr std::uint8_t kZoneTemplate = 0x5E;
inline constexpr std::uint8_t kSaveConfiguration = 0x5F;
inline constexpr std::uint8_t kSetEncodeMode = 0x60;
// service -> panel only
inline constexpr std::uint8_t kHelloReply = 0x02;
inline constexpr std::uint8_t kCpuValue = 0x44;
inline constexpr std::uint8_t kDriverLost = 0x51;
inline constexpr std::uint8_t kThreadStatus = 0x54;
inline constexpr std::uint8_t kMonitorChange = 0x57;
inline constexpr std::uint8_t kAdapterRemoved = 0x5D;
inline constexpr std::uint8_t kCreateResult = 0x61;
inline constexpr std::uint8_t kWallDestroyed = 0x63;
}  // namespace type

// ---------------------------------------------------------------- layouts
inline constexpr std::size_t kOffType = 0;
inline constexpr std::size_t kOffBody = 1;  // first field after the type byte
inline constexpr std::size_t kFieldSize = 4;
// The receiver's receive buffer: no message is longer.
inline constexpr std::size_t kMaxMessageSize = 1u << 20;

// WallRecord
inline constexpr std::size_t kWallOffId = 0;
inline constexpr std::size_t kWallOffPixelMode = 4;
inline constexpr std::size_t kWallOffColumns = 8;
inline constexpr std::size_t kWallOffRows = 12;
inline constexpr std::size_t kWallOffTotalWidth = 16;
inline constexpr std::size_t kWallOffTotalHeight = 20;
inline constexpr std::size_t kWallOffMonitorWidth = 24;
inline constexpr std::size_t kWallOffMonitorHeight = 28;
inline constexpr std::size_t kWallOffZoneCount = 32;
inline constexpr std::size_t kWallOffZoneTemplate = 36;
inline constexpr std::size_t kWallOffZones = 40;
inline constexpr std::size_t kWallRecordSize = 40;  // without its zones
static_assert(kWallOffZoneTemplate + kFieldSize == kWallRecordSize);
static_assert(kWallOffZones == kWallRecordSize);

// ZoneItem: four f64
inline constexpr std::size_t kZoneOffX0 = 0;
inline constexpr std::size_t kZoneOffY0 = 8;
inline constexpr std::size_t kZoneOffX1 = 16;
inline constexpr std::size_t kZoneOffY1 = 24;
inline constexpr std::size_t kZoneItemSize = 32;
static_assert(kZoneOffY1 + sizeof(double) == kZoneItemSize);

// WallCell as carried in 0x59
inline constexpr std::size_t kCellOffMonitorId = 0;
inline constexpr std::size_t kCellOffIndex = 4;
inline constexpr std::size_t kCellOffColumn = 8;
inline constexpr std::size_t kCellOffRow = 12;
inline constexpr std::size_t kWallCellSize = 16;
static_assert(kCellOffRow + kFieldSize == kWallCellSize);

// Monitor entry as carried in the 0x41 answer
inline constexpr std::size_t kEntryOffCellIndex = 0;
inline constexpr std::size_t kEntryOffColumn = 4;
inline constexpr std::size_t kEntryOffRow = 8;
inline constexpr std::size_t kEntryOffMonitorId = 12;
inline constexpr std::size_t kMonitorEntrySize = 16;
static_assert(kEntryOffMonitorId + kFieldSize == kMonitorEntrySize);

// Requests of fixed length
inline constexpr std::size_t kBareRequestSize = 1;      // 0x01 0x40 0x41 0x42 0x56 0x5C 0x5F
inline constexpr std::size_t kOneFieldRequestSize = 5;  // 0x43 0x54 0x60
inline constexpr std::size_t kTwoFieldRequestSize = 9;  // 0x12 0x14 0x51 0x55 0x5A 0x5E
inline constexpr std::size_t kSwapMonitorsSize = 13;    // 0x5B
static_assert(kOneFieldRequestSize == kOffBody + kFieldSize);
static_assert(kTwoFieldRequestSize == kOffBody + 2 * kFieldSize);
static_assert(kSwapMonitorsSize == kOffBody + 3 * kFieldSize);

// 0x50: the WallRecord from offset 1
inline constexpr std::size_t kCreateOffRecord = kOffBody;
inline constexpr std::size_t kCreateOffZoneCount = kCreateOffRecord + kWallOffZoneCount;
inline constexpr std::size_t kCreateWallFixedSize = kCreateOffRecord + kWallRecordSize;
static_assert(kCreateOffZoneCount == 33 && kCreateWallFixedSize == 41);
inline constexpr std::size_t kMaxZones = (kMaxMessageSize - kCreateWallFixedSize) / kZoneItemSize;

// 0x59
inline constexpr std::size_t kCellsOffWallId = 1;
inline constexpr std::size_t kCellsOffCount = 5;
inline constexpr std::size_t kCellsOffCells = 9;
inline constexpr std::size_t kSetWallCellsFixedSize = kCellsOffCells;
inline constexpr std::size_t kMaxCells = (kMaxMessageSize - kSetWallCellsFixedSize) / kWallCellSize;

// Service messages of fixed length
inline constexpr std::size_t kHelloReplySize = 4;
inline constexpr std::size_t kChangeIdReplySize = 13;
inline constexpr std::size_t kEncodeModeReplySize = 5;
inline constexpr std::size_t kCpuValueSize = 9;
inline constexpr std::size_t kDriverLostSize = 1;
inline constexpr std::size_t kThreadStatusSize = 2;
inline constexpr std::size_t kMonitorChangeSize = 6;
inline constexpr std::size_t kCreateResultSize = 5;
inline constexpr std::size_t kWallDestroyedSize = 1;
static_assert(kChangeIdReplySize == kOffBody + 3 * kFieldSize);
static_assert(kCpuValueSize == kOffBody + sizeof(std::int64_t));
static_assert(kMonitorChangeSize == kOffBody + 1 + kFieldSize);

// 0x40 answer
inline constexpr std::size_t kWallListOffCount = 1;
inline constexpr std::size_t kWallListOffSelection = 5;  // only when the count is not 0
inline constexpr std::size_t kWallListOffWalls = 9;
inline constexpr std::size_t kWallListEmptySize = 9;  // type, count 0, trailing 1
inline constexpr std::int32_t kWallListEnd = 1;       // the trailing i32
static_assert(kWallListEmptySize == kOffBody + 2 * kFieldSize);

// 0x41 answer
inline constexpr std::size_t kMonitorListOffCount = 1;
inline constexpr std::size_t kMonitorListOffEntries = 5;
inline constexpr std::size_t kMaxMonitorEntries =
    (kMaxMessageSize - kMonitorListOffEntries) / kMonitorEntrySize;

// 0x5D notice
inline constexpr std::size_t kRemovedOffCount = 1;
inline constexpr std::size_t kRemovedOffIds = 5;
inline constexpr std::size_t kMaxRemovedIds = (kMaxMessageSize - kRemovedOffIds) / kFieldSize;

// 0x57 notice
inline constexpr std::size_t kChangeOffKind = 1;  // u8
inline constexpr std::size_t kChangeOffMonitorId = 2;

// ---------------------------------------------------------------- values
inline constexpr std::int32_t kNotInWall = -1;  // cell index, column and row of a free monitor

// Monitor ids the service gives and accepts (its id container has 1024 bits).
inline constexpr std::int32_t kMinMonitorId = 1;
inline constexpr std::int32_t kMaxMonitorId = 1024;

// Pixel mode: the wall's output budget class.
inline constexpr std::int32_t kPixelMode4K = 1;
inline constexpr std::int32_t kPixelMode2K = 2;
inline constexpr std::int32_t kPixelMode1080P = 3;

// Encode mode.
inline constexpr std::int32_t kEncodeGpu = 1;
inline constexpr std::int32_t kEncodeCpu = 2;

// Results of the 0x14 answer.
inline constexpr std::int32_t kIdChanged = 1;
inline constexpr std::int32_t kIdRefusedPlaced = 2;
inline constexpr std::int32_t kIdsExchanged = 3;

// Change byte of 0x57.
inline constexpr std::uint8_t kMonitorArrived = 0;
inline constexpr std::uint8_t kMonitorLeft = 1;

// ---------------------------------------------------------------- records
struct ZoneItem {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;

    bool operator==(const ZoneItem&) const = default;
};

// The wall description of 0x50 and of each wall in the 0x40 answer. The zone
// count on the wire is zones.size().
struct WallRecord {
    std::int32_t wallId = -1;
    std::int32_t pixelMode = kPixelMode4K;
    std::int32_t columns = -1;
    std::int32_t rows = -1;
    std::int32_t totalWidth = -1;
    std::int32_t totalHeight = -1;
    std::int32_t monitorWidth = -1;
    std::int32_t monitorHeight = -1;
    std::int32_t zoneTemplate = 0;
    std::vector<ZoneItem> zones;

    bool operator==(const WallRecord&) const = default;
};

struct WallCell {
    std::int32_t monitorId = 0;
    std::int32_t cellIndex = 0;
    std::int32_t column = 0;
    std::int32_t row = 0;

    bool operator==(const WallCell&) const = default;
};

struct MonitorEntry {
    std::int32_t cellIndex = kNotInWall;
    std::int32_t column = kNotInWall;
    std::int32_t row = kNotInWall;
    std::int32_t monitorId = 0;

    bool operator==(const MonitorEntry&) const = default;
};

// ---------------------------------------------------------------- requests
// One struct per panel -> service message; kType is its type byte.
#define ORV_CONTROL_MESSAGE(Name, Type)         \
    static constexpr std::uint8_t kType = Type; \
    bool operator==(const Name&) const = default

struct Hello {
    ORV_CONTROL_MESSAGE(Hello, type::kHello);
};
struct Bezel {
    std::int32_t wallId = 0;
    float bezel = 0;
    ORV_CONTROL_MESSAGE(Bezel, type::kBezel);
};
struct ChangeMonitorId {
    std::int32_t oldId = 0;
    std::int32_t newId = 0;
    ORV_CONTROL_MESSAGE(ChangeMonitorId, type::kChangeMonitorId);
};
struct GetWalls {
    ORV_CONTROL_MESSAGE(GetWalls, type::kGetWalls);
};
struct GetMonitors {
    ORV_CONTROL_MESSAGE(GetMonitors, type::kGetMonitors);
};
struct GetEncodeMode {
    ORV_CONTROL_MESSAGE(GetEncodeMode, type::kGetEncodeMode);
};
struct SelectWall {
    std::int32_t selection = 0;
    ORV_CONTROL_MESSAGE(SelectWall, type::kSelectWall);
};
struct CreateWall {
    WallRecord wall;
    ORV_CONTROL_MESSAGE(CreateWall, type::kCreateWall);
};
struct RemoveWallEntry {
    std::int32_t removedId = 0;
    std::int32_t selection = 0;
    ORV_CONTROL_MESSAGE(RemoveWallEntry, type::kRemoveWallEntry);
};
struct ThreadCount {
    std::int32_t count = 0;
    ORV_CONTROL_MESSAGE(ThreadCount, type::kThreadCount);
};
struct AddWallEntry {
    std::int32_t wallCount = 0;  // the panel's wall count + 1
    std::int32_t selection = 0;  // the same value
    ORV_CONTROL_MESSAGE(AddWallEntry, type::kAddWallEntry);
};
struct DestroyWall {
    ORV_CONTROL_MESSAGE(DestroyWall, type::kDestroyWall);
};
struct SetWallCells {
    std::int32_t wallId = 0;
    std::vector<WallCell> cells;  // the count on the wire is cells.size()
    ORV_CONTROL_MESSAGE(SetWallCells, type::kSetWallCells);
};
struct RemoveMonitor {
    std::int32_t wallId = 0;
    std::int32_t monitorId = 0;
    ORV_CONTROL_MESSAGE(RemoveMonitor, type::kRemoveMonitor);
};
struct SwapMonitors {
    std::int32_t wallId = 0;
    std::int32_t monitorA = 0;
    std::int32_t monitorB = 0;
    ORV_CONTROL_MESSAGE(SwapMonitors, type::kSwapMonitors);
};
struct PanelLeaving {
    ORV_CONTROL_MESSAGE(PanelLeaving, type::kPanelLeaving);
};
struct ZoneTemplate {
    std::int32_t wallId = 0;
    std::int32_t templateNumber = 0;
    ORV_CONTROL_MESSAGE(ZoneTemplate, type::kZoneTemplate);
};
struct SaveConfiguration {
    ORV_CONTROL_MESSAGE(SaveConfiguration, type::kSaveConfiguration);
};
struct SetEncodeMode {
    std::int32_t mode = 0;
    ORV_CONTROL_MESSAGE(SetEncodeMode, type::kSetEncodeMode);
};

using Request = std::variant<Hello, Bezel, ChangeMonitorId, GetWalls, GetMonitors, GetEncodeMode,
                             SelectWall, CreateWall, RemoveWallEntry, ThreadCount, AddWallEntry,
                             DestroyWall, SetWallCells, RemoveMonitor, SwapMonitors, PanelLeaving,
                             ZoneTemplate, SaveConfiguration, SetEncodeMode>;

// ---------------------------------------------------------------- answers and notices
// One struct per service -> panel message.
struct HelloReply {
    ORV_CONTROL_MESSAGE(HelloReply, type::kHelloReply);
};
struct ChangeIdReply {
    std::int32_t result = 0;  // kIdChanged, kIdRefusedPlaced, kIdsExchanged
    std::int32_t oldId = 0;
    std::int32_t newId = 0;
    ORV_CONTROL_MESSAGE(ChangeIdReply, type::kChangeMonitorId);
};
struct WallList {
    std::int32_t selection = 0;  // on the wire only when walls is not empty
    std::vector<WallRecord> walls;
    ORV_CONTROL_MESSAGE(WallList, type::kGetWalls);
};
struct MonitorList {
    std::vector<MonitorEntry> entries;
    ORV_CONTROL_MESSAGE(MonitorList, type::kGetMonitors);
};
struct EncodeModeReply {
    std::int32_t mode = 0;
    ORV_CONTROL_MESSAGE(EncodeModeReply, type::kGetEncodeMode);
};
struct CpuValue {  // accepted by the panel; the service never sends it
    std::int64_t value = 0;
    ORV_CONTROL_MESSAGE(CpuValue, type::kCpuValue);
};
struct DriverLost {
    ORV_CONTROL_MESSAGE(DriverLost, type::kDriverLost);
};
struct ThreadStatus {  // accepted by the panel; the service never sends it
    std::uint8_t status = 0;
    ORV_CONTROL_MESSAGE(ThreadStatus, type::kThreadStatus);
};
struct MonitorChange {
    std::uint8_t change = kMonitorArrived;  // kMonitorArrived or kMonitorLeft
    std::int32_t monitorId = 0;
    ORV_CONTROL_MESSAGE(MonitorChange, type::kMonitorChange);
};
struct AdapterRemoved {
    std::vector<std::int32_t> monitorIds;  // may be empty
    ORV_CONTROL_MESSAGE(AdapterRemoved, type::kAdapterRemoved);
};
struct CreateResult {
    std::int32_t ok = 0;  // 1 built, 0 failed
    ORV_CONTROL_MESSAGE(CreateResult, type::kCreateResult);
};
struct WallDestroyed {
    ORV_CONTROL_MESSAGE(WallDestroyed, type::kWallDestroyed);
};

#undef ORV_CONTROL_MESSAGE

using ServiceMessage = std::variant<HelloReply, ChangeIdReply, WallList, MonitorList,
                                    EncodeModeReply, CpuValue, DriverLost, ThreadStatus,
                                    MonitorChange, AdapterRemoved, CreateResult, WallDestroyed>;

// ---------------------------------------------------------------- encode
// The bytes of one message, ready for one send. Empty when the message would
// be longer than kMaxMessageSize (more than kMaxZones zones, kMaxCells
// cells, ...), which a receiver would refuse.
std::vector<std::uint8_t> EncodeRequest(const Request& request);
std::vector<std::uint8_t> EncodeServiceMessage(const ServiceMessage& message);

// ---------------------------------------------------------------- decode
// Who reads the bytes: the service reads requests, the panel reads the
// service's answers and notices.
enum class Direction { kToService, kToPanel };

// Why bytes were refused.
enum class Fault {
    kNone,
    kEmpty,          // no bytes
    kUnknownType,    // the type has no layout in this direction
    kTooShort,       // fewer bytes than the type's layout
    kTooLong,        // more bytes than the type's fixed layout
    kBadCount,       // a count that is negative or makes the message too long
    kCountMismatch,  // a count that does not match the bytes received
    kBadValue,       // a field outside its few legal values (hello reply, change byte, list end)
};

struct Refusal {
    Fault fault = Fault::kNone;
    std::string reason;  // one line for the log, e.g. "0x14 is 5 bytes, its layout 9"
};

template <typename T>
struct Decoded {
    std::optional<T> value;  // set when the bytes were accepted
    Refusal refusal;         // fault kNone when value is set
};

// Decodes exactly one message. Fixed-length types must have exactly their
// length; counted types (0x50, 0x59; 0x40, 0x41, 0x5D) must hold exactly the
// bytes their counts announce. Counts are checked against the bytes before
// any element is read, and never size an allocation beyond those bytes.
Decoded<Request> DecodeRequest(bytes::ConstBytes message);
Decoded<ServiceMessage> DecodeServiceMessage(bytes::ConstBytes message);

// Cuts the byte stream of one connection into messages by their known
// lengths: bytes go in as they were received (messages may be merged into
// one receive or split over several), whole messages come out, byte for
// byte. The buffer grows only with bytes received: a count says how many
// bytes to wait for (at most kMaxMessageSize), never how many to allocate.
//
// Call Next until kNeedMore after every Append. A type without a layout
// cannot be delimited: Next refuses it and discards every buffered byte, and
// cutting starts again with the next receive. A count that is negative or
// would make the message too long is refused the same way.
//
// The stream itself cannot tell a request cut short from one split by TCP;
// the reader decides when the rest is not coming (for example after a quiet
// time-out on the connection) and calls DropPartial, which refuses what is
// buffered as too short.
class MessageCutter {
public:
    explicit MessageCutter(Direction direction) : direction_(direction) {}

    void Append(bytes::ConstBytes received);

    enum class Step { kMessage, kNeedMore, kRefused };
    // kMessage: `message` holds the next whole message (for DecodeRequest or
    // DecodeServiceMessage). kNeedMore: no whole message is buffered.
    // kRefused: `refusal` says why the buffered bytes were dropped.
    Step Next(std::vector<std::uint8_t>& message, Refusal& refusal);

    // Drops a buffered partial message. Fault kNone when nothing was buffered.
    Refusal DropPartial();

    std::size_t Buffered() const { return buffer_.size() - start_; }

private:
    void Discard();

    Direction direction_;
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;
};

// ---------------------------------------------------------------- panel rules
// The panel's 1-based, column-major cell index.
constexpr std::int32_t CellIndex(std::int32_t column, std::int32_t row, std::int32_t rows) {
    return column * rows + row + 1;
}

struct MonitorSize {
    std::int32_t width = 0;
    std::int32_t height = 0;

    bool operator==(const MonitorSize&) const = default;
};

// The monitor mode of a wall of columns x rows in a pixel mode: 1920 x 1080
// when the mode's pixel budget (4K, 2K or 1080p at 4 bytes a pixel; 0 for any
// other mode) holds that many 1920 x 1080 monitors, else 1280 x 720.
MonitorSize MonitorSizeFor(std::int32_t pixelMode, std::int32_t columns, std::int32_t rows);

// The panel offers 1 to 9 rows and columns and builds no wall of more than
// kMaxWallMonitors monitors.
inline constexpr std::int32_t kMaxMatrixSide = 9;
inline constexpr std::int32_t kMaxWallMonitors = 9;

// The panel's zone templates: 0 is none, 1 to kZoneTemplateCount each a fixed
// list of zones in the order the panel sends them. Empty for 0 and for any
// number outside the range.
inline constexpr std::int32_t kZoneTemplateCount = 8;
std::vector<ZoneItem> TemplateZones(std::int32_t templateNumber);

// The wall description the panel sends in 0x50: the monitor size from
// MonitorSizeFor and the totals from it.
WallRecord PanelWallRecord(std::int32_t wallId, std::int32_t pixelMode, std::int32_t columns,
                           std::int32_t rows, std::int32_t zoneTemplate,
                           std::vector<ZoneItem> zones);

}  // namespace orv::control
