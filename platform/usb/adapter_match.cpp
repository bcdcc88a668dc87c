#include "platform/usb/adapter_match.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "platform/diag.h"

namespace orv::usb {
namespace {

bool IsSeparator(char c) {
    return c == ',' || c == ';' || c == ' ' || c == '\t';
}

std::optional<std::uint16_t> ParseHex16(std::string_view text) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    std::uint16_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<UsbId> ParseUsbId(std::string_view entry) {
    const std::size_t colon = entry.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto vendor = ParseHex16(entry.substr(0, colon));
    const auto product = ParseHex16(entry.substr(colon + 1));
    if (!vendor || !product) return std::nullopt;
    return UsbId{*vendor, *product};
}

bool HasAdapterPipes(const SettingDescriptor& setting) {
    constexpr std::array<std::uint8_t, 4> kPipes{0x01, 0x02, 0x81, 0x82};
    return std::all_of(kPipes.begin(), kPipes.end(), [&](std::uint8_t address) {
        return std::any_of(setting.endpoints.begin(), setting.endpoints.end(),
                           [&](const EndpointDescriptor& e) {
                               return e.address == address && e.type == PipeType::kBulk;
                           });
    });
}

}  // namespace

std::vector<UsbId> ParseUsbIds(std::string_view text, std::vector<std::string>* problems) {
    std::vector<UsbId> ids;
    std::size_t at = 0;
    while (at < text.size()) {
        if (IsSeparator(text[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && !IsSeparator(text[end])) ++end;
        const std::string_view entry = text.substr(at, end - at);
        at = end;
        const std::optional<UsbId> id = ParseUsbId(entry);
        if (!id) {
            if (problems != nullptr)
                problems->push_back("\"" + std::string(entry) +
                                    "\" is not a vendor:product pair in hexadecimal");
            continue;
        }
        if (!IsListed(ids, *id)) ids.push_back(*id);
    }
    return ids;
}

std::vector<UsbId> AdapterUsbIds(const platform::Registry& registry) {
    std::vector<UsbId> ids{kDefaultAdapterId};
    std::string text;
    if (registry.ReadString({platform::kControlSetKey, platform::kControlSetKeyWow},
                            kAdapterUsbIdsValue, text) != platform::kErrorSuccess)
        return ids;
    std::vector<std::string> problems;
    for (const UsbId& id : ParseUsbIds(text, &problems))
        if (!IsListed(ids, id)) ids.push_back(id);
    for (const std::string& problem : problems)
        platform::Diagnostic("AdapterUsbIds: %s; entry skipped\n", problem.c_str());
    return ids;
}

bool IsListed(const std::vector<UsbId>& ids, UsbId id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::optional<std::uint8_t> FindAdapterInterface(
    const std::vector<UsbInterfaceDescriptors>& interfaces) {
    for (const UsbInterfaceDescriptors& iface : interfaces)
        if (std::any_of(iface.settings.begin(), iface.settings.end(), HasAdapterPipes))
            return iface.interfaceNumber;
    return std::nullopt;
}

}  // namespace orv::usb
