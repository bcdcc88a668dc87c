#include "platform/usb/device_watchers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>

#include "protocol/bus/bus_frame.h"
#include "tests/support/test_device.h"

using namespace orv;
using platform::DeviceBroadcast;

namespace {

// Collects the watcher's broadcasts for the test thread.
class Events {
public:
    void Push(const DeviceBroadcast& b) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(b);
        }
        cv_.notify_all();
    }
    // The next broadcast; a generous bound keeps a lost event from hanging
    // the test (inotify delivers within milliseconds).
    std::optional<DeviceBroadcast> Next() {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::seconds(10), [&] { return !events_.empty(); }))
            return std::nullopt;
        DeviceBroadcast b = events_.front();
        events_.pop_front();
        return b;
    }
    bool Empty() {
        std::lock_guard lock(mutex_);
        return events_.empty();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<DeviceBroadcast> events_;
};

void ExpectEvent(Events& events, std::uint32_t type, const std::string& path) {
    const auto b = events.Next();
    ASSERT_TRUE(b) << "no event for " << path;
    EXPECT_EQ(b->eventType, type);
    EXPECT_EQ(b->name, path);
    EXPECT_EQ(b->deviceType, platform::kDbtDevtypDeviceInterface);
    EXPECT_EQ(b->classGuid, platform::kAdapterInterfaceClass);
}

}  // namespace

TEST(DeviceWatcher, EnumerationListsTheBusSocketsOnly) {
    test::TempDir dir;
    const int a = bus::ListenAt(dir.Path() + "/b.sock");
    const int b = bus::ListenAt(dir.Path() + "/a.sock");
    const int other = bus::ListenAt(dir.Path() + "/c.socket");
    std::ofstream(dir.Path() + "/d.sock") << "a file, not a socket";
    auto watcher = platform::CreateBusDeviceWatcher(dir.Path());
    EXPECT_EQ(watcher->Enumerate(),
              (std::vector<std::string>{dir.Path() + "/a.sock", dir.Path() + "/b.sock"}));
    for (int fd : {a, b, other}) close(fd);
}

TEST(DeviceWatcher, ReportsArrivalRemovalAndReplacementWithTheFullPath) {
    test::TempDir dir;
    const std::string busDir = dir.Path() + "/usb";  // created by Start
    auto watcher = platform::CreateBusDeviceWatcher(busDir);
    Events events;
    ASSERT_TRUE(watcher->Start([&](const DeviceBroadcast& b) { events.Push(b); }));
    EXPECT_FALSE(watcher->Start([](const DeviceBroadcast&) {}));

    const std::string path = busDir + "/adapter1.sock";
    int device = bus::ListenAt(path);
    ASSERT_GE(device, 0);
    ExpectEvent(events, platform::kDbtDeviceArrival, path);
    // An arrival can be connected at once: the socket already listens.
    const int host = bus::ConnectTo(path);
    EXPECT_GE(host, 0);
    close(host);

    // A new device in place of the old one is a removal and an arrival.
    const int replacement = bus::ListenAt(path);
    ExpectEvent(events, platform::kDbtDeviceRemoveComplete, path);
    ExpectEvent(events, platform::kDbtDeviceArrival, path);
    close(device);
    device = replacement;

    std::ofstream(busDir + "/notes.sock") << "not a socket";
    unlink(path.c_str());
    ExpectEvent(events, platform::kDbtDeviceRemoveComplete, path);
    close(device);

    watcher->Stop();
    EXPECT_TRUE(events.Empty());
}

TEST(DeviceWatcher, AdaptersPresentAtStartAreNotReportedAgain) {
    test::TempDir dir;
    const int present = bus::ListenAt(dir.Path() + "/old.sock");
    auto watcher = platform::CreateBusDeviceWatcher(dir.Path());
    Events events;
    ASSERT_TRUE(watcher->Start([&](const DeviceBroadcast& b) { events.Push(b); }));
    const int arriving = bus::ListenAt(dir.Path() + "/new.sock");
    ExpectEvent(events, platform::kDbtDeviceArrival, dir.Path() + "/new.sock");
    unlink((dir.Path() + "/old.sock").c_str());
    ExpectEvent(events, platform::kDbtDeviceRemoveComplete, dir.Path() + "/old.sock");
    watcher.reset();  // the destructor stops and joins
    close(present);
    close(arriving);
}

TEST(DeviceWatcher, CombinedWatcherMergesItsMembersAndToleratesOneThatCannotStart) {
    test::TempDir one;
    test::TempDir two;
    const int a = bus::ListenAt(two.Path() + "/a.sock");
    const int b = bus::ListenAt(one.Path() + "/b.sock");
    // A bus folder below a regular file cannot be created or watched.
    std::ofstream(one.Path() + "/file") << "x";
    std::vector<platform::NamedDeviceWatcher> members;
    members.push_back({"one", platform::CreateBusDeviceWatcher(one.Path())});
    members.push_back({"broken", platform::CreateBusDeviceWatcher(one.Path() + "/file/usb")});
    members.push_back({"two", platform::CreateBusDeviceWatcher(two.Path())});
    auto watcher = platform::CreateCombinedDeviceWatcher(std::move(members));
    std::vector<std::string> expected{one.Path() + "/b.sock", two.Path() + "/a.sock"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(watcher->Enumerate(), expected);

    Events events;
    ASSERT_TRUE(watcher->Start([&](const DeviceBroadcast& e) { events.Push(e); }));
    EXPECT_FALSE(watcher->Start([](const DeviceBroadcast&) {}));
    const int c = bus::ListenAt(two.Path() + "/c.sock");
    ExpectEvent(events, platform::kDbtDeviceArrival, two.Path() + "/c.sock");
    unlink((one.Path() + "/b.sock").c_str());
    ExpectEvent(events, platform::kDbtDeviceRemoveComplete, one.Path() + "/b.sock");
    watcher->Stop();
    EXPECT_TRUE(events.Empty());
    for (int fd : {a, b, c}) close(fd);
}

TEST(DeviceWatcher, CombinedWatcherFailsWhenNoMemberStarts) {
    test::TempDir dir;
    std::ofstream(dir.Path() + "/file") << "x";
    std::vector<platform::NamedDeviceWatcher> members;
    members.push_back({"broken", platform::CreateBusDeviceWatcher(dir.Path() + "/file/usb")});
    auto watcher = platform::CreateCombinedDeviceWatcher(std::move(members));
    EXPECT_FALSE(watcher->Start([](const DeviceBroadcast&) {}));
}
