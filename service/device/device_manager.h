// COvwDeviceManager: the set of adapters the service drives.
//
// Start runs the start-up order (keep-awake, the wall object, the virtual
// controller, the adapters present, a pause, the restore of the saved wall,
// which may wait up to 20 s for the display driver); afterwards arrivals and
// removals come from the service's control handler. The manager owns the
// adapters, keyed by device path. Stop withdraws the keep-awake request,
// releases every monitor from the wall, destroys the adapters (threads joined,
// links closed) and then the wall object, which the manager owns from Start
// to Stop.
//
// Threads: Start on the service worker; USBAdapterPlugIn / USBAdapterPlugOut
// and Stop on the control-handler (main) thread. A stop request may come while
// Start still runs: lifeMutex_ is held for the whole of Start and of Stop, so
// Stop waits for a running Start (bounded by its enumeration; the restore's
// pauses end at once when Stop is requested) and then tears down what it
// started; a Start that comes after Stop does nothing. mapMutex_
// is held only while the map or the known-device list is read or changed,
// never while an adapter starts or is destroyed. Lock order: lifeMutex_, then
// mapMutex_.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/thread_annotations.h"
#include "platform/device_watcher.h"
#include "platform/event.h"
#include "platform/power_request.h"
#include "platform/usb/usb_interface.h"
#include "service/adapter/adapter.h"
#include "service/host/device_manager_host.h"
#include "service/wall/ui.h"

namespace orv::device {

struct DeviceManagerServices {
    // Lists the device paths of the adapters present, in a stable order.
    std::function<std::vector<std::string>()> enumerate;
    // The version query with the firmware check (see AdapterServices).
    std::function<int(link::COvwCommBase&, std::string&)> versionCheck;
    // The service's own compression code (224 or 228).
    std::function<std::uint32_t()> compressionCode;
    // Sleep before each batch of the enumeration walk (100 ms).
    std::chrono::milliseconds batchDelay{100};
    // Makes the wall object; Start calls it once, before any adapter starts,
    // and Stop destroys the wall after the adapters. Nothing means no wall:
    // monitors get no ids.
    std::function<std::unique_ptr<wall::COvwUI>()> makeWall;
    // Pause between the adapters present at start and the restore of the
    // saved wall (2000 ms).
    std::chrono::milliseconds restoreDelay{2000};
};

class COvwDeviceManager final : public host::IDeviceManagerHost {
public:
    static constexpr int kMaxEnumerated = 32;

    explicit COvwDeviceManager(DeviceManagerServices services);
    ~COvwDeviceManager() override;

    void Start() override;
    void Stop() override;
    int USBAdapterPlugIn(const std::string& devicePath) override;
    int USBAdapterPlugOut(const std::string& devicePath) override;

    adapter::COvwAdapter* AdapterByPath(const std::string& devicePath) const;
    std::size_t AdapterCount() const;
    bool Starting() const { return starting_ != 0; }
    // The wall object from Start to Stop; nullptr outside.
    wall::COvwUI* Wall() const { return wall_.get(); }

private:
    struct Found {
        std::string path;
        std::unique_ptr<usb::Interface> usb;
    };
    // The next present adapter not yet known, opened; nothing when none.
    std::optional<Found> FindNextAdapter();
    void EnumeratePresentAdapters();
    std::unique_ptr<adapter::COvwAdapter> MakeAdapter() const;
    void DestroyAdapter(std::unique_ptr<adapter::COvwAdapter> adapter) const;

    const DeviceManagerServices services_;
    std::atomic<int> starting_{1};
    // Set by Stop before it waits for Start: cuts the restore's pauses short.
    platform::Event stopRequested_{platform::Event::ResetMode::kManual};
    // Written by Start before arrivals are served (starting_ orders it) and
    // by Stop after they ended.
    std::unique_ptr<wall::COvwUI> wall_;

    Mutex lifeMutex_ ACQUIRED_BEFORE(mapMutex_);
    platform::PowerRequest power_ GUARDED_BY(lifeMutex_);
    bool stopped_ GUARDED_BY(lifeMutex_) = false;

    mutable Mutex mapMutex_ ACQUIRED_AFTER(lifeMutex_);
    std::map<std::string, std::unique_ptr<adapter::COvwAdapter>> adapters_ GUARDED_BY(mapMutex_);
    std::vector<std::string> knownDevices_ GUARDED_BY(mapMutex_);
};

// The service's compression code from the "CALG" registry value: 228 when
// the value is 228, 224 otherwise.
std::uint32_t ServiceCompressionCode();

}  // namespace orv::device
