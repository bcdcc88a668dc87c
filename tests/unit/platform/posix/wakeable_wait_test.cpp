#include "platform/posix/wakeable_wait.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace orv::posix {
namespace {

using Kind = WakeableWait::WakeKind;

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe() {
        close(fds[0]);
        close(fds[1]);
    }
    void Put() { ASSERT_EQ(write(fds[1], "x", 1), 1); }
};

TEST(WakeableWait, AStopStaysAndANudgeIsTakenByTheWaitThatSeesIt) {
    WakeableWait stop(Kind::kStays);
    ASSERT_TRUE(stop.Ok());
    stop.Wake();
    EXPECT_TRUE(stop.Wait({}, 0).woken);
    EXPECT_TRUE(stop.Wait({}, 0).woken);

    WakeableWait nudge(Kind::kConsumed);
    nudge.Wake();
    nudge.Wake();
    EXPECT_TRUE(nudge.Wait({}, 0).woken);
    EXPECT_TRUE(nudge.Wait({}, 0).TimedOut());
}

TEST(WakeableWait, ReportsWhichDescriptorsAreReadyBesideTheWake) {
    WakeableWait wait(Kind::kConsumed);
    Pipe a, b;
    EXPECT_TRUE(wait.Wait({a.fds[0], b.fds[0]}, 0).TimedOut());
    b.Put();
    WakeableWait::Readiness r = wait.Wait({a.fds[0], b.fds[0]}, 0);
    EXPECT_FALSE(r.ready[0]);
    EXPECT_TRUE(r.ready[1]);
    EXPECT_FALSE(r.woken);
    wait.Wake();
    r = wait.Wait({a.fds[0], b.fds[0]}, 0);
    EXPECT_TRUE(r.ready[1]);
    EXPECT_TRUE(r.woken);
    // A closed writer end counts as ready: the read that follows sees the end.
    close(a.fds[1]);
    a.fds[1] = -1;
    EXPECT_TRUE(wait.Wait({a.fds[0]}, 0).ready[0]);
}

TEST(WakeableWait, AWakeFromAnotherThreadEndsABlockedWait) {
    WakeableWait wait(Kind::kStays);
    Pipe idle;
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        wait.Wake();
    });
    const WakeableWait::Readiness r = wait.Wait({idle.fds[0]});
    waker.join();
    EXPECT_TRUE(r.woken);
    EXPECT_FALSE(r.ready[0]);
}

TEST(WakeableWait, MoreDescriptorsThanItHoldsFailWithoutWaiting) {
    WakeableWait wait(Kind::kStays);
    EXPECT_TRUE(wait.Wait({0, 0, 0, 0, 0}).failed);
}

}  // namespace
}  // namespace orv::posix
