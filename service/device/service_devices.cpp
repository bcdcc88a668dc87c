#include "service/device/service_devices.h"

#include "platform/paths.h"
#include "service/control/comm_ui.h"
#include "service/firmware/firmware_updater.h"
#include "service/wall/test_wall.h"

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
    services.makeWall = [] {
        auto ui = std::make_unique<wall::COvwUI>(platform::ConfigFilePath(),
                                                 driver::ServiceDriverChannelOptions());
        // The control channel comes up with the wall object: the panel's
        // notices go to it from the first monitor on. A registry test wall,
        // when set, takes the wall records' place.
        auto channel =
            std::make_unique<control::COvwCommUI>(*ui, control::ServiceControlChannelOptions());
        control::COvwCommUI* server = channel.get();
        ui->SetControlChannel(std::move(channel));
        wall::InstallRegistryTestWall(*ui);
        (void)server->Connect();
        return ui;
    };
    return std::make_unique<COvwDeviceManager>(std::move(services));
}

}  // namespace orv::device
