#include "panel/client/server_discovery.h"

#include <Poco/Net/DatagramSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "common/thread_annotations.h"
#include "panel/model/panel_log.h"
#include "tests/support/eventually.h"

namespace orv::panel {
namespace {

using namespace std::chrono_literals;

std::uint16_t FreeUdpPort() {
    Poco::Net::DatagramSocket probe(Poco::Net::SocketAddress("127.0.0.1", 0));
    return probe.address().port();
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override { SetPanelLogQuiet(true); }
    void TearDown() override { SetPanelLogQuiet(false); }

    std::vector<Announcement> Found() {
        MutexLock lock(mutex_);
        return found_;
    }
    ServerDiscovery::Events Events() {
        return {[this](Announcement a) {
                    MutexLock lock(mutex_);
                    found_.push_back(std::move(a));
                },
                [this] { ++ended_; }};
    }
    void Send(std::uint16_t port, const std::vector<std::uint8_t>& bytes) {
        sender_.sendTo(bytes.data(), static_cast<int>(bytes.size()),
                       Poco::Net::SocketAddress("127.0.0.1", port));
    }

    Mutex mutex_;
    std::vector<Announcement> found_ GUARDED_BY(mutex_);
    std::atomic<int> ended_{0};
    Poco::Net::DatagramSocket sender_{Poco::Net::SocketAddress("127.0.0.1", 0)};
};

TEST_F(Discovery, FindsAnnouncementsSkipsOtherDatagramsAndEndsWhenQuiet) {
    const std::uint16_t port = FreeUdpPort();
    // Long enough that a loaded machine does not end the search between the
    // test's sends.
    ServerDiscovery discovery(port, Events(), 2000ms);
    discovery.RequestSearch();
    const Announcement a{1030, "10.1.2.3"};
    // The search binds its socket on its own thread: send until it hears.
    ASSERT_TRUE(test::Eventually([&] {
        Send(port, {'Q', 'x'});
        Send(port, EncodeAnnouncement(a));
        return !Found().empty();
    }));
    EXPECT_EQ(Found().front(), a);
    EXPECT_TRUE(test::Eventually([&] { return ended_ == 1; }));

    // A new search after the end.
    const std::size_t before = Found().size();
    discovery.RequestSearch();
    ASSERT_TRUE(test::Eventually([&] {
        Send(port, EncodeAnnouncement({1031, "10.1.2.4"}));
        return Found().size() > before;
    }));
    EXPECT_EQ(Found().back(), (Announcement{1031, "10.1.2.4"}));
}

TEST_F(Discovery, StopEndsASearchAtOnce) {
    ServerDiscovery discovery(FreeUdpPort(), Events(), 60000ms);
    discovery.RequestSearch();
    const auto start = std::chrono::steady_clock::now();
    discovery.Stop();
    // Generous: the search looks at the stop flag every 100 ms.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(ended_, 0);
}

}  // namespace
}  // namespace orv::panel
