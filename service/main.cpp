// zentrelle: the video-wall service.
#include <utility>
#include <vector>

#include "platform/usb/device_watchers.h"
#include "service/device/service_devices.h"
#include "service/host/zentrelle.h"

int main(int argc, char** argv) {
    // Simulated and real adapters are followed side by side: their device
    // paths never overlap (sockets of the bus folder, "libusb:..."), so one
    // wall may mix them, and no start-up guess decides which kind is there.
    std::vector<orv::platform::NamedDeviceWatcher> watchers;
    watchers.push_back({"the simulated USB bus", orv::platform::CreateBusDeviceWatcher()});
    watchers.push_back(
        {"USB adapters (libusb hotplug)", orv::platform::CreateLibUsbDeviceWatcher()});
    const auto watcher = orv::platform::CreateCombinedDeviceWatcher(std::move(watchers));
    orv::device::WatcherNotifications notifications(*watcher);
    const auto manager = orv::device::MakeServiceDeviceManager(*watcher);
    return orv::host::ZentrelleMain(argc, argv, manager.get(), &notifications);
}
