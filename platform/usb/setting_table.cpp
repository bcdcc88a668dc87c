#include "platform/usb/setting_table.h"

namespace orv::usb {

void SettingTable::Assign(std::vector<SettingDescriptor> settings) {
    settings_ = std::move(settings);
    current_ = 0;
}

bool SettingTable::QueryInterfaceSettings(std::uint8_t alternateIndex,
                                          InterfaceDescriptor& descriptor) const {
    if (alternateIndex >= settings_.size()) {
        SetLastError(platform::kErrorNoMoreItems);
        return false;
    }
    const SettingDescriptor& s = settings_[alternateIndex];
    descriptor.bInterfaceNumber = 0;
    descriptor.bAlternateSetting = s.alternateSetting;
    descriptor.bNumEndpoints = static_cast<std::uint8_t>(s.endpoints.size());
    return true;
}

const SettingDescriptor* SettingTable::Find(std::uint8_t alternateSetting) const {
    for (const auto& s : settings_)
        if (s.alternateSetting == alternateSetting) return &s;
    return nullptr;
}

bool SettingTable::Select(std::uint8_t alternateSetting) {
    const SettingDescriptor* s = Find(alternateSetting);
    if (!s) {
        SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    current_ = static_cast<std::size_t>(s - settings_.data());
    return true;
}

std::uint8_t SettingTable::Current() const {
    return settings_.empty() ? 0 : settings_[current_].alternateSetting;
}

bool SettingTable::QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                             PipeInformation& pipe) const {
    const SettingDescriptor* s = Find(alternateSetting);
    if (!s || pipeIndex >= s->endpoints.size()) {
        SetLastError(s ? platform::kErrorNoMoreItems : platform::kErrorInvalidParameter);
        return false;
    }
    const EndpointDescriptor& e = s->endpoints[pipeIndex];
    pipe.pipeType = e.type;
    pipe.pipeId = e.address;
    pipe.maximumPacketSize = e.maxPacketSize;
    return true;
}

bool SettingTable::CheckPipe(std::uint8_t pipeId) const {
    if (!settings_.empty())
        for (const auto& e : settings_[current_].endpoints)
            if (e.address == pipeId) return true;
    SetLastError(platform::kErrorInvalidParameter);
    return false;
}

bool SettingTable::SetPolicy(std::uint8_t pipeId, PipePolicy policy, std::uint32_t value) {
    if (policy != PipePolicy::kPipeTransferTimeout) {
        SetLastError(platform::kErrorNotSupported);
        return false;
    }
    if (!CheckPipe(pipeId)) return false;
    timeouts_[pipeId] = value;
    return true;
}

std::optional<std::chrono::microseconds> ScaledTimeout(std::uint32_t ms,
                                                       std::chrono::microseconds unit) {
    if (ms == 0) return std::nullopt;
    return unit * ms;
}

}  // namespace orv::usb
