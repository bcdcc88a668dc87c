#include "protocol/bus/bus_frame.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace orv::bus;

TEST(BusFrame, HeaderCarriesLengthOfWhatFollows) {
    std::uint8_t h[kFrameHeaderSize];
    EncodeHeader(h, FrameKind::kOut, 0x02, 43);
    const std::uint8_t expected[] = {47, 0, 0, 0, 0x10, 0x02, 0, 0};
    EXPECT_EQ(0, std::memcmp(h, expected, sizeof h));
    auto decoded = DecodeHeader(h, nullptr);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->payloadLength, 43u);
}

TEST(BusFrame, MalformedHeadersAreRefused) {
    std::string why;
    const std::uint8_t shortLen[] = {3, 0, 0, 0, 0x10, 2, 0, 0};
    EXPECT_FALSE(DecodeHeader(shortLen, &why));
    const std::uint8_t unknownKind[] = {4, 0, 0, 0, 0x7F, 2, 0, 0};
    EXPECT_FALSE(DecodeHeader(unknownKind, &why));
    const std::uint8_t reserved[] = {4, 0, 0, 0, 0x10, 2, 1, 0};
    EXPECT_FALSE(DecodeHeader(reserved, &why));
    const std::uint8_t huge[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x10, 2, 0, 0};
    EXPECT_FALSE(DecodeHeader(huge, &why));
    EXPECT_FALSE(why.empty());
}

TEST(BusFrame, DescriptorRoundTripsAndRejectsTruncation) {
    std::vector<SettingDescriptor> settings = StandardAdapterDescriptor();
    settings.push_back({1, {{0x03, kEndpointTypeBulk, 64}}});
    const auto bytes = EncodeDescriptor(settings);
    auto back = DecodeDescriptor(bytes, nullptr);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 2u);
    EXPECT_EQ((*back)[0].endpoints.size(), 4u);
    EXPECT_EQ((*back)[1].endpoints[0].maxPacketSize, 64);
    std::string why;
    EXPECT_FALSE(DecodeDescriptor(std::span(bytes).first(bytes.size() - 1), &why));
    auto extra = bytes;
    extra.push_back(0);
    EXPECT_FALSE(DecodeDescriptor(extra, &why));
}

TEST(BusFrame, LargeFramesCrossASocketIntact) {
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
    std::vector<std::uint8_t> big(3 * 1024 * 1024 + 17);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    std::thread sender([&] { EXPECT_TRUE(SendFrame(sv[0], FrameKind::kOut, 0x01, big)); });
    FrameHeader h;
    std::vector<std::uint8_t> payload;
    EXPECT_EQ(RecvFrame(sv[1], h, payload, nullptr), IoResult::kOk);
    sender.join();
    EXPECT_EQ(h.kind, FrameKind::kOut);
    EXPECT_EQ(h.endpoint, 0x01);
    EXPECT_EQ(payload, big);
    close(sv[0]);
    EXPECT_EQ(RecvFrame(sv[1], h, payload, nullptr), IoResult::kClosed);
    close(sv[1]);
}
