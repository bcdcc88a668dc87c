// The descriptors of one interface, its current alternate setting and the
// transfer time-outs of its pipes: the part of usb::Interface that the SimUsb
// and FakeUsb backends share.
//
// Assign runs once, in Initialize, before any other call; after that the
// descriptors never change and every member may be called from any thread
// (the current setting and the time-outs are atomics). Failures set the
// thread's last error to 87 (ERROR_INVALID_PARAMETER).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/usb/usb_interface.h"

namespace orv::usb {

class SettingTable {
public:
    void Assign(std::vector<SettingDescriptor> settings);

    bool QueryInterfaceSettings(std::uint8_t alternateIndex, InterfaceDescriptor& descriptor) const;
    bool Select(std::uint8_t alternateSetting);
    std::uint8_t Current() const;
    bool QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                   PipeInformation& pipe) const;
    // True when `pipeId` is an endpoint of the current setting.
    bool CheckPipe(std::uint8_t pipeId) const;
    bool SetPolicy(std::uint8_t pipeId, PipePolicy policy, std::uint32_t value);
    // The pipe's transfer time-out in milliseconds; 0 means no limit.
    std::uint32_t TimeoutMs(std::uint8_t pipeId) const { return timeouts_[pipeId].load(); }

private:
    const SettingDescriptor* Find(std::uint8_t alternateSetting) const;

    std::vector<SettingDescriptor> settings_;
    std::atomic<std::size_t> current_{0};  // index into settings_
    std::array<std::atomic<std::uint32_t>, 256> timeouts_{};
};

// A time-out of `ms` milliseconds in units of `unit` (a backend's scale, so
// that tests can shrink time-outs); nothing for 0, which means no limit.
std::optional<std::chrono::microseconds> ScaledTimeout(std::uint32_t ms,
                                                       std::chrono::microseconds unit);

}  // namespace orv::usb
