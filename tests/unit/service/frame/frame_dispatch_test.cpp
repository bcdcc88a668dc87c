// The frame dispatch of one view, fed by the test through a block in memory
// and the four named events. The monitors' adapter has no link: packets it
// accepts are dropped and never acknowledged.
#include "service/frame/frame_dispatch.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <thread>

#include "protocol/adapter/frame_packet.h"
#include "service/adapter/adapter.h"
#include "tests/support/temp_dir.h"

namespace orv::frame {
namespace {

using adapter::COvwAdapter;
using adapter::COvwMonitor;
namespace drv = orv::driver;

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
        dispatch_ = std::make_unique<CFrameDispatch>(block_, layout_, raw_);
        dispatch_->Start();
    }
    void TearDown() override { dispatch_.reset(); }

    bytes::MutBytes Half(int n) {
        return bytes::MutBytes(block_).subspan(layout_.HalfOffset(n), layout_.half);
    }
    // Signals half `n` ready and waits until the dispatch releases it.
    bool Feed(int n) {
        raw_[n == 1 ? drv::kEventHalf1Ready : drv::kEventHalf2Ready]->Set();
        return raw_[n == 1 ? drv::kEventHalf1Released : drv::kEventHalf2Released]->Wait(5000) ==
               platform::kWaitObject0;
    }
    std::vector<std::uint8_t> Packet() {
        std::vector<std::uint8_t> p(100, 0);
        adapter::WriteFramePacketHeader(p, 100 - 48, 0);
        return p;
    }

    test::TempDir dir_;
    // A 4 x 1 wall of small monitors.
    const drv::ShareLayout layout_ = *drv::LayoutFor({256, 36, 4, 1});
    std::vector<std::uint8_t> block_ = std::vector<std::uint8_t>(layout_.size, 0);
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
