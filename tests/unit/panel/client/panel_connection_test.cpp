#include "panel/client/panel_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "common/thread_annotations.h"
#include "panel/model/panel_log.h"
#include "tests/support/eventually.h"
#include "tests/support/fake_control_service.h"

namespace orv::panel {
namespace {

using std::chrono::steady_clock;

// What the receive thread handed over.
class Received {
public:
    PanelConnection::Sink Sink() {
        return {[this](control::ServiceMessage m) {
                    MutexLock lock(mutex_);
                    messages_.push_back(std::move(m));
                },
                [this] {
                    MutexLock lock(mutex_);
                    ++lost_;
                }};
    }
    std::vector<control::ServiceMessage> Messages() {
        MutexLock lock(mutex_);
        return messages_;
    }
    int Lost() {
        MutexLock lock(mutex_);
        return lost_;
    }

private:
    Mutex mutex_;
    std::vector<control::ServiceMessage> messages_ GUARDED_BY(mutex_);
    int lost_ GUARDED_BY(mutex_) = 0;
};

class Connection : public ::testing::Test {
protected:
    void SetUp() override { SetPanelLogQuiet(true); }
    void TearDown() override { SetPanelLogQuiet(false); }
    test::FakeControlService service_;
    // Before the connection, so it outlives the receive thread the
    // connection's destructor joins.
    Received received_;
    PanelConnection panel_;
};

TEST_F(Connection, GreetsQueriesAndReceivesEveryNoticeEvenWhenMerged) {
    control::WallList walls;
    walls.selection = 1;
    walls.walls.push_back(control::PanelWallRecord(1, 1, 2, 2, 0, {}));
    service_.SetWalls(walls);
    service_.SetMonitors({{{-1, -1, -1, 4}}});
    service_.SetEncodeMode(control::kEncodeGpu);

    ASSERT_TRUE(panel_.HelloExchange("127.0.0.1", service_.Port()));
    EXPECT_EQ(panel_.QueryEncodeMode(), (control::EncodeModeReply{control::kEncodeGpu}));
    EXPECT_EQ(panel_.QueryWalls(), walls);
    EXPECT_EQ(panel_.QueryMonitors(), (control::MonitorList{{{-1, -1, -1, 4}}}));

    panel_.Start(received_.Sink());
    // Two notices in one send, then one split over two sends.
    auto both = control::EncodeServiceMessage(control::MonitorChange{0, 9});
    const auto second = control::EncodeServiceMessage(control::CreateResult{1});
    both.insert(both.end(), second.begin(), second.end());
    ASSERT_TRUE(service_.SendBytes(both));
    const auto split = control::EncodeServiceMessage(control::AdapterRemoved{{4, 9}});
    ASSERT_TRUE(service_.SendBytes({split.begin(), split.begin() + 3}));
    ASSERT_TRUE(service_.SendBytes({split.begin() + 3, split.end()}));
    ASSERT_TRUE(test::Eventually([&] { return received_.Messages().size() == 3; }));
    const auto m = received_.Messages();
    EXPECT_EQ(m[0], control::ServiceMessage(control::MonitorChange{0, 9}));
    EXPECT_EQ(m[1], control::ServiceMessage(control::CreateResult{1}));
    EXPECT_EQ(m[2], control::ServiceMessage(control::AdapterRemoved{{4, 9}}));

    // A type without a layout drops what is buffered with it (a message sent
    // right after it may share its receive) and the loop goes on.
    ASSERT_TRUE(service_.SendBytes({0x77}));
    EXPECT_TRUE(test::Eventually([&] {
        (void)service_.Send(control::WallDestroyed{});
        return received_.Messages().size() > 3;
    }));
    EXPECT_EQ(received_.Messages()[3], control::ServiceMessage(control::WallDestroyed{}));

    ASSERT_TRUE(panel_.Send(control::SaveConfiguration{}));
    ASSERT_TRUE(service_.WaitForRequests(5));
    EXPECT_EQ(service_.Requests()[4], control::Request(control::SaveConfiguration{}));
}

TEST_F(Connection, ShutdownSendsLeavingAndReturnsAtOnceFromABlockedReceive) {
    ASSERT_TRUE(panel_.HelloExchange("127.0.0.1", service_.Port()));
    panel_.Start(received_.Sink());
    const auto start = steady_clock::now();
    panel_.Shutdown();
    // Generous for a loaded machine; a receive that were not woken would
    // block here until the test's time-out.
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(1));
    ASSERT_TRUE(service_.WaitForRequests(2));
    EXPECT_EQ(service_.Requests()[1], control::Request(control::PanelLeaving{}));
    EXPECT_TRUE(test::Eventually([&] { return service_.PeerClosed(); }));
    EXPECT_EQ(received_.Lost(), 0);
    EXPECT_FALSE(panel_.Send(control::SaveConfiguration{}));
}

TEST_F(Connection, AServiceThatGoesAwayIsALostConnection) {
    ASSERT_TRUE(panel_.HelloExchange("127.0.0.1", service_.Port()));
    panel_.Start(received_.Sink());
    service_.CloseConnection();
    ASSERT_TRUE(test::Eventually([&] { return received_.Lost() == 1; }));
    EXPECT_FALSE(panel_.Connected());
    panel_.Shutdown();  // no 0x5C on a lost connection
    EXPECT_EQ(service_.Requests().size(), 1u);
}

TEST_F(Connection, AWrongGreetingOrAnswerFails) {
    service_.SetGreeting({0x02, 0, 0, 1});  // 0x01000002, not 2
    EXPECT_FALSE(panel_.HelloExchange("127.0.0.1", service_.Port()));
    EXPECT_FALSE(panel_.Connected());

    test::FakeControlService other;
    PanelConnection second;
    ASSERT_TRUE(second.HelloExchange("127.0.0.1", other.Port()));
    other.SetWallAnswerBytes(control::EncodeServiceMessage(control::EncodeModeReply{1}));
    EXPECT_FALSE(second.QueryWalls());  // the answer's type is 0x42

    EXPECT_FALSE(PanelConnection().HelloExchange("127.0.0.1", 1));  // nothing listens
}

}  // namespace
}  // namespace orv::panel
