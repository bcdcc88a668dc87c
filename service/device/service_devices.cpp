#include "service/device/service_devices.h"

#include "platform/paths.h"
#include "service/firmware/firmware_updater.h"

namespace orv::device {

bool WatcherNotifications::Register(const platform::Guid& interfaceClass, Sink sink) {
    // The watcher reports adapters only; the broadcasts carry their class.
    if (interfaceClass != platform::kAdapterInterfaceClass) return false;
    return watcher_.Start(std::move(sink));
}

void WatcherNotifications::Unregister() {
    watcher_.Stop();
}

std::unique_ptr<COvwDeviceManager> MakeServiceDeviceManager(platform::DeviceWatcher& watcher) {
    DeviceManagerServices services;
    services.enumerate = [&watcher] { return watcher.Enumerate(); };
    services.versionCheck = firmware::CheckAdapterFirmware;
    services.compressionCode = ServiceCompressionCode;
    services.makeWall = [] { return std::make_unique<wall::COvwUI>(platform::ConfigFilePath()); };
    return std::make_unique<COvwDeviceManager>(std::move(services));
}

}  // namespace orv::device
