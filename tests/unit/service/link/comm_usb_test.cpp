#include "service/link/comm_usb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/usb/fake_usb.h"
#include "platform/usb/sim_usb.h"
#include "service/log/logger.h"
#include "tests/support/test_device.h"

using namespace orv;
using link::COvwCommUSB;
using usb::FakeUsb;
using Bytes = std::vector<std::uint8_t>;
using Op = FakeUsb::Op;

namespace {

usb::SettingDescriptor Setting(std::uint8_t alternate, std::size_t endpoints) {
    usb::SettingDescriptor s{alternate, {}};
    const std::uint8_t addresses[] = {0x01, 0x02, 0x81, 0x82};
    for (std::size_t i = 0; i < endpoints; ++i)
        s.endpoints.push_back({i < 4 ? addresses[i] : static_cast<std::uint8_t>(0x80 | (i - 1)),
                               usb::PipeType::kBulk, 512});
    return s;
}

// Each test logs into its own ORV_ROOT and reads back the service log.
class CommUsbTest : public ::testing::Test {
protected:
    void SetUp() override {
        log::Logger::Instance().Flush();  // lines of earlier tests go to their own root
        setenv("ORV_ROOT", root_.Path().c_str(), 1);
    }
    void TearDown() override { log::Logger::Instance().Flush(); }

    // The texts logged so far, as given to the logger: each record of the
    // service log without its time stamp and the CR LF the logger adds.
    std::vector<std::string> LogLines() {
        log::Logger::Instance().Flush();
        std::ifstream in(root_.Path() + "/var/log/orv-videowall/ServiceManager.log.txt");
        const std::string all{std::istreambuf_iterator<char>(in), {}};
        std::vector<std::string> texts;
        for (std::size_t at = 0, end; (end = all.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            const std::size_t body = all.find(": ", at) + 2;
            texts.push_back(all.substr(body, end - body));
        }
        return texts;
    }

    // A link over a fake device; the link owns it, the test keeps a view.
    FakeUsb& Fake(std::vector<usb::SettingDescriptor> settings =
                      usb::SettingsFromBus(bus::StandardAdapterDescriptor())) {
        auto fake = std::make_unique<FakeUsb>(std::move(settings));
        fake_ = fake.get();
        link_ = std::make_unique<COvwCommUSB>(std::move(fake));
        return *fake_;
    }
    int Connect() { return link_->Connect("/dev/adapter"); }
    long Count(const std::string& call) {
        const auto calls = fake_->Calls();
        return std::count(calls.begin(), calls.end(), call);
    }

    test::TempDir root_;
    FakeUsb* fake_ = nullptr;
    std::unique_ptr<COvwCommUSB> link_;
    Bytes buffer_ = Bytes(64);
};

}  // namespace

TEST_F(CommUsbTest, EveryTransferBeforeConnectReturns3) {
    Fake();
    std::uint32_t a = 4, b = 4;
    EXPECT_EQ(link_->Read(0x81, buffer_.data(), a), 3);
    EXPECT_EQ(link_->Write(0x02, buffer_.data(), a), 3);
    EXPECT_EQ(link_->Transact(0x02, buffer_.data(), a, 0x82, buffer_.data(), b), 3);
    EXPECT_TRUE(fake_->Calls().empty());
}

TEST_F(CommUsbTest, ConnectResetsEveryPipeAndGivesIt3000Ms) {
    FakeUsb& fake = Fake();
    ASSERT_EQ(Connect(), 0);
    EXPECT_TRUE(link_->Connected());
    ASSERT_EQ(link_->PipeCount(), 4);
    const std::uint8_t expected[] = {0x01, 0x02, 0x81, 0x82};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(link_->PipeAt(i), expected[i]);
        EXPECT_EQ(fake.PipeTimeoutMs(expected[i]), 3000u);
    }
    const auto calls = fake.Calls();
    const std::vector<std::string> head(calls.begin(), calls.begin() + 6);
    EXPECT_EQ(head, (std::vector<std::string>{
                        "Open /dev/adapter", "Initialize", "QueryInterfaceSettings 0",
                        "SetCurrentAlternateSetting 0", "QueryPipe 0 0", "ResetPipe 0x01"}));
    EXPECT_EQ(Count("SetPipePolicy 0x82 3000"), 1);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(CommUsbTest, UnsuitableSettingZeroGivesWayToSettingOne) {
    // Too few endpoints in setting 0.
    Fake({Setting(0, 2), Setting(1, 4)});
    ASSERT_EQ(Connect(), 0);
    EXPECT_EQ(fake_->CurrentSetting(), 1);
    EXPECT_EQ(link_->PipeCount(), 4);
    // Setting 0 cannot be selected.
    Fake({Setting(0, 4), Setting(1, 4)}).FailNext(Op::kSetCurrentAlternateSetting, 31, 0);
    ASSERT_EQ(Connect(), 0);
    EXPECT_EQ(fake_->CurrentSetting(), 1);
    EXPECT_EQ(Count("QueryPipe 1 3"), 1);
}

TEST_F(CommUsbTest, TwoEndpointInterfaceFailsConnectWith2) {
    Fake({Setting(0, 2)});
    EXPECT_EQ(Connect(), 2);
    EXPECT_EQ(Count("QueryInterfaceSettings 15"), 1);  // all 16 indices tried
    EXPECT_EQ(fake_->Calls().back(), "Free");
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"COvwCommUSB::QueryUSBInterface() error1\n",
                                        "COvwCommUSB::Connect():QueryUSBInterface error.\n"}));
    std::uint32_t length = 4;
    EXPECT_EQ(link_->Write(0x02, buffer_.data(), length), 3);
}

TEST_F(CommUsbTest, SettingWithMoreEndpointsThanThePipeTableIsPassedOver) {
    Fake({Setting(0, 20), Setting(1, 4)});
    ASSERT_EQ(Connect(), 0);
    EXPECT_EQ(fake_->CurrentSetting(), 1);
    EXPECT_EQ(link_->PipeCount(), 4);
    EXPECT_EQ(LogLines(), std::vector<std::string>{
                              "COvwCommUSB::QueryUSBInterface() setting 0 has 20 endpoints, "
                              "more than 16\n"});
    Fake({Setting(0, 17)});
    EXPECT_EQ(Connect(), 2);
}

TEST_F(CommUsbTest, OpenInitializeAndPipeFailuresAreReported) {
    Fake().FailNext(Op::kOpen, platform::kErrorFileNotFound);
    EXPECT_EQ(Connect(), 1);
    EXPECT_EQ(Count("Free"), 0);  // nothing was opened
    Fake().FailNext(Op::kInitialize, platform::kErrorGenFailure);
    EXPECT_EQ(Connect(), 1);
    EXPECT_EQ(Count("Free"), 1);
    Fake().FailNext(Op::kQueryPipe, platform::kErrorGenFailure);
    EXPECT_EQ(Connect(), 2);
    EXPECT_FALSE(link_->Connected());
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"COvwCommUSB::Connect():CreateFile error.\n",
                                        "COvwCommUSB::Connect():WinUsb_Initialize error.\n",
                                        "COvwCommUSB::QueryUSBInterface() error2\n",
                                        "COvwCommUSB::Connect():QueryUSBInterface error.\n"}));
}

TEST_F(CommUsbTest, EnumeratedInterfaceIsTakenOverAsItIs) {
    auto fake = std::make_unique<FakeUsb>();
    ASSERT_TRUE(fake->Open("/dev/adapter") && fake->Initialize());
    FakeUsb& view = *fake;
    COvwCommUSB link;
    ASSERT_EQ(link.QueryUSBInterface(std::move(fake)), 0);
    EXPECT_EQ(link.PipeCount(), 4);
    view.QueueIn(0x81, {5});
    std::uint32_t length = 8;
    EXPECT_EQ(link.Read(0x81, buffer_.data(), length), 0);
    EXPECT_EQ(length, 1u);
}

TEST_F(CommUsbTest, QuietInPipeBreaksTheLinkAfterThreeTimeOuts) {
    Fake();
    ASSERT_EQ(Connect(), 0);
    std::uint32_t length = 64;
    EXPECT_EQ(link_->Read(0x81, buffer_.data(), length), -1);
    EXPECT_EQ(Count("ReadPipe 0x81"), 3);
    EXPECT_TRUE(link_->LinkBroken());
    EXPECT_EQ(LogLines(), std::vector<std::string>{"WinUsb_ReadPipe error!\n"});

    // From now on nothing reaches the device but Disconnect.
    const std::size_t calls = fake_->Calls().size();
    std::uint32_t reply = 64;
    length = 4;
    EXPECT_EQ(link_->Write(0x02, buffer_.data(), length), -1);
    EXPECT_EQ(link_->Read(0x82, buffer_.data(), length), -1);
    EXPECT_EQ(link_->Transact(0x02, buffer_.data(), length, 0x82, buffer_.data(), reply), -1);
    EXPECT_EQ(fake_->Calls().size(), calls);
    EXPECT_EQ(link_->Disconnect(), 0);
    EXPECT_TRUE(link_->LinkBroken());
}

TEST_F(CommUsbTest, ReadRetriesTimeOutsWithTheWholeBuffer) {
    Fake();
    ASSERT_EQ(Connect(), 0);
    fake_->FailNext(Op::kReadPipe, platform::kErrorSemTimeout, 0x81);
    fake_->FailNext(Op::kReadPipe, platform::kErrorSemTimeout, 0x81);
    fake_->QueueIn(0x81, Bytes(40, 7));
    std::uint32_t length = 64;
    EXPECT_EQ(link_->Read(0x81, buffer_.data(), length), 0);
    EXPECT_EQ(length, 40u);
    EXPECT_FALSE(link_->LinkBroken());
}

TEST_F(CommUsbTest, ReadFailingOtherThanByTimeOutBreaksTheLinkAtOnce) {
    Fake();
    ASSERT_EQ(Connect(), 0);
    fake_->QueueIn(0x81, Bytes(40, 7));
    fake_->FailNext(Op::kReadPipe, platform::kErrorGenFailure, 0x81);
    std::uint32_t length = 64;
    EXPECT_EQ(link_->Read(0x81, buffer_.data(), length), -1);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(Count("ReadPipe 0x81"), 1);
    EXPECT_TRUE(link_->LinkBroken());
    EXPECT_EQ(LogLines(), std::vector<std::string>{"WinUsb_ReadPipe error!\n"});
}

TEST_F(CommUsbTest, FailedWriteBreaksTheLink) {
    Fake();
    ASSERT_EQ(Connect(), 0);
    std::uint32_t length = 8;
    EXPECT_EQ(link_->Write(0x01, buffer_.data(), length), 0);
    EXPECT_EQ(length, 8u);
    fake_->FailNext(Op::kWritePipe, platform::kErrorDeviceNotConnected, 0x02);
    EXPECT_EQ(link_->Write(0x02, buffer_.data(), length), -1);
    EXPECT_TRUE(link_->LinkBroken());
    EXPECT_EQ(LogLines(), std::vector<std::string>{"WinUsb_WritePipe error!\n"});
    EXPECT_EQ(fake_->Writes().size(), 1u);
}

TEST_F(CommUsbTest, TransactWritesThenReadsTheReplyIntoTheSameBuffer) {
    Fake();
    ASSERT_EQ(Connect(), 0);
    fake_->QueueIn(0x82, {9, 8, 7});
    buffer_[0] = 0x42;
    std::uint32_t request = 48, reply = 64;
    EXPECT_EQ(link_->Transact(0x02, buffer_.data(), request, 0x82, buffer_.data(), reply), 0);
    EXPECT_EQ(request, 48u);
    EXPECT_EQ(reply, 3u);
    EXPECT_EQ(buffer_[0], 9);
    ASSERT_EQ(fake_->Writes().size(), 1u);
    EXPECT_EQ(fake_->Writes()[0].pipeId, 0x02);
    EXPECT_EQ(fake_->Writes()[0].data.size(), 48u);
    EXPECT_EQ(fake_->Writes()[0].data[0], 0x42);
}

TEST_F(CommUsbTest, FailedTransactReturnsTheSystemErrorAndBreaksTheLink) {
    Fake();
    ASSERT_EQ(Connect(), 0);
    fake_->FailNext(Op::kWritePipe, platform::kErrorGenFailure, 0x02);
    std::uint32_t request = 48, reply = 64;
    EXPECT_EQ(link_->Transact(0x02, buffer_.data(), request, 0x82, buffer_.data(), reply), 31);
    EXPECT_TRUE(link_->LinkBroken());
    EXPECT_EQ(Count("ReadPipe 0x82"), 0);

    // A reply that never comes: one attempt, then the time-out's number.
    Fake();
    ASSERT_EQ(Connect(), 0);
    EXPECT_EQ(link_->Transact(0x02, buffer_.data(), request, 0x82, buffer_.data(), reply), 121);
    EXPECT_EQ(Count("ReadPipe 0x82"), 1);
    EXPECT_TRUE(link_->LinkBroken());
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"WinUsb_WritePipe error!\n", "WinUsb_ReadPipe error!\n"}));
}

TEST_F(CommUsbTest, DisconnectAbortsAndFlushesEveryPipeThenFrees) {
    Fake();
    ASSERT_EQ(Connect(), 0);
    EXPECT_EQ(link_->Disconnect(), 0);
    EXPECT_FALSE(link_->Connected());
    const auto calls = fake_->Calls();
    const std::vector<std::string> tail(calls.end() - 9, calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"AbortPipe 0x01", "FlushPipe 0x01", "AbortPipe 0x02",
                                              "FlushPipe 0x02", "AbortPipe 0x81", "FlushPipe 0x81",
                                              "AbortPipe 0x82", "FlushPipe 0x82", "Free"}));
    std::uint32_t length = 4;
    EXPECT_EQ(link_->Read(0x81, buffer_.data(), length), 3);
}

// Through the simulated bus with a 10 us time-out unit: the link's 3000 ms
// pipe time-out lasts 30 ms, so three attempts end well within a second.
TEST_F(CommUsbTest, QuietSimulatedPipeBreaksTheLink) {
    test::TestDevice device;
    COvwCommUSB link(std::make_unique<usb::SimUsb>(std::chrono::microseconds(10)));
    // Connect blocks until the device has described itself: accept first.
    std::thread accept([&] { device.Accept(); });
    ASSERT_EQ(link.Connect(device.path()), 0);
    accept.join();
    EXPECT_EQ(device.Next().kind, bus::FrameKind::kSetAlt);
    std::uint32_t length = 64;
    EXPECT_EQ(link.Read(0x81, buffer_.data(), length), -1);
    EXPECT_TRUE(link.LinkBroken());
    link.Disconnect();
}

// A whole exchange over the simulated bus: the device answers each request
// on 0x02 with its bytes reversed on 0x82 and a notification on 0x81.
TEST_F(CommUsbTest, TransactOverTheSimulatedBus) {
    test::TestDevice device;
    std::thread deviceThread([&] {
        device.Accept();
        bus::FrameHeader header;
        Bytes payload;
        while (bus::RecvFrame(device.connection(), header, payload, nullptr) ==
               bus::IoResult::kOk) {
            if (header.kind != bus::FrameKind::kOut || header.endpoint != 0x02) continue;
            device.SendIn(0x81, {0xE9});
            device.SendIn(0x82, Bytes(payload.rbegin(), payload.rend()));
        }
    });
    COvwCommUSB link;  // the backend chosen for a bus socket path
    ASSERT_EQ(link.Connect(device.path()), 0);
    for (std::uint8_t round = 1; round <= 3; ++round) {
        Bytes request(100, round);
        request[0] = 0;
        std::uint32_t requestLength = 100, replyLength = 100;
        ASSERT_EQ(
            link.Transact(0x02, request.data(), requestLength, 0x82, request.data(), replyLength),
            0);
        EXPECT_EQ(replyLength, 100u);
        EXPECT_EQ(request[0], round);
        EXPECT_EQ(request[99], 0);
    }
    Bytes notification(16);
    std::uint32_t length = 16;
    ASSERT_EQ(link.Read(0x81, notification.data(), length), 0);
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(notification[0], 0xE9);
    link.Disconnect();
    deviceThread.join();
}
