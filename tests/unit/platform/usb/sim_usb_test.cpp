#include "platform/usb/sim_usb.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/test_device.h"

using namespace orv;
using namespace std::chrono_literals;
using usb::SimUsb;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A host end initialised against `device`, with every pipe's time-out set.
// With the 100 us unit, a 3000 ms pipe time-out lasts 0.3 s; reads that
// expect data get a generous 5 s.
constexpr std::uint32_t kGenerous = 50000;
constexpr std::uint32_t kShort = 3000;

class SimUsbTest : public ::testing::Test {
protected:
    void Connect(std::uint32_t timeoutMs = kGenerous) {
        ASSERT_TRUE(host_.Open(device_.path()));
        device_.Accept();
        ASSERT_TRUE(host_.Initialize());
        for (std::uint8_t pipe : {0x01, 0x02, 0x81, 0x82})
            ASSERT_TRUE(
                host_.SetPipePolicy(pipe, usb::PipePolicy::kPipeTransferTimeout, timeoutMs));
    }
    // Reads `pipe` into a buffer of `size` bytes; the data, or nothing with
    // the last error in `error`.
    std::optional<Bytes> Read(std::uint8_t pipe, std::uint32_t size = 1024) {
        Bytes buffer(size);
        std::uint32_t got = 0;
        if (!host_.ReadPipe(pipe, buffer.data(), size, got)) {
            error_ = usb::LastError();
            EXPECT_EQ(got, 0u);
            return std::nullopt;
        }
        buffer.resize(got);
        return buffer;
    }
    bool Write(std::uint8_t pipe, const Bytes& data) {
        std::uint32_t sent = 0;
        const bool ok =
            host_.WritePipe(pipe, data.data(), static_cast<std::uint32_t>(data.size()), sent);
        error_ = ok ? 0 : usb::LastError();
        return ok;
    }

    test::TestDevice device_;
    SimUsb host_{100us};
    usb::ErrorCode error_ = 0;
};

}  // namespace

TEST_F(SimUsbTest, SettingsComeFromTheDescriptorAndHostOperationsBecomeFrames) {
    ASSERT_TRUE(host_.Open(device_.path()));
    device_.Accept({{0, {{0x01, 2, 512}, {0x81, 2, 512}}},
                    {3, {{0x02, 2, 512}, {0x82, 2, 512}, {0x83, 2, 64}}}});
    ASSERT_TRUE(host_.Initialize());

    usb::InterfaceDescriptor d;
    ASSERT_TRUE(host_.QueryInterfaceSettings(1, d));
    EXPECT_EQ(d.bAlternateSetting, 3);
    EXPECT_EQ(d.bNumEndpoints, 3);
    EXPECT_FALSE(host_.QueryInterfaceSettings(2, d));
    usb::PipeInformation pipe;
    ASSERT_TRUE(host_.QueryPipe(3, 2, pipe));
    EXPECT_EQ(pipe.pipeId, 0x83);
    EXPECT_EQ(pipe.maximumPacketSize, 64);
    EXPECT_EQ(pipe.pipeType, usb::PipeType::kBulk);

    // 0x02 is not in setting 0, the current one until the host selects.
    EXPECT_FALSE(Write(0x02, {1}));
    EXPECT_EQ(error_, platform::kErrorInvalidParameter);
    ASSERT_TRUE(host_.SetCurrentAlternateSetting(3));
    ASSERT_TRUE(host_.ResetPipe(0x82));
    ASSERT_TRUE(Write(0x02, {1, 2, 3}));
    ASSERT_TRUE(host_.AbortPipe(0x82));
    ASSERT_TRUE(host_.FlushPipe(0x02));
    EXPECT_FALSE(Write(0x82, {1}));  // an IN pipe
    EXPECT_EQ(error_, platform::kErrorInvalidParameter);

    const test::HostFrame setAlt = device_.Next();
    EXPECT_EQ(setAlt.kind, bus::FrameKind::kSetAlt);
    EXPECT_EQ(setAlt.payload, Bytes{3});
    const test::HostFrame reset = device_.Next();
    EXPECT_EQ(reset.kind, bus::FrameKind::kReset);
    EXPECT_EQ(reset.endpoint, 0x82);
    const test::HostFrame out = device_.Next();
    EXPECT_EQ(out.kind, bus::FrameKind::kOut);
    EXPECT_EQ(out.endpoint, 0x02);
    EXPECT_EQ(out.payload, (Bytes{1, 2, 3}));
    EXPECT_EQ(device_.Next().kind, bus::FrameKind::kAbort);
    EXPECT_EQ(device_.Next().kind, bus::FrameKind::kFlush);
}

TEST_F(SimUsbTest, ReadsTakeTheOldestTransferOfTheirOwnEndpoint) {
    Connect();
    device_.SendIn(0x82, {1});
    device_.SendIn(0x81, {2});
    device_.SendIn(0x82, {3});
    device_.SendIn(0x82, {});
    EXPECT_EQ(Read(0x82), Bytes{1});
    EXPECT_EQ(Read(0x82), Bytes{3});
    EXPECT_EQ(Read(0x81), Bytes{2});
    EXPECT_EQ(Read(0x82), Bytes{});  // a zero-length transfer is one too
}

TEST_F(SimUsbTest, ShortBufferGetsTheHeadAndTheRestStaysQueued) {
    Connect();
    device_.SendIn(0x81, {1, 2, 3, 4, 5, 6});
    device_.SendIn(0x81, {7});
    EXPECT_EQ(Read(0x81, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(Read(0x81, 100), (Bytes{5, 6}));
    EXPECT_EQ(Read(0x81, 100), Bytes{7});
}

TEST_F(SimUsbTest, QuietPipeFailsWith121AfterItsTimeOut) {
    Connect(kShort);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Read(0x82));
    // The time-out really elapses: 3000 units of 100 us. Only the lower
    // bound is checked; a loaded machine may take longer.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(error_, platform::kErrorSemTimeout);
    // A transfer that comes later is still delivered.
    ASSERT_TRUE(host_.SetPipePolicy(0x82, usb::PipePolicy::kPipeTransferTimeout, kGenerous));
    device_.SendIn(0x82, {9});
    EXPECT_EQ(Read(0x82), Bytes{9});
}

TEST_F(SimUsbTest, FlushDropsQueuedInData) {
    Connect();
    device_.SendIn(0x81, {1});
    device_.SendIn(0x82, {2});
    // The stream is ordered: once 0x82's transfer is read, 0x81's is queued.
    EXPECT_EQ(Read(0x82), Bytes{2});
    ASSERT_TRUE(host_.FlushPipe(0x81));
    ASSERT_TRUE(host_.SetPipePolicy(0x81, usb::PipePolicy::kPipeTransferTimeout, kShort));
    EXPECT_FALSE(Read(0x81));
    EXPECT_EQ(error_, platform::kErrorSemTimeout);
}

TEST_F(SimUsbTest, AbortEndsAWaitingRead) {
    Connect(0);  // no time-out: the read would wait for ever
    std::atomic<bool> done{false};
    std::thread reader([&] {
        EXPECT_FALSE(Read(0x81));
        EXPECT_EQ(error_, platform::kErrorOperationAborted);
        done = true;
    });
    // The abort must land while the read waits; repeat until it has.
    while (!done) {
        ASSERT_TRUE(host_.AbortPipe(0x81));
        std::this_thread::sleep_for(5ms);
    }
    reader.join();
}

TEST_F(SimUsbTest, ClosedConnectionFailsEveryLaterTransferWith1167) {
    Connect();
    device_.Close();
    EXPECT_FALSE(Read(0x81));  // waits until the host end sees the close
    EXPECT_EQ(error_, platform::kErrorDeviceNotConnected);
    EXPECT_FALSE(Write(0x02, {1}));
    EXPECT_EQ(error_, platform::kErrorDeviceNotConnected);
    EXPECT_FALSE(Read(0x82));
    EXPECT_EQ(error_, platform::kErrorDeviceNotConnected);
    EXPECT_FALSE(host_.ResetPipe(0x02));
    EXPECT_EQ(usb::LastError(), platform::kErrorDeviceNotConnected);
}

TEST_F(SimUsbTest, MalformedStreamFromTheDeviceCountsAsDeviceGone) {
    Connect();
    device_.Send(bus::FrameKind::kOut, 0x02, {1});  // a host-to-device kind
    EXPECT_FALSE(Read(0x81));
    EXPECT_EQ(error_, platform::kErrorDeviceNotConnected);
}

TEST_F(SimUsbTest, FreedInterfaceRefusesEverything) {
    Connect();
    host_.Free();
    host_.Free();
    EXPECT_FALSE(Read(0x81));
    EXPECT_EQ(error_, platform::kErrorInvalidHandle);
    EXPECT_FALSE(host_.Open(device_.path()));
}

TEST(SimUsb, InitializeRefusesADeviceThatDoesNotDescribeItself) {
    {
        test::TestDevice device;
        SimUsb host;
        ASSERT_TRUE(host.Open(device.path()));
        device.Accept({});
        device.SendIn(0x81, {1});
        EXPECT_FALSE(host.Initialize());
        EXPECT_EQ(usb::LastError(), platform::kErrorGenFailure);
    }
    {
        test::TestDevice device;
        SimUsb host;
        ASSERT_TRUE(host.Open(device.path()));
        device.Accept({});
        device.Close();
        EXPECT_FALSE(host.Initialize());
        EXPECT_EQ(usb::LastError(), platform::kErrorDeviceNotConnected);
    }
}

TEST(SimUsb, OpenFailsForAPathWithoutDevice) {
    test::TempDir dir;
    SimUsb host;
    EXPECT_FALSE(host.Open(dir.Path() + "/missing.sock"));
    EXPECT_EQ(usb::LastError(), platform::kErrorFileNotFound);
    EXPECT_FALSE(host.Initialize());
    EXPECT_EQ(usb::LastError(), platform::kErrorInvalidHandle);
}

TEST(UsbInterface, BackendFollowsTheDevicePath) {
    EXPECT_NE(dynamic_cast<SimUsb*>(usb::CreateInterfaceFor("/run/orv/usb/a.sock").get()), nullptr);
    auto hardware = usb::CreateInterfaceFor("libusb:1-4.2");
    EXPECT_EQ(dynamic_cast<SimUsb*>(hardware.get()), nullptr);
    EXPECT_FALSE(hardware->Initialize());  // not opened
    EXPECT_EQ(usb::LastError(), platform::kErrorInvalidHandle);
}

TEST(InPipes, FullEndpointHoldsItsProducerUntilReadOrClosed) {
    usb::InPipes pipes(8);
    ASSERT_TRUE(pipes.Push(0x81, Bytes(8, 1)));
    ASSERT_TRUE(pipes.Push(0x82, Bytes(4, 2)));  // endpoints fill separately
    std::thread producer([&] { EXPECT_TRUE(pipes.Push(0x81, Bytes(3, 3))); });
    Bytes buffer(16);
    std::uint32_t got = 0;
    EXPECT_EQ(pipes.Pop(0x81, buffer.data(), 16, got, std::nullopt), 0u);
    EXPECT_EQ(got, 8u);
    producer.join();  // room was made
    EXPECT_EQ(pipes.Pop(0x81, buffer.data(), 16, got, std::nullopt), 0u);
    EXPECT_EQ(got, 3u);

    ASSERT_TRUE(pipes.Push(0x81, Bytes(8, 1)));
    std::thread blocked([&] { EXPECT_FALSE(pipes.Push(0x81, Bytes(1, 1))); });
    pipes.Close(platform::kErrorDeviceNotConnected);
    blocked.join();
    EXPECT_EQ(pipes.Pop(0x82, buffer.data(), 16, got, std::nullopt),
              platform::kErrorDeviceNotConnected);
}
