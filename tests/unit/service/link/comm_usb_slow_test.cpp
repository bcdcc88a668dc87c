// The link's real time-outs over the simulated bus: a quiet IN pipe breaks the
// link only after three full 3000 ms attempts. Takes about 9 s, hence its
// own executable with the integration label.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "service/link/comm_usb.h"
#include "tests/support/test_device.h"

using namespace orv;

TEST(CommUsbSlow, QuietPipeBreaksTheLinkAfterAboutNineSeconds) {
    test::TestDevice device;
    link::COvwCommUSB link;
    std::thread accept([&] { device.Accept(); });
    ASSERT_EQ(link.Connect(device.path()), 0);
    accept.join();
    std::uint8_t buffer[64];
    std::uint32_t length = sizeof buffer;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.Read(0x81, buffer, length), -1);
    // Three attempts of 3000 ms and two pauses of 50 ms; only the lower bound
    // is checked, a loaded machine may take longer.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9100));
    EXPECT_TRUE(link.LinkBroken());
    link.Disconnect();
}
