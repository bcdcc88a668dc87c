#include "protocol/control/control_protocol.h"

#include <bit>
#include <cstdio>
#include <initializer_list>
#include <type_traits>

namespace orv::control {
namespace {

using bytes::ByteReader;
using bytes::ByteWriter;
using bytes::ConstBytes;

std::string Hex(std::uint8_t type) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", type);
    return text;
}

Refusal Refuse(Fault fault, std::string reason) {
    return Refusal{fault, std::move(reason)};
}

// ---------------------------------------------------------------- framing

// A type whose length follows from a count: the count's offset, the bytes
// before the counted elements and the size of one element.
struct CountedLayout {
    std::size_t countOffset = 0;
    std::size_t fixedSize = 0;
    std::size_t elementSize = 0;
    std::size_t maxCount = 0;
};

// The length of a fixed-length type in `direction`; 0 when it has none.
std::size_t FixedLength(Direction direction, std::uint8_t t) {
    if (direction == Direction::kToService) {
        switch (t) {
            case type::kHello:
            case type::kGetWalls:
            case type::kGetMonitors:
            case type::kGetEncodeMode:
            case type::kDestroyWall:
            case type::kPanelLeaving:
            case type::kSaveConfiguration:
                return kBareRequestSize;
            case type::kSelectWall:
            case type::kThreadCount:
            case type::kSetEncodeMode:
                return kOneFieldRequestSize;
            case type::kBezel:
            case type::kChangeMonitorId:
            case type::kRemoveWallEntry:
            case type::kAddWallEntry:
            case type::kRemoveMonitor:
            case type::kZoneTemplate:
                return kTwoFieldRequestSize;
            case type::kSwapMonitors:
                return kSwapMonitorsSize;
            default:
                return 0;
        }
    }
    switch (t) {
        case type::kHelloReply:
            return kHelloReplySize;
        case type::kChangeMonitorId:
            return kChangeIdReplySize;
        case type::kGetEncodeMode:
            return kEncodeModeReplySize;
        case type::kCpuValue:
            return kCpuValueSize;
        case type::kDriverLost:
            return kDriverLostSize;
        case type::kThreadStatus:
            return kThreadStatusSize;
        case type::kMonitorChange:
            return kMonitorChangeSize;
        case type::kCreateResult:
            return kCreateResultSize;
        case type::kWallDestroyed:
            return kWallDestroyedSize;
        default:
            return 0;
    }
}

std::optional<CountedLayout> Counted(Direction direction, std::uint8_t t) {
    if (direction == Direction::kToService) {
        if (t == type::kCreateWall)
            return CountedLayout{kCreateOffZoneCount, kCreateWallFixedSize, kZoneItemSize,
                                 kMaxZones};
        if (t == type::kSetWallCells)
            return CountedLayout{kCellsOffCount, kSetWallCellsFixedSize, kWallCellSize, kMaxCells};
        return std::nullopt;
    }
    if (t == type::kGetMonitors)
        return CountedLayout{kMonitorListOffCount, kMonitorListOffEntries, kMonitorEntrySize,
                             kMaxMonitorEntries};
    if (t == type::kAdapterRemoved)
        return CountedLayout{kRemovedOffCount, kRemovedOffIds, kFieldSize, kMaxRemovedIds};
    return std::nullopt;
}

bool IsWallList(Direction direction, std::uint8_t t) {
    return direction == Direction::kToPanel && t == type::kGetWalls;
}

// The smallest length a message of this type can have; 0 for no layout.
std::size_t MinimumLength(Direction direction, std::uint8_t t) {
    if (const std::size_t fixed = FixedLength(direction, t)) return fixed;
    if (const auto counted = Counted(direction, t)) return counted->fixedSize;
    if (IsWallList(direction, t)) return kWallListEmptySize;
    return 0;
}

// What the bytes at the front of a stream say about its first message.
struct Framing {
    enum Kind { kLength, kNeedMore, kRefused } kind = kNeedMore;
    std::size_t length = 0;
    Refusal refusal;
};

Framing Length(std::size_t length) {
    return Framing{Framing::kLength, length, {}};
}
Framing NeedMore() {
    return Framing{};
}
Framing Refused(Fault fault, std::string reason) {
    return Framing{Framing::kRefused, 0, Refuse(fault, std::move(reason))};
}

// A count read from `in` at `offset`, checked against `maxCount`.
std::optional<Framing> ReadCount(ConstBytes in, std::size_t offset, std::size_t maxCount,
                                 std::uint8_t t, std::size_t& count) {
    std::uint32_t raw = 0;
    if (!bytes::GetU32(in, offset, raw)) return NeedMore();
    const auto value = static_cast<std::int32_t>(raw);
    if (value < 0 || static_cast<std::size_t>(value) > maxCount)
        return Refused(Fault::kBadCount, Hex(t) + " count " + std::to_string(value) +
                                             " is outside 0.." + std::to_string(maxCount));
    count = static_cast<std::size_t>(value);
    return std::nullopt;
}

// The 0x40 answer: W walls, each with its own zone count. Walks only the
// bytes that are there; every zone count is checked before it moves on.
Framing WallListLength(ConstBytes in) {
    std::size_t walls = 0;
    constexpr std::size_t kMaxWalls =
        (kMaxMessageSize - kWallListEmptySize - kFieldSize) / kWallRecordSize;
    if (auto f = ReadCount(in, kWallListOffCount, kMaxWalls, type::kGetWalls, walls)) return *f;
    if (walls == 0) return Length(kWallListEmptySize);
    std::size_t pos = kWallListOffWalls;
    for (std::size_t i = 0; i < walls; ++i) {
        std::size_t zones = 0;
        if (auto f = ReadCount(in, pos + kWallOffZoneCount, kMaxZones, type::kGetWalls, zones))
            return *f;
        pos += kWallRecordSize + zones * kZoneItemSize;
        if (pos + kFieldSize > kMaxMessageSize)
            return Refused(Fault::kBadCount, "0x40 walls and zones make it longer than " +
                                                 std::to_string(kMaxMessageSize) + " bytes");
        if (pos > in.size()) return NeedMore();
    }
    return Length(pos + kFieldSize);
}

Framing FrameOf(Direction direction, ConstBytes in) {
    std::uint8_t t = 0;
    if (!bytes::GetU8(in, kOffType, t)) return NeedMore();
    if (const std::size_t fixed = FixedLength(direction, t)) return Length(fixed);
    if (const auto c = Counted(direction, t)) {
        std::size_t count = 0;
        if (auto f = ReadCount(in, c->countOffset, c->maxCount, t, count)) return *f;
        return Length(c->fixedSize + count * c->elementSize);
    }
    if (IsWallList(direction, t)) return WallListLength(in);
    return Refused(Fault::kUnknownType, "unknown message type " + Hex(t));
}

// Checks that `in` is exactly one message; the refusal when it is not.
std::optional<Refusal> CheckWhole(Direction direction, ConstBytes in) {
    if (in.empty()) return Refuse(Fault::kEmpty, "empty message");
    const std::uint8_t t = in[kOffType];
    const Framing f = FrameOf(direction, in);
    if (f.kind == Framing::kRefused) return f.refusal;
    const bool counted = Counted(direction, t) || IsWallList(direction, t);
    const std::size_t minimum = MinimumLength(direction, t);
    const std::string size = std::to_string(in.size());
    if (in.size() < minimum)
        return Refuse(Fault::kTooShort, Hex(t) + " is " + size + " bytes, its layout " +
                                            (counted ? "at least " : "") + std::to_string(minimum));
    if (f.kind == Framing::kNeedMore || f.length != in.size()) {
        if (counted)
            return Refuse(Fault::kCountMismatch,
                          Hex(t) + " is " + size + " bytes, its counts announce " +
                              (f.kind == Framing::kNeedMore ? "more" : std::to_string(f.length)));
        return Refuse(Fault::kTooLong,
                      Hex(t) + " is " + size + " bytes, its layout " + std::to_string(f.length));
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- fields

std::int32_t I32(ByteReader& r) {
    return static_cast<std::int32_t>(r.U32());
}

double F64(ByteReader& r) {
    return std::bit_cast<double>(r.U64());
}

// Counts in front of a writer: the first pass of every encode sizes the
// buffer, the second writes it through a ByteWriter.
class SizeCounter {
public:
    void U8(std::uint8_t) { size_ += 1; }
    void U16(std::uint16_t) { size_ += 2; }
    void U32(std::uint32_t) { size_ += 4; }
    void U64(std::uint64_t) { size_ += 8; }
    std::size_t Size() const { return size_; }

private:
    std::size_t size_ = 0;
};

template <typename W>
void PutI32(W& w, std::int32_t v) {
    w.U32(static_cast<std::uint32_t>(v));
}

template <typename W>
void PutCount(W& w, std::size_t n) {
    PutI32(w, static_cast<std::int32_t>(n));
}

template <typename W>
void PutZone(W& w, const ZoneItem& z) {
    for (double v : {z.x0, z.y0, z.x1, z.y1}) w.U64(std::bit_cast<std::uint64_t>(v));
}

template <typename W>
void PutWall(W& w, const WallRecord& r) {
    for (std::int32_t v : {r.wallId, r.pixelMode, r.columns, r.rows, r.totalWidth, r.totalHeight,
                           r.monitorWidth, r.monitorHeight})
        PutI32(w, v);
    PutCount(w, r.zones.size());
    PutI32(w, r.zoneTemplate);
    for (const ZoneItem& z : r.zones) PutZone(w, z);
}

ZoneItem ReadZone(ByteReader& r) {
    ZoneItem z;
    z.x0 = F64(r);
    z.y0 = F64(r);
    z.x1 = F64(r);
    z.y1 = F64(r);
    return z;
}

// Reads a WallRecord whose zone count was checked against the bytes.
WallRecord ReadWall(ByteReader& r) {
    WallRecord w;
    w.wallId = I32(r);
    w.pixelMode = I32(r);
    w.columns = I32(r);
    w.rows = I32(r);
    w.totalWidth = I32(r);
    w.totalHeight = I32(r);
    w.monitorWidth = I32(r);
    w.monitorHeight = I32(r);
    const auto zones = static_cast<std::size_t>(I32(r));
    w.zoneTemplate = I32(r);
    for (std::size_t i = 0; i < zones && r.Ok(); ++i) w.zones.push_back(ReadZone(r));
    return w;
}

// ---------------------------------------------------------------- bodies
// What follows the type byte, one function per message with fields. A
// message without fields takes the template.

template <typename W, typename T>
requires std::is_empty_v<T>
void Body(W&, const T&) {}

template <typename W>
void Body(W& w, const Bezel& m) {
    PutI32(w, m.wallId);
    w.U32(std::bit_cast<std::uint32_t>(m.bezel));
}
template <typename W>
void Body(W& w, const ChangeMonitorId& m) {
    PutI32(w, m.oldId);
    PutI32(w, m.newId);
}
template <typename W>
void Body(W& w, const SelectWall& m) {
    PutI32(w, m.selection);
}
template <typename W>
void Body(W& w, const CreateWall& m) {
    PutWall(w, m.wall);
}
template <typename W>
void Body(W& w, const RemoveWallEntry& m) {
    PutI32(w, m.removedId);
    PutI32(w, m.selection);
}
template <typename W>
void Body(W& w, const ThreadCount& m) {
    PutI32(w, m.count);
}
template <typename W>
void Body(W& w, const AddWallEntry& m) {
    PutI32(w, m.wallCount);
    PutI32(w, m.selection);
}
template <typename W>
void Body(W& w, const SetWallCells& m) {
    PutI32(w, m.wallId);
    PutCount(w, m.cells.size());
    for (const WallCell& c : m.cells)
        for (std::int32_t v : {c.monitorId, c.cellIndex, c.column, c.row}) PutI32(w, v);
}
template <typename W>
void Body(W& w, const RemoveMonitor& m) {
    PutI32(w, m.wallId);
    PutI32(w, m.monitorId);
}
template <typename W>
void Body(W& w, const SwapMonitors& m) {
    PutI32(w, m.wallId);
    PutI32(w, m.monitorA);
    PutI32(w, m.monitorB);
}
template <typename W>
void Body(W& w, const ZoneTemplate& m) {
    PutI32(w, m.wallId);
    PutI32(w, m.templateNumber);
}
template <typename W>
void Body(W& w, const SetEncodeMode& m) {
    PutI32(w, m.mode);
}

template <typename W>
void Body(W& w, const HelloReply&) {
    w.U8(0);  // read by the panel as the i32 2
    w.U16(0);
}
template <typename W>
void Body(W& w, const ChangeIdReply& m) {
    PutI32(w, m.result);
    PutI32(w, m.oldId);
    PutI32(w, m.newId);
}
template <typename W>
void Body(W& w, const WallList& m) {
    PutCount(w, m.walls.size());
    if (!m.walls.empty()) PutI32(w, m.selection);
    for (const WallRecord& r : m.walls) PutWall(w, r);
    PutI32(w, kWallListEnd);
}
template <typename W>
void Body(W& w, const MonitorList& m) {
    PutCount(w, m.entries.size());
    for (const MonitorEntry& e : m.entries)
        for (std::int32_t v : {e.cellIndex, e.column, e.row, e.monitorId}) PutI32(w, v);
}
template <typename W>
void Body(W& w, const EncodeModeReply& m) {
    PutI32(w, m.mode);
}
template <typename W>
void Body(W& w, const CpuValue& m) {
    w.U64(static_cast<std::uint64_t>(m.value));
}
template <typename W>
void Body(W& w, const ThreadStatus& m) {
    w.U8(m.status);
}
template <typename W>
void Body(W& w, const MonitorChange& m) {
    w.U8(m.change);
    PutI32(w, m.monitorId);
}
template <typename W>
void Body(W& w, const AdapterRemoved& m) {
    PutCount(w, m.monitorIds.size());
    for (std::int32_t id : m.monitorIds) PutI32(w, id);
}
template <typename W>
void Body(W& w, const CreateResult& m) {
    PutI32(w, m.ok);
}

template <typename Variant>
std::vector<std::uint8_t> Encode(const Variant& message) {
    return std::visit(
        [](const auto& m) {
            SizeCounter counter;
            counter.U8(m.kType);
            Body(counter, m);
            if (counter.Size() > kMaxMessageSize) return std::vector<std::uint8_t>{};
            std::vector<std::uint8_t> out(counter.Size());
            ByteWriter w(out);
            w.U8(m.kType);
            Body(w, m);
            return out;
        },
        message);
}

Request ReadRequest(std::uint8_t t, ByteReader& r) {
    switch (t) {
        case type::kHello:
            return Hello{};
        case type::kBezel: {
            Bezel m;
            m.wallId = I32(r);
            m.bezel = std::bit_cast<float>(r.U32());
            return m;
        }
        case type::kChangeMonitorId:
            return ChangeMonitorId{I32(r), I32(r)};
        case type::kGetWalls:
            return GetWalls{};
        case type::kGetMonitors:
            return GetMonitors{};
        case type::kGetEncodeMode:
            return GetEncodeMode{};
        case type::kSelectWall:
            return SelectWall{I32(r)};
        case type::kCreateWall:
            return CreateWall{ReadWall(r)};
        case type::kRemoveWallEntry:
            return RemoveWallEntry{I32(r), I32(r)};
        case type::kThreadCount:
            return ThreadCount{I32(r)};
        case type::kAddWallEntry:
            return AddWallEntry{I32(r), I32(r)};
        case type::kDestroyWall:
            return DestroyWall{};
        case type::kSetWallCells: {
            SetWallCells m;
            m.wallId = I32(r);
            const auto count = static_cast<std::size_t>(I32(r));
            for (std::size_t i = 0; i < count && r.Ok(); ++i)
                m.cells.push_back(WallCell{I32(r), I32(r), I32(r), I32(r)});
            return m;
        }
        case type::kRemoveMonitor:
            return RemoveMonitor{I32(r), I32(r)};
        case type::kSwapMonitors:
            return SwapMonitors{I32(r), I32(r), I32(r)};
        case type::kPanelLeaving:
            return PanelLeaving{};
        case type::kZoneTemplate:
            return ZoneTemplate{I32(r), I32(r)};
        case type::kSaveConfiguration:
            return SaveConfiguration{};
        default:  // CheckWhole let only known types through
            return SetEncodeMode{I32(r)};
    }
}

Decoded<ServiceMessage> ReadServiceMessage(std::uint8_t t, ByteReader& r) {
    auto accept = [](ServiceMessage m) { return Decoded<ServiceMessage>{std::move(m), {}}; };
    auto badValue = [t](const std::string& what) {
        return Decoded<ServiceMessage>{std::nullopt, Refuse(Fault::kBadValue, Hex(t) + " " + what)};
    };
    switch (t) {
        case type::kHelloReply:
            if (r.U8() != 0 || r.U16() != 0) return badValue("with bytes 1..3 not zero");
            return accept(HelloReply{});
        case type::kChangeMonitorId:
            return accept(ChangeIdReply{I32(r), I32(r), I32(r)});
        case type::kGetWalls: {
            WallList m;
            const auto walls = static_cast<std::size_t>(I32(r));
            if (walls > 0) m.selection = I32(r);
            for (std::size_t i = 0; i < walls && r.Ok(); ++i) m.walls.push_back(ReadWall(r));
            const std::int32_t end = I32(r);
            if (end != kWallListEnd)
                return badValue("ends with " + std::to_string(end) + ", not " +
                                std::to_string(kWallListEnd));
            return accept(std::move(m));
        }
        case type::kGetMonitors: {
            MonitorList m;
            const auto count = static_cast<std::size_t>(I32(r));
            for (std::size_t i = 0; i < count && r.Ok(); ++i)
                m.entries.push_back(MonitorEntry{I32(r), I32(r), I32(r), I32(r)});
            return accept(std::move(m));
        }
        case type::kGetEncodeMode:
            return accept(EncodeModeReply{I32(r)});
        case type::kCpuValue:
            return accept(CpuValue{static_cast<std::int64_t>(r.U64())});
        case type::kDriverLost:
            return accept(DriverLost{});
        case type::kThreadStatus:
            return accept(ThreadStatus{r.U8()});
        case type::kMonitorChange: {
            const std::uint8_t change = r.U8();
            if (change != kMonitorArrived && change != kMonitorLeft)
                return badValue("change byte " + std::to_string(change));
            return accept(MonitorChange{change, I32(r)});
        }
        case type::kAdapterRemoved: {
            AdapterRemoved m;
            const auto count = static_cast<std::size_t>(I32(r));
            for (std::size_t i = 0; i < count && r.Ok(); ++i) m.monitorIds.push_back(I32(r));
            return accept(std::move(m));
        }
        case type::kCreateResult:
            return accept(CreateResult{I32(r)});
        default:  // CheckWhole let only known types through
            return accept(WallDestroyed{});
    }
}

}  // namespace

// ---------------------------------------------------------------- public

std::vector<std::uint8_t> EncodeRequest(const Request& request) {
    return Encode(request);
}

std::vector<std::uint8_t> EncodeServiceMessage(const ServiceMessage& message) {
    return Encode(message);
}

Decoded<Request> DecodeRequest(ConstBytes message) {
    if (auto refusal = CheckWhole(Direction::kToService, message))
        return {std::nullopt, std::move(*refusal)};
    ByteReader r(message);
    const std::uint8_t t = r.U8();
    return {ReadRequest(t, r), {}};
}

Decoded<ServiceMessage> DecodeServiceMessage(ConstBytes message) {
    if (auto refusal = CheckWhole(Direction::kToPanel, message))
        return {std::nullopt, std::move(*refusal)};
    ByteReader r(message);
    const std::uint8_t t = r.U8();
    return ReadServiceMessage(t, r);
}

void MessageCutter::Append(ConstBytes received) {
    // Keep the buffer from growing with consumed bytes at its front.
    if (start_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), received.begin(), received.end());
}

MessageCutter::Step MessageCutter::Next(std::vector<std::uint8_t>& message, Refusal& refusal) {
    const ConstBytes pending = ConstBytes(buffer_).subspan(start_);
    const Framing f = FrameOf(direction_, pending);
    if (f.kind == Framing::kRefused) {
        refusal = f.refusal;
        refusal.reason += "; " + std::to_string(pending.size()) + " bytes dropped";
        Discard();
        return Step::kRefused;
    }
    if (f.kind == Framing::kNeedMore || pending.size() < f.length) return Step::kNeedMore;
    message.assign(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(f.length));
    start_ += f.length;
    if (start_ == buffer_.size()) Discard();
    return Step::kMessage;
}

Refusal MessageCutter::DropPartial() {
    const ConstBytes pending = ConstBytes(buffer_).subspan(start_);
    if (pending.empty()) return {};
    const std::uint8_t t = pending[kOffType];
    const Framing f = FrameOf(direction_, pending);
    Refusal r = Refuse(Fault::kTooShort,
                       Hex(t) + " cut short at " + std::to_string(pending.size()) + " bytes of " +
                           (f.kind == Framing::kLength
                                ? std::to_string(f.length)
                                : "at least " + std::to_string(MinimumLength(direction_, t))));
    Discard();
    return r;
}

void MessageCutter::Discard() {
    buffer_.clear();
    start_ = 0;
}

// ---------------------------------------------------------------- panel rules

MonitorSize MonitorSizeFor(std::int32_t pixelMode, std::int32_t columns, std::int32_t rows) {
    constexpr std::int64_t kFullHdBytes = 1920LL * 1080 * 4;
    std::int64_t budget = 0;
    switch (pixelMode) {
        case kPixelMode4K:
            budget = 3840LL * 2160 * 4;
            break;
        case kPixelMode2K:
            budget = 2560LL * 1440 * 4;
            break;
        case kPixelMode1080P:
            budget = kFullHdBytes;
            break;
        default:
            break;
    }
    const std::int64_t monitors = std::int64_t{rows} * columns;
    if (budget >= monitors * kFullHdBytes) return {1920, 1080};
    return {1280, 720};
}

std::vector<ZoneItem> TemplateZones(std::int32_t templateNumber) {
    // Columns of a grid split at the given fractions, listed column by
    // column, top to bottom.
    auto grid = [](std::initializer_list<double> xs, std::initializer_list<double> ys) {
        std::vector<ZoneItem> zones;
        for (auto x = xs.begin(); x + 1 != xs.end(); ++x)
            for (auto y = ys.begin(); y + 1 != ys.end(); ++y)
                zones.push_back({*x, *y, *(x + 1), *(y + 1)});
        return zones;
    };
    switch (templateNumber) {
        case 1:
            return {{0, 0, 0.5, 0.5}, {0, 0.5, 0.5, 1}, {0.5, 0, 1, 1}};
        case 2:
            return grid({0, 0.5, 1}, {0, 0.5, 1});
        case 3:
            return grid({0, 0.5, 1}, {0, 0.25, 0.75, 1});
        case 4:
            return {{0, 0, 0.5, 1}, {0.5, 0, 1, 0.25}, {0.5, 0.25, 1, 0.75}, {0.5, 0.75, 1, 1}};
        case 5:
            return {{0, 0, 0.5, 0.25}, {0, 0.25, 0.5, 0.75}, {0, 0.75, 0.5, 1}, {0.5, 0, 1, 1}};
        case 6:
            return {{0, 0, 0.5, 0.5},    {0, 0.5, 0.5, 1},    {0.5, 0, 1, 0.25},
                    {0.5, 0.25, 1, 0.5}, {0.5, 0.5, 1, 0.75}, {0.5, 0.75, 1, 1}};
        case 7:
            return grid({0, 0.25, 0.75, 1}, {0, 0.25, 0.75, 1});
        case 8:
            return grid({0, 0.25, 0.5, 0.75, 1}, {0, 0.25, 0.5, 0.75, 1});
        default:
            return {};
    }
}

WallRecord PanelWallRecord(std::int32_t wallId, std::int32_t pixelMode, std::int32_t columns,
                           std::int32_t rows, std::int32_t zoneTemplate,
                           std::vector<ZoneItem> zones) {
    const MonitorSize size = MonitorSizeFor(pixelMode, columns, rows);
    WallRecord r;
    r.wallId = wallId;
    r.pixelMode = pixelMode;
    r.columns = columns;
    r.rows = rows;
    r.totalWidth = columns * size.width;
    r.totalHeight = rows * size.height;
    r.monitorWidth = size.width;
    r.monitorHeight = size.height;
    r.zoneTemplate = zoneTemplate;
    r.zones = std::move(zones);
    return r;
}

}  // namespace orv::control
