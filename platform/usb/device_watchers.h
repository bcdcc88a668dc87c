// The DeviceWatcher backends (platform/device_watcher.h): the simulated USB
// bus, a folder of sockets watched with inotify, and, for real hardware,
// libusb hotplug; and a watcher following several of them at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_watcher.h"

namespace orv::platform {

// The simulated bus: every "*.sock" socket in `folder` (BusDir() when empty;
// created by Start when missing) is an adapter, its device path is
// folder + "/" + file name (the same string in Enumerate and in events).
// A socket appearing is an arrival, one removed a removal, one replaced both.
std::unique_ptr<DeviceWatcher> CreateBusDeviceWatcher(std::string folder = {});

// Real hardware through libusb hotplug: the USB adapters, i.e. devices whose
// vendor:product pair is in usb::AdapterUsbIds (read from the registry by
// Start) and that have the adapter interface (usb::FindAdapterInterface);
// listed devices without it are ignored with a diagnostic. Device paths
// "libusb:<bus>-<port path>" (what the libusb backend of usb::Interface
// opens). Start fails where libusb cannot start or has no hotplug support.
// The thread is "orv-usbwatch".
std::unique_ptr<DeviceWatcher> CreateLibUsbDeviceWatcher();

// Watchers followed together: Enumerate lists the devices of all (sorted),
// Start starts each and succeeds when at least one starts, events of all
// members reach the callback one at a time. The first Enumerate after Start
// names, in diagnostics, each member followed and each that failed to start
// (so that they come in the service log after its start line). The members'
// device paths must not overlap.
struct NamedDeviceWatcher {
    std::string name;  // for diagnostics ("the simulated bus")
    std::unique_ptr<DeviceWatcher> watcher;
};
std::unique_ptr<DeviceWatcher> CreateCombinedDeviceWatcher(std::vector<NamedDeviceWatcher> members);

}  // namespace orv::platform
