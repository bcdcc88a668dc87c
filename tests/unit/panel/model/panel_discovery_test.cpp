#include "panel/model/panel_discovery.h"

#include <gtest/gtest.h>

namespace orv::panel {
namespace {

TEST(Announcement, ParsesOnlyAnXDatagramWhoseLengthMatches) {
    const Announcement a{1030, "192.168.1.20"};
    const auto bytes = EncodeAnnouncement(a);
    ASSERT_EQ(bytes.size(), 7u + 12u);
    EXPECT_EQ(bytes[1], 0x06);  // 1030, little-endian
    EXPECT_EQ(bytes[2], 0x04);
    EXPECT_EQ(ParseAnnouncement(bytes), a);

    auto other = bytes;
    other[0] = 'Y';
    EXPECT_EQ(ParseAnnouncement(other), std::nullopt);
    auto cut = bytes;
    cut.pop_back();
    EXPECT_EQ(ParseAnnouncement(cut), std::nullopt);
    auto longer = bytes;
    longer.push_back('0');
    EXPECT_EQ(ParseAnnouncement(longer), std::nullopt);
    auto huge = bytes;
    huge[6] = 0x80;  // a length of 2 GiB in a small datagram
    EXPECT_EQ(ParseAnnouncement(huge), std::nullopt);
    EXPECT_EQ(ParseAnnouncement(std::vector<std::uint8_t>{'X', 1, 2}), std::nullopt);
}

TEST(ServerList, KeepsEachAddressOnceUntilCleared) {
    ServerList list;
    EXPECT_TRUE(list.Add({1030, "10.0.0.1"}));
    EXPECT_FALSE(list.Add({1031, "10.0.0.1"}));
    EXPECT_TRUE(list.Add({1030, "10.0.0.2"}));
    EXPECT_EQ(list.Rows().size(), 2u);
    list.Clear();
    EXPECT_TRUE(list.Add({1030, "10.0.0.1"}));
}

TEST(ServerList, LoginResultText) {
    EXPECT_EQ(LoginResultText("10.0.0.1", "1030", true, Language::kEnglish),
              "VWServerName:ORVVW---IP Address:10.0.0.1---PORT:1030\nLogin successful!");
    EXPECT_EQ(LoginResultText("10.0.0.1", "1030", false, Language::kChinese),
              "VWServerName:ORVVW---IP Address:10.0.0.1---PORT:1030\n登录失败！");
}

}  // namespace
}  // namespace orv::panel
