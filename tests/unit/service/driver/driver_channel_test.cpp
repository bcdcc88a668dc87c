// The driver channel against a driver played by the test over loopback TCP.
#include "service/driver/driver_channel.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "tests/support/temp_dir.h"

namespace orv::driver {
namespace {

using namespace std::chrono_literals;

class DriverChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ORV_ROOT", dir_.Path().c_str(), 1);
        const std::string ns = "drvch" + std::to_string(getpid()) + "-" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        setenv("ORV_IPC_NAMESPACE", ns.c_str(), 1);
        DriverChannelOptions o;
        o.port = 0;
        o.driverLost = [this] { ++lost_; };
        channel_ = std::make_unique<COvwCommDriver>(o);
        ASSERT_TRUE(channel_->Listening());
    }

    std::unique_ptr<net::TcpConnection> Connect() {
        return net::TcpConnection::Connect("127.0.0.1", channel_->Port());
    }
    // The next message to the driver, or nullopt after `timeout`.
    std::optional<Message> Next(net::TcpConnection& c, MessageCutter& cutter,
                                std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        Message m;
        while (cutter.Next(m) != MessageCutter::Step::kMessage) {
            if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
            if (!c.WaitReadable(50)) continue;
            std::array<std::uint8_t, 64> buffer{};
            const long n = c.Receive(buffer);
            if (n <= 0) return std::nullopt;
            cutter.Append(bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(n)));
        }
        return m;
    }
    void CreateEvents() {
        for (std::size_t i = 0; i < 4; ++i)
            events_[i] = platform::NamedEvent::Create(kEventNames[i], false, false);
    }
    bool WaitFor(const std::function<bool()>& f) {
        for (int i = 0; i < 500; ++i) {
            if (f()) return true;
            std::this_thread::sleep_for(10ms);
        }
        return f();
    }
    COvwUSBDongle* Dongle() {
        MutexLock lock(channel_->ListLock());
        return channel_->Dongle();
    }

    test::TempDir dir_;
    std::atomic<int> lost_{0};
    std::unique_ptr<COvwCommDriver> channel_;
    std::array<std::unique_ptr<platform::NamedEvent>, 4> events_;
};

TEST_F(DriverChannelTest, GreetingIsAnsweredWithTheModeValueOfThePanel) {
    auto driver = Connect();
    MessageCutter cutter(Direction::kToDriver);
    // Hello split over two sends: the channel joins it.
    ASSERT_TRUE(driver->Send(EncodeHello().Span().first(2)));
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(driver->Send(EncodeHello().Span().subspan(2)));
    EXPECT_EQ(Next(*driver, cutter)->type, msg::kHelloReply);
    EXPECT_EQ(*Next(*driver, cutter), (Message{msg::kModeValue, {1}}));
    ASSERT_TRUE(WaitFor([&] { return channel_->DriverConnected(); }));
    channel_->SetModeValue(0);
    EXPECT_EQ(*Next(*driver, cutter), (Message{msg::kModeValue, {0}}));

    // The next driver gets no mode value while it is 0, then 5 once set.
    driver.reset();
    ASSERT_TRUE(WaitFor([&] { return lost_ == 1; }));
    auto second = Connect();
    MessageCutter cutter2(Direction::kToDriver);
    ASSERT_TRUE(second->Send(EncodeHello().Span()));
    EXPECT_EQ(Next(*second, cutter2)->type, msg::kHelloReply);
    EXPECT_FALSE(Next(*second, cutter2, 300ms));
    second.reset();
    ASSERT_TRUE(WaitFor([&] { return lost_ == 2; }));
    channel_->SetModeValue(5);
    auto third = Connect();
    MessageCutter cutter3(Direction::kToDriver);
    ASSERT_TRUE(third->Send(EncodeHello().Span()));
    EXPECT_EQ(Next(*third, cutter3)->type, msg::kHelloReply);
    EXPECT_EQ(*Next(*third, cutter3), (Message{msg::kModeValue, {5}}));
}

TEST_F(DriverChannelTest, AFirstMessageOtherThanHelloIsClosedAndASecondDriverWaits) {
    auto wrong = Connect();
    ASSERT_TRUE(wrong->Send(EncodeHelloReply().Span()));
    std::array<std::uint8_t, 16> buffer{};
    EXPECT_EQ(wrong->Receive(buffer), 0);  // closed without a reply
    EXPECT_FALSE(channel_->DriverConnected());

    auto first = Connect();
    MessageCutter c1(Direction::kToDriver);
    ASSERT_TRUE(first->Send(EncodeHello().Span()));
    ASSERT_EQ(Next(*first, c1)->type, msg::kHelloReply);
    auto second = Connect();
    MessageCutter c2(Direction::kToDriver);
    ASSERT_TRUE(second->Send(EncodeHello().Span()));
    EXPECT_FALSE(Next(*second, c2, 300ms));  // waits in the accept queue
    first.reset();
    EXPECT_EQ(Next(*second, c2)->type, msg::kHelloReply);
}

TEST_F(DriverChannelTest, CreateViewMapsTheBlockAndLosingTheDriverDropsIt) {
    CreateEvents();
    auto driver = Connect();
    MessageCutter cutter(Direction::kToDriver);
    ASSERT_TRUE(driver->Send(EncodeHello().Span()));
    ASSERT_EQ(Next(*driver, cutter)->type, msg::kHelloReply);
    ASSERT_TRUE(WaitFor([&] { return Dongle() != nullptr; }));

    std::atomic<int> result{-1};
    std::thread caller([&] {
        MutexLock lock(channel_->ListLock());
        result = channel_->Dongle()->CreateView(1, 3840, 1080, 2, 1);
    });
    std::optional<Message> m = Next(*driver, cutter);
    while (m && m->type == msg::kModeValue) m = Next(*driver, cutter);
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, (Message{msg::kCalgValue, {kCalgUnread}}));  // no CALG value
    EXPECT_EQ(*Next(*driver, cutter), (Message{msg::kCreateView, {1, 3840, 1080, 2, 1}}));
    auto block = platform::SharedMemory::Open(ShareBufferName(1), 0);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->Bytes().size(), 33'177'656u);
    // A notice and the answer merged into one send.
    std::vector<std::uint8_t> both;
    for (const Encoded& e : {EncodeViewNotice(0, 9), EncodeCreateAnswer(1, 1)})
        both.insert(both.end(), e.Span().begin(), e.Span().end());
    ASSERT_TRUE(driver->Send(both));
    caller.join();
    EXPECT_EQ(result, 1);
    {
        MutexLock lock(channel_->ListLock());
        ASSERT_NE(channel_->Dongle()->ViewById(1), nullptr);
    }

    driver.reset();
    ASSERT_TRUE(WaitFor([&] { return lost_ == 1; }));
    EXPECT_EQ(Dongle(), nullptr);
}

TEST_F(DriverChannelTest, AViewWithoutTheDriversEventsIsRefused) {
    auto driver = Connect();
    MessageCutter cutter(Direction::kToDriver);
    ASSERT_TRUE(driver->Send(EncodeHello().Span()));
    ASSERT_EQ(Next(*driver, cutter)->type, msg::kHelloReply);
    ASSERT_TRUE(WaitFor([&] { return Dongle() != nullptr; }));
    std::atomic<int> result{-1};
    std::thread caller([&] {
        MutexLock lock(channel_->ListLock());
        result = channel_->Dongle()->CreateView(2, 1920, 1080, 1, 1);
    });
    std::optional<Message> m;
    do m = Next(*driver, cutter);
    while (m && m->type != msg::kCreateView);
    ASSERT_TRUE(driver->Send(EncodeCreateAnswer(1, 2).Span()));
    caller.join();
    EXPECT_EQ(result, 0);
    // The driver is asked to drop the view it accepted.
    EXPECT_EQ(*Next(*driver, cutter), (Message{msg::kDropView, {2}}));
}

TEST_F(DriverChannelTest, AnAnswerAfterTheTimeOutDoesNotSatisfyTheNextRequest) {
    CreateEvents();
    auto driver = Connect();
    MessageCutter cutter(Direction::kToDriver);
    ASSERT_TRUE(driver->Send(EncodeHello().Span()));
    ASSERT_EQ(Next(*driver, cutter)->type, msg::kHelloReply);
    ASSERT_TRUE(WaitFor([&] { return Dongle() != nullptr; }));
    auto request = [&](int id) {
        MutexLock lock(channel_->ListLock());
        return channel_->Dongle()->CreateView(id, 1920, 1080, 1, 1);
    };
    // No answer within 3 s: refused.
    EXPECT_EQ(request(3), 0);
    // Its answer arrives late, then the next request gets no answer: the
    // late one must not count for it.
    ASSERT_TRUE(driver->Send(EncodeCreateAnswer(1, 3).Span()));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(request(3), 0);
}

}  // namespace
}  // namespace orv::driver
