// The frame dispatch of one view, fed by the test through a block in memory
// and the four named events. The monitors are not their adapter's own, so the
// send thread drops the packets it accepts and nothing is acknowledged unless
// the test does it; an adapter's link, when it has one, only counts the
// show-frame commands.
#include "service/frame/frame_dispatch.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <thread>

#include "protocol/adapter/frame_packet.h"
#include "protocol/adapter/packet_header.h"
#include "service/adapter/adapter.h"
#include "tests/support/temp_dir.h"

namespace orv::frame {
namespace {

using adapter::COvwAdapter;
using adapter::COvwMonitor;
namespace drv = orv::driver;
using Clock = std::chrono::steady_clock;

// Accepts every write; counts the show-frame commands and keeps the last
// number shown. Never started, so the notification reader never reads.
class ShowFrameLink final : public link::COvwCommBase {
public:
    int Connect(const std::string&) override { return link::kLinkOk; }
    int Disconnect() override { return link::kLinkOk; }
    int Read(std::uint8_t, std::uint8_t*, std::uint32_t& length) override {
        length = 0;
        return link::kLinkNotConnected;
    }
    int Write(std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t& length) override {
        const bytes::ConstBytes packet(buffer, length);
        std::uint8_t type = 0;
        std::uint32_t number = 0;
        if (pipe == adapter::kPipeOutCommands &&
            bytes::GetU8(packet, adapter::kOffDataType, type) &&
            type == adapter::type::kShowFrame &&
            bytes::GetU32(packet, adapter::kOffShowFrameNumber, number)) {
            lastShown = number;
            ++showFrames;
        }
        return link::kLinkOk;
    }
    int Transact(std::uint8_t, std::uint8_t*, std::uint32_t&, std::uint8_t, std::uint8_t*,
                 std::uint32_t& replyLength) override {
        replyLength = 0;
        return link::kLinkNotConnected;
    }

    std::atomic<int> showFrames{0};
    std::atomic<std::uint32_t> lastShown{0};
};

// An adapter with a counting link and monitors placed on the given ports.
struct LinkedAdapter {
    COvwAdapter adapter{{}};
    std::vector<std::unique_ptr<COvwMonitor>> monitors;
    ShowFrameLink* link = nullptr;

    // Monitors are placed before the link is set, so placing sends nothing.
    LinkedAdapter(std::initializer_list<std::pair<int, std::array<int, 2>>> ports, int width,
                  int height) {
        for (const auto& [port, place] : ports) {
            monitors.push_back(std::make_unique<COvwMonitor>(adapter, port));
            monitors.back()->Place(
                place[0], place[1],
                {static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 32, 60, 0});
        }
        auto owned = std::make_unique<ShowFrameLink>();
        link = owned.get();
        adapter.SetLink(adapter::OwnLink(std::move(owned)));
    }
};

template <typename F>
bool WaitFor(F done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class FrameDispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ORV_ROOT", dir_.Path().c_str(), 1);
        const std::string ns = "frames" + std::to_string(getpid()) + "-" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        setenv("ORV_IPC_NAMESPACE", ns.c_str(), 1);
        for (std::size_t i = 0; i < 4; ++i) {
            events_[i] = platform::NamedEvent::Create(drv::kEventNames[i], false, false);
            raw_[i] = events_[i].get();
        }
        StartDispatch({256, 36, 4, 1});  // a 4 x 1 wall of small monitors
    }
    void TearDown() override { dispatch_.reset(); }

    // A fresh dispatch over a block laid out for `geometry`.
    void StartDispatch(const drv::ViewGeometry& geometry) {
        dispatch_.reset();
        // Stopping wakes the frame thread through both "ready" events; the
        // one it did not take must not feed the next dispatch.
        for (platform::NamedEvent* e : raw_) e->Reset();
        layout_ = *drv::LayoutFor(geometry);
        block_.assign(layout_.size, 0);
        dispatch_ = std::make_unique<CFrameDispatch>(block_, layout_, raw_);
        dispatch_->Start();
    }
    // Links `grid` with `monitors` in their places and lets frames through.
    void Link(wall::WallGrid& grid, const std::vector<COvwMonitor*>& monitors) {
        MutexLock lock(wall::WallLayoutLock);
        for (COvwMonitor* m : monitors) grid.SetCell(m->Column(), m->Row(), m);
        dispatch_->LinkGrid(&grid);
        dispatch_->SetIdle(false);
    }
    std::uint32_t StampedIndex(int half, std::uint32_t slot) {
        std::uint32_t index = 0;
        bytes::GetU32(Half(half),
                      drv::kHalfOffSlots + slot * layout_.stride + drv::kSlotOffFrameIndex, index);
        return index;
    }

    bytes::MutBytes Half(int n) {
        return bytes::MutBytes(block_).subspan(layout_.HalfOffset(n), layout_.half);
    }
    // Signals half `n` ready and waits until the dispatch releases it.
    bool Feed(int n) {
        raw_[n == 1 ? drv::kEventHalf1Ready : drv::kEventHalf2Ready]->Set();
        return raw_[n == 1 ? drv::kEventHalf1Released : drv::kEventHalf2Released]->Wait(5000) ==
               platform::kWaitObject0;
    }
    static std::vector<std::uint8_t> Packet(std::size_t size = 100) {
        std::vector<std::uint8_t> p(size, 0);
        // Short packets are wanted here too: only the header fields that fit matter.
        (void)adapter::WriteFramePacketHeader(p, static_cast<std::uint32_t>(size - 48), 0);
        return p;
    }

    test::TempDir dir_;
    drv::ShareLayout layout_;
    std::vector<std::uint8_t> block_;
    std::array<std::unique_ptr<platform::NamedEvent>, 4> events_;
    std::array<platform::NamedEvent*, 4> raw_{};
    std::unique_ptr<CFrameDispatch> dispatch_;
};

TEST_F(FrameDispatchTest, EmptyAndIdleFramesStillReleaseEachHalfInTurn) {
    // n = 0 in both halves.
    ASSERT_TRUE(Feed(1));
    ASSERT_TRUE(Feed(2));
    // An idle view discards a half that holds a slot.
    ASSERT_TRUE(drv::WriteFrameSlot(Half(1), layout_, 0, 0, 0, Packet()));
    ASSERT_TRUE(drv::WriteSlotCount(Half(1), layout_, 1));
    ASSERT_TRUE(Feed(1));
    const FrameStats s = dispatch_->Stats();
    EXPECT_EQ(s.emptyFrames, 3u);
    EXPECT_EQ(s.frames, 0u);
    EXPECT_EQ(dispatch_->NextFrameNumber(), 1u);
}

TEST_F(FrameDispatchTest, SlotsReachOnlyPlacedMonitorsAtTheirPlaceAndBadOnesAreSkipped) {
    COvwAdapter adapter{{}};
    COvwMonitor m(adapter, 0x04);
    m.Place(1, 0, {256 / 4, 36, 32, 60, 0});
    wall::WallGrid grid(4, 1, 256, 36, 64, 36);
    {
        MutexLock lock(wall::WallLayoutLock);
        grid.SetCell(1, 0, &m);
        dispatch_->LinkGrid(&grid);
    }
    dispatch_->SetIdle(false);

    const bytes::MutBytes half = Half(1);
    ASSERT_TRUE(drv::WriteFrameSlot(half, layout_, 0, 5, 0, Packet()));  // column 5 of 4
    ASSERT_TRUE(drv::WriteFrameSlot(half, layout_, 1, 1, 0, Packet()));  // the monitor
    ASSERT_TRUE(drv::WriteFrameSlot(half, layout_, 2, 2, 0, Packet()));  // empty cell
    // A hostile length past the slot, and one too short for a header.
    bytes::PutU32(half, drv::kHalfOffSlots + 3 * layout_.stride, layout_.stride + 1);
    ASSERT_TRUE(drv::WriteSlotCount(half, layout_, 4));
    ASSERT_TRUE(Feed(1));
    // Only the monitor's packet was stamped: frame 1, port bit 4.
    std::uint32_t index = 0;
    bytes::GetU32(half, drv::kHalfOffSlots + layout_.stride + drv::kSlotOffFrameIndex, index);
    EXPECT_EQ(index, (1u << 8) | 0x04);
    bytes::GetU32(half, drv::kHalfOffSlots + drv::kSlotOffFrameIndex, index);
    EXPECT_EQ(index, 0u);
    FrameStats s = dispatch_->Stats();
    EXPECT_EQ(s.frames, 1u);
    EXPECT_EQ(s.badSlots, 1u);

    // A slot count past the half refuses the whole half.
    bytes::PutU16(Half(2), drv::kHalfOffCount, 5);
    ASSERT_TRUE(Feed(2));
    EXPECT_EQ(dispatch_->Stats().badSlots, 2u);

    // The monitor leaves before its acknowledgement: the pending frame no
    // longer names it and completes at once instead of after a second.
    {
        MutexLock lock(wall::WallLayoutLock);
        grid.Forget(&m);
        dispatch_->ForgetMonitor(&m);
    }
    for (int i = 0; i < 5000 && dispatch_->Stats().shownFrames == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    s = dispatch_->Stats();
    EXPECT_EQ(s.shownFrames, 1u);
    EXPECT_EQ(s.ackTimeouts, 0u);  // it did not wait out the second
    dispatch_.reset();             // joined before the monitor and grid go
}

TEST_F(FrameDispatchTest, TwoMonitorsOfOneAdapterGetAPacketEachAndOneShowFrame) {
    LinkedAdapter a({{0x01, {0, 0}}, {0x04, {1, 0}}}, 64, 36);
    COvwMonitor& m1 = *a.monitors[0];
    COvwMonitor& m4 = *a.monitors[1];
    wall::WallGrid grid(4, 1, 256, 36, 64, 36);
    Link(grid, {&m1, &m4});

    ASSERT_TRUE(drv::WriteFrameSlot(Half(1), layout_, 0, 0, 0, Packet()));
    ASSERT_TRUE(drv::WriteFrameSlot(Half(1), layout_, 1, 1, 0, Packet()));
    ASSERT_TRUE(drv::WriteSlotCount(Half(1), layout_, 2));
    m1.Acknowledge((1u << 8) | 0x01);
    m4.Acknowledge((1u << 8) | 0x04);
    ASSERT_TRUE(Feed(1));
    // Each packet carries its own monitor's index.
    EXPECT_EQ(StampedIndex(1, 0), (1u << 8) | 0x01);
    EXPECT_EQ(StampedIndex(1, 1), (1u << 8) | 0x04);
    ASSERT_TRUE(WaitFor([&] { return dispatch_->Stats().shownFrames == 1; }));
    EXPECT_EQ(a.link->showFrames, 1);
    EXPECT_EQ(a.link->lastShown, 1u);
    EXPECT_EQ(a.adapter.SkippedPackets(), 0u);

    // Frame 2 is acknowledged by one monitor only: it is waited for about a
    // second, then shown on the adapter anyway.
    ASSERT_TRUE(drv::WriteFrameSlot(Half(2), layout_, 0, 0, 0, Packet()));
    ASSERT_TRUE(drv::WriteFrameSlot(Half(2), layout_, 1, 1, 0, Packet()));
    ASSERT_TRUE(drv::WriteSlotCount(Half(2), layout_, 2));
    m1.Acknowledge((2u << 8) | 0x01);
    const auto fed = Clock::now();
    ASSERT_TRUE(Feed(2));
    ASSERT_TRUE(WaitFor([&] { return dispatch_->Stats().shownFrames == 2; }));
    const auto waited = Clock::now() - fed;
    // The wait starts after the feed, so it cannot be shorter; the upper
    // bound is generous because the machine is shared.
    EXPECT_GE(waited, std::chrono::milliseconds(CFrameDispatch::kAckWaitMs));
    EXPECT_LT(waited, std::chrono::milliseconds(3 * CFrameDispatch::kAckWaitMs));
    EXPECT_EQ(dispatch_->Stats().ackTimeouts, 1u);
    EXPECT_EQ(a.link->showFrames, 2);
    EXPECT_EQ(a.link->lastShown, 2u);
    dispatch_.reset();
}

TEST_F(FrameDispatchTest, AdaptersThatNeverAcknowledgeAreWaitedOutAndTheBacklogStaysBounded) {
    LinkedAdapter a({{0x01, {0, 0}}}, 64, 36);
    LinkedAdapter b({{0x01, {1, 0}}}, 64, 36);
    wall::WallGrid grid(4, 1, 256, 36, 64, 36);
    Link(grid, {a.monitors[0].get(), b.monitors[0].get()});
    for (int half : {1, 2}) {
        ASSERT_TRUE(drv::WriteFrameSlot(Half(half), layout_, 0, 0, 0, Packet()));
        ASSERT_TRUE(drv::WriteFrameSlot(Half(half), layout_, 1, 1, 0, Packet()));
        ASSERT_TRUE(drv::WriteSlotCount(Half(half), layout_, 2));
    }

    // The driver refills every half as soon as it is released. Ten seconds:
    // with one frame retired a second, the backlog bound is reached after
    // about eight.
    const auto start = Clock::now();
    Clock::duration firstShown{};
    FrameStats s;
    for (int half = 1; Clock::now() - start < std::chrono::seconds(10); half = 3 - half) {
        ASSERT_TRUE(Feed(half));
        s = dispatch_->Stats();
        ASSERT_LE(s.frames - s.shownFrames, CFrameDispatch::kMaxBacklog);
        if (s.shownFrames > 0 && firstShown == Clock::duration{}) firstShown = Clock::now() - start;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    s = dispatch_->Stats();
    EXPECT_GT(s.droppedFrames, 0u);
    // While the backlog is full the frame thread still paces itself on the
    // in-flight places (at most one wait of 500 ms per frame, one place per
    // shown frame) instead of releasing every half at once.
    EXPECT_LE(static_cast<double>(s.droppedFrames), 3 * seconds + 3);
    // Every frame is waited for a full second, and then shown on both
    // adapters (a generous bound: the machine is shared).
    EXPECT_GE(firstShown, std::chrono::milliseconds(CFrameDispatch::kAckWaitMs));
    EXPECT_LE(static_cast<double>(s.shownFrames), seconds + 1);
    EXPECT_GE(s.shownFrames, 2u);
    EXPECT_EQ(s.ackTimeouts, s.shownFrames);
    EXPECT_GE(a.link->showFrames, static_cast<int>(s.shownFrames));
    EXPECT_GE(b.link->showFrames, static_cast<int>(s.shownFrames));
    dispatch_.reset();
}

TEST_F(FrameDispatchTest, HostileHalvesNeverReachAnAdapterAndGoodSlotsStillGetThrough) {
    // Cells large enough for a slot to hold more than an adapter's buffer.
    StartDispatch({3840, 1080, 2, 1});
    ASSERT_GT(layout_.stride, drv::kMaxPacketSize + drv::kSlotHeaderSize);
    LinkedAdapter a({{0x01, {0, 0}}, {0x04, {1, 0}}}, 1920, 1080);
    COvwMonitor& m1 = *a.monitors[0];
    COvwMonitor& m4 = *a.monitors[1];
    wall::WallGrid grid(2, 1, 3840, 1080, 1920, 1080);
    Link(grid, {&m1, &m4});
    auto slotHeader = [&](int half, std::uint32_t slot, std::uint32_t used) {
        bytes::PutU32(Half(half), drv::kHalfOffSlots + slot * layout_.stride, used);
    };

    // A packet past the adapter's buffer beside a good slot.
    ASSERT_TRUE(drv::WriteFrameSlot(Half(1), layout_, 1, 1, 0, Packet()));
    slotHeader(1, 0, static_cast<std::uint32_t>(drv::kSlotHeaderSize + drv::kMaxPacketSize + 1));
    ASSERT_TRUE(drv::WriteSlotCount(Half(1), layout_, 2));
    m4.Acknowledge((1u << 8) | 0x04);
    ASSERT_TRUE(Feed(1));
    EXPECT_EQ(StampedIndex(1, 0), 0u);
    EXPECT_EQ(StampedIndex(1, 1), (1u << 8) | 0x04);
    EXPECT_EQ(dispatch_->Stats().badSlots, 1u);

    // The largest count a half can name.
    bytes::PutU16(Half(2), drv::kHalfOffCount, 0xFFFF);
    ASSERT_TRUE(Feed(2));
    // The largest used length, and one too short for a packet header.
    slotHeader(1, 0, 0xFFFFFFFF);
    slotHeader(1, 1, 20);
    ASSERT_TRUE(Feed(1));
    EXPECT_EQ(dispatch_->Stats().badSlots, 4u);

    // Two slots for one place: the second is refused, so the monitor gets
    // one packet and the frame needs one acknowledgement.
    ASSERT_TRUE(drv::WriteFrameSlot(Half(2), layout_, 0, 0, 0, Packet(200)));
    ASSERT_TRUE(drv::WriteFrameSlot(Half(2), layout_, 1, 0, 0, Packet(200)));
    ASSERT_TRUE(drv::WriteSlotCount(Half(2), layout_, 2));
    m1.Acknowledge((2u << 8) | 0x01);
    ASSERT_TRUE(Feed(2));
    EXPECT_EQ(StampedIndex(2, 1), 0u);
    EXPECT_EQ(dispatch_->Stats().badSlots, 5u);

    // A good half after all that.
    ASSERT_TRUE(drv::WriteFrameSlot(Half(1), layout_, 0, 0, 0, Packet(1 << 20)));
    ASSERT_TRUE(drv::WriteFrameSlot(Half(1), layout_, 1, 1, 0, Packet(1 << 20)));
    m1.Acknowledge((3u << 8) | 0x01);
    m4.Acknowledge((3u << 8) | 0x04);
    ASSERT_TRUE(Feed(1));
    ASSERT_TRUE(WaitFor([&] { return dispatch_->Stats().shownFrames == 3; }));
    const FrameStats s = dispatch_->Stats();
    EXPECT_EQ(s.frames, 3u);
    EXPECT_EQ(s.ackTimeouts, 0u);
    EXPECT_EQ(a.link->lastShown, 3u);
    EXPECT_EQ(a.adapter.SkippedPackets(), 0u);
    dispatch_.reset();
}

TEST(MonitorAcknowledgements, StaleOnesAreTrimmedAndTheListIsBounded) {
    test::TempDir dir;
    setenv("ORV_ROOT", dir.Path().c_str(), 1);
    COvwAdapter adapter{{}};
    COvwMonitor m(adapter, 0x01);
    for (std::uint32_t n = 1; n <= 100; ++n) m.Acknowledge((n << 8) | 0x01);
    EXPECT_EQ(m.TakeAcknowledged().size(), COvwMonitor::kMaxAcknowledged);

    for (std::uint32_t n : {3u, 4u, 7u, 9u}) m.Acknowledge((n << 8) | 0x01);
    EXPECT_FALSE(m.TakeAcknowledgedFrame(5));  // 3 and 4 are stale now
    EXPECT_TRUE(m.TakeAcknowledgedFrame(7));
    EXPECT_EQ(m.TakeAcknowledged(), (std::vector<std::uint32_t>{(9u << 8) | 0x01}));
    // Only the low 24 bits of a frame number count.
    m.Acknowledge((2u << 8) | 0x01);
    EXPECT_TRUE(m.TakeAcknowledgedFrame((1u << 24) | 2u));
}

}  // namespace
}  // namespace orv::frame
