// zentrelle: the video-wall service.
#include "platform/usb/device_watchers.h"
#include "service/device/service_devices.h"
#include "service/host/zentrelle.h"

int main(int argc, char** argv) {
    const auto watcher = orv::platform::CreateBusDeviceWatcher();
    orv::device::WatcherNotifications notifications(*watcher);
    const auto manager = orv::device::MakeServiceDeviceManager(*watcher);
    return orv::host::ZentrelleMain(argc, argv, manager.get(), &notifications);
}
