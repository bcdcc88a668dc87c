// Which USB devices are display adapters.
//
// A device is an adapter candidate when its vendor:product pair is in the
// adapter id list: 3f7a:5e21 always, plus the pairs of the registry value
// AdapterUsbIds (REG_SZ under Software\ORVVideoWallControlSet, or its 32-bit
// view), hexadecimal "vvvv:pppp" separated by commas, semicolons or blanks,
// e.g. "AdapterUsbIds=REG_SZ:1d6b:0104, 0bda:8153".
//
// Of a candidate, the adapter is the interface that has a setting with the
// four bulk pipes the link addresses (OUT 0x01 and 0x02, IN 0x81 and 0x82);
// a device with no such interface is not an adapter.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/usb/usb_interface.h"

namespace orv::usb {

struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool operator==(const UsbId&) const = default;
};

inline constexpr UsbId kDefaultAdapterId{0x3F7A, 0x5E21};
inline constexpr std::string_view kAdapterUsbIdsValue = "AdapterUsbIds";

// The pairs of an AdapterUsbIds text, in order, duplicates dropped. Entries
// that are not "vvvv:pppp" (one to four hex digits each) are skipped and
// described in `problems` (when given), one line each.
std::vector<UsbId> ParseUsbIds(std::string_view text, std::vector<std::string>* problems = nullptr);

// kDefaultAdapterId followed by the registry's pairs; malformed entries are
// reported through platform::Diagnostic.
std::vector<UsbId> AdapterUsbIds(const platform::Registry& registry);

bool IsListed(const std::vector<UsbId>& ids, UsbId id);

// One interface of a device's active configuration.
struct UsbInterfaceDescriptors {
    std::uint8_t interfaceNumber = 0;
    std::vector<SettingDescriptor> settings;
};

// The interface number of the adapter interface: the first interface with a
// setting holding bulk endpoints 0x01, 0x02, 0x81 and 0x82 (others may be
// there too). Nothing when no interface qualifies.
std::optional<std::uint8_t> FindAdapterInterface(
    const std::vector<UsbInterfaceDescriptors>& interfaces);

}  // namespace orv::usb
