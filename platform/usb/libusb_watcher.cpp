// The device watcher for real hardware: libusb's device list and hotplug
// callbacks, run by the watcher's own event thread.
#include <libusb.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/usb/device_watchers.h"
#include "platform/usb/libusb_usb.h"

namespace orv::platform {
namespace {

class LibUsbDeviceWatcher final : public DeviceWatcher {
public:
    LibUsbDeviceWatcher(std::uint16_t vendorId, std::uint16_t productId)
        : vendorId_(vendorId), productId_(productId) {}
    ~LibUsbDeviceWatcher() override { Stop(); }

    std::vector<std::string> Enumerate() const override {
        std::vector<std::string> paths;
        libusb_context* context = nullptr;
        if (libusb_init(&context) != 0) return paths;
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(context, &list);
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor d{};
            if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == vendorId_ &&
                d.idProduct == productId_)
                paths.push_back(usb::LibUsbDevicePath(list[i]));
        }
        if (count >= 0) libusb_free_device_list(list, 1);
        libusb_exit(context);
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    bool Start(Callback callback) override {
        if (thread_.joinable() || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return false;
        if (libusb_init(&context_) != 0) {
            context_ = nullptr;
            return false;
        }
        callback_ = std::move(callback);
        if (libusb_hotplug_register_callback(
                context_,
                static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                  LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                static_cast<libusb_hotplug_flag>(0), vendorId_, productId_,
                LIBUSB_HOTPLUG_MATCH_ANY, &LibUsbDeviceWatcher::OnHotplug, this,
                &registration_) != LIBUSB_SUCCESS) {
            libusb_exit(context_);
            context_ = nullptr;
            return false;
        }
        stopping_ = false;
        thread_ = std::thread([this] {
            pthread_setname_np(pthread_self(), "orv-usbwatch");
            while (!stopping_) libusb_handle_events_completed(context_, nullptr);
        });
        return true;
    }

    void Stop() override {
        if (!thread_.joinable()) return;
        stopping_ = true;
        libusb_interrupt_event_handler(context_);
        thread_.join();
        libusb_hotplug_deregister_callback(context_, registration_);
        libusb_exit(context_);
        context_ = nullptr;
    }

private:
    // Runs on the watcher's thread, inside libusb's event handling.
    static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device,
                                     libusb_hotplug_event event, void* self) {
        DeviceBroadcast broadcast;
        broadcast.eventType = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED
                                  ? kDbtDeviceArrival
                                  : kDbtDeviceRemoveComplete;
        broadcast.name = usb::LibUsbDevicePath(device);
        static_cast<LibUsbDeviceWatcher*>(self)->callback_(broadcast);
        return 0;  // stay registered
    }

    const std::uint16_t vendorId_;
    const std::uint16_t productId_;
    libusb_context* context_ = nullptr;
    libusb_hotplug_callback_handle registration_ = 0;
    std::atomic<bool> stopping_{false};
    Callback callback_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<DeviceWatcher> CreateLibUsbDeviceWatcher(std::uint16_t vendorId,
                                                         std::uint16_t productId) {
    return std::make_unique<LibUsbDeviceWatcher>(vendorId, productId);
}

}  // namespace orv::platform
