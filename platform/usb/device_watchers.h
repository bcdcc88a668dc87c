// The DeviceWatcher backends (platform/device_watcher.h): the simulated USB
// bus, a folder of sockets watched with inotify, and, for real hardware,
// libusb hotplug.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/device_watcher.h"

namespace orv::platform {

// The simulated bus: every "*.sock" socket in `folder` (BusDir() when empty;
// created by Start when missing) is an adapter, its device path is
// folder + "/" + file name (the same string in Enumerate and in events).
// A socket appearing is an arrival, one removed a removal, one replaced both.
std::unique_ptr<DeviceWatcher> CreateBusDeviceWatcher(std::string folder = {});

// Real hardware: USB devices with this vendor and product id, through libusb
// hotplug; device paths "libusb:<bus>-<port path>" (what the libusb backend
// of usb::Interface opens). Start fails where libusb has no hotplug support.
std::unique_ptr<DeviceWatcher> CreateLibUsbDeviceWatcher(std::uint16_t vendorId,
                                                         std::uint16_t productId);

}  // namespace orv::platform
