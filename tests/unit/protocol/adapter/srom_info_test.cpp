#include "protocol/adapter/srom_info.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using namespace orv::adapter;

TEST(SromInfoLayout, FieldsSitAtTheirOffsetsAndUnknownBytesSurvive) {
    std::vector<std::uint8_t> raw(228);
    std::iota(raw.begin(), raw.end(), std::uint8_t{0});
    auto info = SromInfo::Parse(raw);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->ActiveSlot(), 3);
    EXPECT_EQ(info->IdentityBytes()[0], 5);
    // Region 3 starts at 120: address bytes 120..123.
    EXPECT_EQ(info->Region(3).address, 0x7B7A7978u);
    EXPECT_EQ(info->Region(3).checksum, 120 + 22);

    info->SetActiveSlot(2);
    info->SetRegion(4, {0x90000, 0x70000, 1234, 0x5A});
    info->SetIdentity("ADAPTER-1");
    const auto out = info->Build();
    std::uint8_t sum = 0;
    for (std::uint8_t b : out) sum = static_cast<std::uint8_t>(sum + b);
    EXPECT_EQ(sum, 0);  // byte 0 makes all 228 bytes sum to 0
    EXPECT_EQ(out[3], 2);
    EXPECT_EQ(out[148], 0x00);
    EXPECT_EQ(out[150], 0x09);
    EXPECT_EQ(out[148 + 8], 1234 & 0xFF);
    EXPECT_EQ(out[148 + 22], 0x5A);
    // Uninterpreted bytes are kept: 1..2, 4, 29..35, 176..227, and the
    // region bytes 12..21 and 23..27.
    for (std::size_t i : {1u, 2u, 4u, 29u, 35u, 176u, 227u, 148u + 12u, 148u + 27u})
        EXPECT_EQ(out[i], raw[i]) << i;
    EXPECT_EQ(SromInfo::Parse(out)->Identity(), "ADAPTER-1");
    EXPECT_TRUE(SromInfo::Parse(out)->ChecksumValid());
    EXPECT_FALSE(SromInfo::Parse(std::vector<std::uint8_t>(227)));
}

TEST(SromInfoLayout, ImageChecksumIsTwosComplementOfTheSum) {
    const std::vector<std::uint8_t> image{1, 2, 3, 250};
    EXPECT_EQ(ImageChecksum(image), static_cast<std::uint8_t>(0x100 - 0x00));  // sum 256 -> 0
    const std::vector<std::uint8_t> other{0x10};
    EXPECT_EQ(ImageChecksum(other), 0xF0);
    EXPECT_EQ(SromInfo().Region(7), SromRegion{});
}
