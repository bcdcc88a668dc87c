// Device arrival and removal of USB display adapters.
//
// A DeviceWatcher enumerates the adapters present and reports arrivals and
// removals as DeviceBroadcast records, shaped like the device-interface
// broadcasts the service's control handler filters (device type 5, the
// adapter interface class). Only the interface and the records are here; the
// backends (the simulated USB bus and libusb hotplug) are in orv_usb.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv::platform {

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
    bool operator==(const Guid&) const = default;
};

// {49FEEBBB-EC85-47D9-A534-6D5185A75DF8}: the adapters' device-interface class.
inline constexpr Guid kAdapterInterfaceClass{
    0x49FEEBBB, 0xEC85, 0x47D9, {0xA5, 0x34, 0x6D, 0x51, 0x85, 0xA7, 0x5D, 0xF8}};

inline constexpr std::uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDbtDeviceRemoveComplete = 0x8004;
inline constexpr std::uint32_t kDbtDevtypDeviceInterface = 5;

struct DeviceBroadcast {
    std::uint32_t eventType = 0;  // kDbtDeviceArrival or kDbtDeviceRemoveComplete
    std::uint32_t deviceType = kDbtDevtypDeviceInterface;
    Guid classGuid = kAdapterInterfaceClass;
    std::string name;  // the device path
};

// Enumerates the adapters present and reports arrivals and removals.
//
// Threads: Enumerate from any thread. Start launches the watcher's own thread
// ("orv-devwatch"), which calls the callback for one event at a time and
// holds no lock while doing so; Stop (and the destructor) wakes and joins it.
// The callback must not call Stop. The backends are in orv_usb
// (platform/usb/device_watchers.h).
class DeviceWatcher {
public:
    using Callback = std::function<void(const DeviceBroadcast&)>;

    virtual ~DeviceWatcher() = default;
    // Device paths of the adapters present now, sorted.
    virtual std::vector<std::string> Enumerate() const = 0;
    // Starts reporting changes after the adapters present now. False when
    // already started or the OS refuses.
    [[nodiscard]] virtual bool Start(Callback callback) = 0;
    virtual void Stop() = 0;
};

}  // namespace orv::platform
