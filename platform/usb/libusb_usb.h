// The usb::Interface backend for real hardware, over libusb-1.0.
//
// Device paths read "libusb:<bus>-<port>[.<port>...]" (bus number and port
// path, as libusb_get_bus_number / libusb_get_port_numbers give them). The
// backend claims the adapter interface (FindAdapterInterface; detaching a
// kernel driver when one is bound) and runs synchronous bulk transfers with
// the pipe's time-out. Open reports a device node the process may not open
// through platform::Diagnostic, naming the udev rule that grants access.
//
// Transfers are submitted asynchronously and waited for by the calling thread
// (which runs libusb's event handling meanwhile), so that AbortPipe cancels
// the transfers on a pipe (they fail with 995) and Free, called while other
// threads wait in transfers, cancels them and waits until they have ended.
// FlushPipe succeeds without effect: nothing is buffered on the host side.
// Lock: transfersMutex_ guards the transfers under way (no other lock).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/usb/adapter_match.h"
#include "platform/usb/usb_interface.h"

struct libusb_device;

namespace orv::usb {

std::unique_ptr<Interface> CreateLibUsb();

// The interfaces of the device's active configuration; 0 or a libusb error.
int LibUsbInterfaces(libusb_device* device, std::vector<UsbInterfaceDescriptors>& interfaces);

// The device path of a libusb device ("libusb:<bus>-<port path>").
std::string LibUsbDevicePath(libusb_device* device);

}  // namespace orv::usb
