#include "platform/usb/adapter_match.h"

#include <gtest/gtest.h>

using namespace orv;
using usb::EndpointDescriptor;
using usb::PipeType;
using usb::SettingDescriptor;
using usb::UsbId;
using usb::UsbInterfaceDescriptors;

namespace {

SettingDescriptor Setting(std::uint8_t alternate, std::vector<std::uint8_t> addresses,
                          PipeType type = PipeType::kBulk) {
    SettingDescriptor s{alternate, {}};
    for (std::uint8_t a : addresses) s.endpoints.push_back(EndpointDescriptor{a, type, 512});
    return s;
}

}  // namespace

TEST(AdapterMatch, ParsesPairsWithAnySeparatorAndReportsTheRest) {
    std::vector<std::string> problems;
    const auto ids =
        usb::ParseUsbIds(" 1d6b:0104,0BDA:8153;;1d6b:0104\t12:3 3f7a 12345:1 zz:01 1:", &problems);
    EXPECT_EQ(ids, (std::vector<UsbId>{{0x1D6B, 0x0104}, {0x0BDA, 0x8153}, {0x0012, 0x0003}}));
    ASSERT_EQ(problems.size(), 4u);
    EXPECT_NE(problems[0].find("\"3f7a\""), std::string::npos);
    EXPECT_NE(problems[1].find("\"12345:1\""), std::string::npos);
    EXPECT_TRUE(usb::ParseUsbIds("").empty());
}

TEST(AdapterMatch, RegistryPairsComeAfterTheDefault) {
    EXPECT_EQ(usb::AdapterUsbIds(platform::Registry::Parse("")),
              std::vector<UsbId>{usb::kDefaultAdapterId});
    // The 32-bit view is the fallback key, as for the other control-set values;
    // the default listed again is not doubled.
    const auto registry = platform::Registry::Parse(
        "[Software\\Wow6432Node\\ORVVideoWallControlSet]\n"
        "AdapterUsbIds=REG_SZ:3f7a:5e21 abcd:0001 bad\n");
    EXPECT_EQ(usb::AdapterUsbIds(registry),
              (std::vector<UsbId>{usb::kDefaultAdapterId, {0xABCD, 0x0001}}));
    EXPECT_TRUE(usb::IsListed(usb::AdapterUsbIds(registry), {0xABCD, 0x0001}));
    EXPECT_FALSE(usb::IsListed(usb::AdapterUsbIds(registry), {0x0001, 0xABCD}));
}

TEST(AdapterMatch, TheAdapterInterfaceHasTheFourBulkPipesInSomeSetting) {
    const UsbInterfaceDescriptors hid{0, {Setting(0, {0x83})}};
    // Setting 0 has too few pipes; setting 1 has the four among others.
    const UsbInterfaceDescriptors adapter{
        2, {Setting(0, {0x01, 0x81}), Setting(1, {0x83, 0x02, 0x81, 0x01, 0x82})}};
    EXPECT_EQ(usb::FindAdapterInterface({hid, adapter}), std::optional<std::uint8_t>(2));

    // Pipes spread over two settings, or of the wrong type, do not count.
    const UsbInterfaceDescriptors spread{1, {Setting(0, {0x01, 0x02}), Setting(1, {0x81, 0x82})}};
    const UsbInterfaceDescriptors interrupt{
        3, {Setting(0, {0x01, 0x02, 0x81, 0x82}, PipeType::kInterrupt)}};
    const UsbInterfaceDescriptors threePipes{4, {Setting(0, {0x01, 0x02, 0x81})}};
    EXPECT_EQ(usb::FindAdapterInterface({hid, spread, interrupt, threePipes}), std::nullopt);
    EXPECT_EQ(usb::FindAdapterInterface({}), std::nullopt);
}
