#include "platform/event.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/named_event.h"
#include "platform/paths.h"
#include "tests/support/eventually.h"
#include "tests/support/test_util.h"

namespace orv::platform {
namespace {

using namespace std::chrono_literals;
using test::ForkChild;
using test::WaitChild;

using ::orv::test::Eventually;

// True once the task (thread or process) at /proc/<path>/stat is asleep.
bool EventuallyAsleep(const std::string& statPath) {
    return Eventually([&] {
        const std::string stat = test::ReadFile(statPath);
        const auto close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'S';
    });
}

struct Handle {
    std::function<void()> set;
    std::function<bool(std::uint32_t)> wait;  // true when signalled
};

Handle Of(Event& e) {
    return {[&e] { e.Set(); }, [&e](std::uint32_t ms) { return e.Wait(ms); }};
}
Handle Of(NamedEvent& e) {
    return {[&e] { e.Set(); }, [&e](std::uint32_t ms) { return e.Wait(ms) == kWaitObject0; }};
}

constexpr int kWaiters = 3;

// Each Set of an auto-reset event releases one waiter and is consumed by it.
void ExpectOneWaiterPerSet(const Handle& event) {
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&] {
            if (event.wait(kInfinite)) ++released;
        });
    for (int n = 1; n <= kWaiters; ++n) {
        event.set();
        ASSERT_TRUE(Eventually([&] { return released.load() >= n; }));
        EXPECT_FALSE(event.wait(0)) << "the signal was not consumed by its waiter";
        EXPECT_EQ(released.load(), n);
    }
    for (auto& t : waiters) t.join();
}

// One Set of a manual-reset event releases every waiter and stays set.
void ExpectAllWaitersReleased(const Handle& event, const std::function<void()>& reset) {
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&] {
            if (event.wait(kInfinite)) ++released;
        });
    event.set();
    EXPECT_TRUE(Eventually([&] { return released.load() == kWaiters; }));
    for (auto& t : waiters) t.join();
    EXPECT_TRUE(event.wait(0));
    EXPECT_TRUE(event.wait(0));
    reset();
    EXPECT_FALSE(event.wait(0));
}

class NamedEventTest : public ::testing::Test {
protected:
    void SetUp() override { test::UsePrivateIpcNamespace(); }
};

TEST(Event, AutoResetReleasesOneWaiterPerSet) {
    Event event(Event::ResetMode::kAuto);
    ExpectOneWaiterPerSet(Of(event));
}

TEST(Event, ManualResetReleasesAllWaiters) {
    Event event(Event::ResetMode::kManual);
    ExpectAllWaitersReleased(Of(event), [&] { event.Reset(); });
}

TEST_F(NamedEventTest, AutoResetReleasesOneWaiterPerSet) {
    auto event = NamedEvent::Create("Global\\AutoEvent", false, false);
    ASSERT_TRUE(event);
    EXPECT_FALSE(event->ManualReset());
    ExpectOneWaiterPerSet(Of(*event));
}

TEST_F(NamedEventTest, ManualResetReleasesAllWaiters) {
    auto event = NamedEvent::Create("Global\\ManualEvent", true, false);
    ASSERT_TRUE(event);
    EXPECT_TRUE(event->ManualReset());
    ExpectAllWaitersReleased(Of(*event), [&] { event->Reset(); });
}

TEST_F(NamedEventTest, SetInOneProcessWakesWaiterInAnother) {
    auto event = NamedEvent::Create("Global\\SyncWaitDriverEvent1", false, false);
    auto ready = NamedEvent::Create("Global\\ChildReady", false, false);
    ASSERT_TRUE(event && ready);
    const pid_t child = ForkChild([] {
        auto mine = NamedEvent::Open("Global\\SyncWaitDriverEvent1");
        auto childReady = NamedEvent::Open("Global\\ChildReady");
        if (!mine || !childReady) return 2;
        childReady->Set();
        return mine->Wait(30000) == kWaitObject0 ? 0 : 1;
    });
    ASSERT_EQ(ready->Wait(10000), kWaitObject0);
    // Set only once the child sleeps in its wait, so the wake-up itself is
    // what is tested.
    ASSERT_TRUE(EventuallyAsleep("/proc/" + std::to_string(child) + "/stat"));
    EXPECT_TRUE(event->Set());
    EXPECT_EQ(WaitChild(child), 0);
    EXPECT_EQ(event->Wait(0), kWaitTimeout) << "the child took the signal";
}

TEST_F(NamedEventTest, WaitTimesOutAfterItsTimeout) {
    auto event = NamedEvent::Create("Global\\Quiet", false, false);
    ASSERT_TRUE(event);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(event->Wait(100), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_EQ(event->Wait(0), kWaitTimeout);
}

TEST_F(NamedEventTest, TimedWaitIsWokenBySet) {
    auto event = NamedEvent::Create("Global\\Timed", false, false);
    ASSERT_TRUE(event);
    std::uint32_t result = kWaitFailed;
    std::atomic<pid_t> tid{0};
    std::thread waiter([&] {
        tid = static_cast<pid_t>(syscall(SYS_gettid));
        result = event->Wait(60000);
    });
    ASSERT_TRUE(Eventually([&] { return tid.load() != 0; }));
    ASSERT_TRUE(EventuallyAsleep("/proc/self/task/" + std::to_string(tid.load()) + "/stat"));
    event->Set();
    waiter.join();
    EXPECT_EQ(result, kWaitObject0);
}

TEST_F(NamedEventTest, OpenOfMissingEventFails) {
    ErrorCode error = kErrorSuccess;
    EXPECT_FALSE(NamedEvent::Open("Global\\NoSuchEvent", &error));
    EXPECT_EQ(error, kErrorFileNotFound);
}

TEST_F(NamedEventTest, CreateOfExistingEventOpensItWithItsModeAndState) {
    auto first = NamedEvent::Create("Global\\Shared", true, true);
    ASSERT_TRUE(first);
    ErrorCode error = kErrorSuccess;
    auto second = NamedEvent::Create("Global\\Shared", false, false, &error);
    ASSERT_TRUE(second);
    EXPECT_EQ(error, kErrorAlreadyExists);
    EXPECT_TRUE(second->ManualReset());
    EXPECT_EQ(second->Wait(0), kWaitObject0);
    EXPECT_EQ(second->ObjectName(), IpcPrefix() + "Global.Shared");
}

TEST_F(NamedEventTest, CreatorRemovesTheNameUnlessAskedToKeepIt) {
    NamedEvent::Create("Global\\Gone", false, false);
    EXPECT_FALSE(NamedEvent::Open("Global\\Gone"));

    NamedEvent::Create("Global\\Kept", false, true, nullptr, NamedEvent::Lifetime::kKeep);
    auto kept = NamedEvent::Open("Global\\Kept");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->Wait(0), kWaitObject0);
    EXPECT_TRUE(kept->Unlink());
    EXPECT_FALSE(NamedEvent::Open("Global\\Kept"));
}

TEST_F(NamedEventTest, PeerKilledWhileWaitingLeavesTheEventUsable) {
    auto event = NamedEvent::Create("Global\\Crash", false, false);
    ASSERT_TRUE(event);
    const pid_t child = ForkChild([] {
        auto mine = NamedEvent::Open("Global\\Crash");
        return mine ? static_cast<int>(mine->Wait(kInfinite)) : 2;
    });
    ASSERT_TRUE(EventuallyAsleep("/proc/" + std::to_string(child) + "/stat"));
    kill(child, SIGKILL);
    EXPECT_EQ(WaitChild(child), -1);
    event->Set();
    EXPECT_EQ(event->Wait(1000), kWaitObject0);
}

}  // namespace
}  // namespace orv::platform
