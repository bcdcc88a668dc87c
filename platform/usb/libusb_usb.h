// The usb::Interface backend for real hardware, over libusb-1.0.
//
// Device paths read "libusb:<bus>-<port>[.<port>...]" (bus number and port
// path, as libusb_get_bus_number / libusb_get_port_numbers give them). The
// backend claims the adapter interface (FindAdapterInterface; detaching a
// kernel driver when one is bound) and runs synchronous bulk transfers with
// the pipe's time-out. Open reports a device node the process may not open
// through platform::Diagnostic, naming the udev rule that grants access.
//
// Kept simple, and only built here (no hardware to test it on): AbortPipe and
// FlushPipe succeed without effect, since a synchronous libusb transfer cannot
// be aborted from another thread, so Free must only be called once no other
// thread is inside a transfer.
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
