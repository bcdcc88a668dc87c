// The device watcher for real hardware: libusb's device list and hotplug
// callbacks, run by the watcher's own event thread.
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "common/thread_annotations.h"
#include "platform/diag.h"
#include "platform/thread_name.h"
#include "platform/usb/adapter_match.h"
#include "platform/usb/device_watchers.h"
#include "platform/usb/libusb_usb.h"

namespace orv::platform {
namespace {

using usb::UsbId;

class LibUsbDeviceWatcher final : public DeviceWatcher {
public:
    ~LibUsbDeviceWatcher() override { Stop(); }

    std::vector<std::string> Enumerate() const override {
        std::vector<std::string> paths;
        libusb_context* context = nullptr;
        if (libusb_init(&context) != 0) return paths;
        const std::vector<UsbId> ids = Ids();
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(context, &list);
        for (ssize_t i = 0; i < count; ++i)
            if (IsAdapter(ids, list[i])) paths.push_back(usb::LibUsbDevicePath(list[i]));
        if (count >= 0) libusb_free_device_list(list, 1);
        libusb_exit(context);
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    bool Start(Callback callback) override {
        if (thread_.joinable()) return false;
        if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return false;
        if (libusb_init(&context_) != 0) {
            context_ = nullptr;
            return false;
        }
        {
            MutexLock lock(mutex_);
            ids_ = usb::AdapterUsbIds(Registry::Load());
        }
        callback_ = std::move(callback);
        // Registered before the list is taken and served only once the thread
        // runs: a device plugged in between is in both and reported once.
        if (libusb_hotplug_register_callback(
                context_,
                static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                  LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY,
                LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, &LibUsbDeviceWatcher::OnHotplug,
                this, &registration_) != LIBUSB_SUCCESS) {
            libusb_exit(context_);
            context_ = nullptr;
            return false;
        }
        const std::vector<std::string> present = Enumerate();
        present_ = std::set<std::string>(present.begin(), present.end());
        stopping_ = false;
        thread_ = std::thread([this] {
            SetCurrentThreadName("orv-usbwatch");
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
    std::vector<UsbId> Ids() const {
        MutexLock lock(mutex_);
        return ids_.empty() ? std::vector<UsbId>{usb::kDefaultAdapterId} : ids_;
    }

    // A device with a listed id whose configuration has the adapter
    // interface. A listed device without it is reported once per path.
    bool IsAdapter(const std::vector<UsbId>& ids, libusb_device* device) const {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(device, &d) != 0 ||
            !usb::IsListed(ids, {d.idVendor, d.idProduct}))
            return false;
        std::vector<usb::UsbInterfaceDescriptors> interfaces;
        const int rc = usb::LibUsbInterfaces(device, interfaces);
        if (rc == 0 && usb::FindAdapterInterface(interfaces)) return true;
        const std::string path = usb::LibUsbDevicePath(device);
        bool first = false;
        {
            MutexLock lock(mutex_);
            first = ignored_.insert(path).second;
        }
        if (first)
            Diagnostic(
                rc == 0 ? "usb: %s (%04x:%04x) ignored: no interface with bulk pipes 0x01, 0x02, "
                          "0x81 and 0x82\n"
                        : "usb: %s (%04x:%04x) ignored: its configuration cannot be read\n",
                path.c_str(), d.idVendor, d.idProduct);
        return false;
    }

    void Report(std::uint32_t eventType, const std::string& path) {
        DeviceBroadcast broadcast;
        broadcast.eventType = eventType;
        broadcast.name = path;
        callback_(broadcast);
    }

    // Runs on the watcher's thread, inside libusb's event handling.
    static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device,
                                     libusb_hotplug_event event, void* context) {
        auto* self = static_cast<LibUsbDeviceWatcher*>(context);
        const std::string path = usb::LibUsbDevicePath(device);
        if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
            if (self->IsAdapter(self->Ids(), device) && self->present_.insert(path).second)
                self->Report(kDbtDeviceArrival, path);
        } else {
            {
                MutexLock lock(self->mutex_);
                self->ignored_.erase(path);
            }
            if (self->present_.erase(path) != 0) self->Report(kDbtDeviceRemoveComplete, path);
        }
        return 0;  // stay registered
    }

    libusb_context* context_ = nullptr;
    libusb_hotplug_callback_handle registration_ = 0;
    std::atomic<bool> stopping_{false};
    Callback callback_;
    mutable Mutex mutex_;
    std::vector<UsbId> ids_ GUARDED_BY(mutex_);  // read from the registry by Start
    // Paths of listed devices already reported as not adapters.
    mutable std::set<std::string> ignored_ GUARDED_BY(mutex_);
    std::set<std::string> present_;  // filled by Start, then only by the thread
    std::thread thread_;
};

}  // namespace

std::unique_ptr<DeviceWatcher> CreateLibUsbDeviceWatcher() {
    return std::make_unique<LibUsbDeviceWatcher>();
}

}  // namespace orv::platform
