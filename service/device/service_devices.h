// The device side of the zentrelle program: the device manager wired to the
// device watcher (simulated bus and real USB), the firmware check and the
// registry, and the arrival and removal source that feeds the service's
// control handler.
#pragma once

#include <memory>

#include "platform/device_watcher.h"
#include "service/device/device_manager.h"
#include "service/host/device_manager_host.h"

namespace orv::device {

// Arrivals and removals reported by a DeviceWatcher. Register starts the
// watcher (its thread calls the sink); Unregister stops and joins it.
class WatcherNotifications final : public host::IDeviceNotificationSource {
public:
    explicit WatcherNotifications(platform::DeviceWatcher& watcher) : watcher_(watcher) {}
    bool Register(const platform::Guid& interfaceClass, Sink sink) override;
    void Unregister() override;

private:
    platform::DeviceWatcher& watcher_;
};

// The device manager of the service: adapters found by `watcher`, firmware
// checked against the installed images, compression code from "CALG".
std::unique_ptr<COvwDeviceManager> MakeServiceDeviceManager(platform::DeviceWatcher& watcher);

}  // namespace orv::device
