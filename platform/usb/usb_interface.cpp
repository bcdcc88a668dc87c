#include "platform/usb/usb_interface.h"

#include <string_view>

#include "platform/usb/libusb_usb.h"
#include "platform/usb/sim_usb.h"

namespace orv::usb {
namespace {

thread_local ErrorCode lastError = platform::kErrorSuccess;

}  // namespace

ErrorCode LastError() {
    return lastError;
}
void SetLastError(ErrorCode code) {
    lastError = code;
}

std::unique_ptr<Interface> CreateInterfaceFor(const std::string& devicePath) {
    if (std::string_view(devicePath).starts_with(kLibUsbPathPrefix)) return CreateLibUsb();
    return std::make_unique<SimUsb>();
}

}  // namespace orv::usb
