#include "service/device/device_manager.h"

#include <algorithm>
#include <cctype>
#include <thread>

#include "platform/registry.h"
#include "platform/virtual_controller.h"
#include "service/link/comm_usb.h"
#include "service/log/logger.h"

namespace orv::device {

using adapter::COvwAdapter;
using orv::log::ServiceLog;

std::uint32_t ServiceCompressionCode() {
    std::uint32_t calg = 0;
    const platform::Registry registry = platform::Registry::Load();
    if (registry.ReadDword({platform::kControlSetKey, platform::kControlSetKeyWow}, "CALG", calg) ==
            platform::kErrorSuccess &&
        calg == 228)
        return 228;
    return 224;
}

COvwDeviceManager::COvwDeviceManager(DeviceManagerServices services)
    : services_(std::move(services)) {}

COvwDeviceManager::~COvwDeviceManager() {
    // Adapters still here (no Stop ran) are destroyed before the manager.
    std::map<std::string, std::unique_ptr<COvwAdapter>> left;
    {
        MutexLock lock(mapMutex_);
        left.swap(adapters_);
    }
    for (auto& [path, adapter] : left) DestroyAdapter(std::move(adapter));
}

std::unique_ptr<COvwAdapter> COvwDeviceManager::MakeAdapter() const {
    adapter::AdapterServices s;
    s.wall = wall_.get();
    s.versionCheck = services_.versionCheck;
    s.compressionCode = services_.compressionCode;
    return std::make_unique<COvwAdapter>(std::move(s));
}

void COvwDeviceManager::DestroyAdapter(std::unique_ptr<COvwAdapter> adapter) const {
    adapter.reset();
}

void COvwDeviceManager::Start() {
    MutexLock life(lifeMutex_);
    if (stopped_) {
        // The stop request came before the worker got here: nothing to start.
        ServiceLog("COvwDeviceManager::Start() after Stop: nothing started\n");
        return;
    }
    ServiceLog("++COvwDeviceManager::Start()++\n");
    power_.Acquire();
    // The wall object comes up first, with its driver channel and control
    // channel: adapters register their monitors with it.
    if (services_.makeWall) wall_ = services_.makeWall();
    PlugInVirtualController();
    EnumeratePresentAdapters();
    starting_ = 0;
    ServiceLog("--COvwDeviceManager::Start()--\n");
    const auto pause = [this](int ms) {
        return !stopRequested_.Wait(static_cast<std::uint32_t>(ms));
    };
    if (wall_ && pause(static_cast<int>(services_.restoreDelay.count())))
        wall_->RestoreConfiguration(pause);
}

std::optional<COvwDeviceManager::Found> COvwDeviceManager::FindNextAdapter() {
    if (!services_.enumerate) return std::nullopt;
    const std::vector<std::string> present = services_.enumerate();
    // Walk the members in batches whose end doubles (8, 16, 32, ...),
    // pausing before each, as the device list may still be settling.
    std::size_t index = 0;
    for (std::size_t batchEnd = 8;; batchEnd *= 2) {
        std::this_thread::sleep_for(services_.batchDelay);
        for (; index < batchEnd; ++index) {
            if (index >= present.size()) return std::nullopt;
            const std::string& path = present[index];
            {
                MutexLock lock(mapMutex_);
                if (std::find(knownDevices_.begin(), knownDevices_.end(), path) !=
                    knownDevices_.end())
                    continue;
            }
            std::unique_ptr<usb::Interface> usb = usb::CreateInterfaceFor(path);
            if (!usb || !usb->Open(path) || !usb->Initialize()) continue;
            MutexLock lock(mapMutex_);
            knownDevices_.push_back(path);
            return Found{path, std::move(usb)};
        }
    }
}

void COvwDeviceManager::EnumeratePresentAdapters() {
    for (int n = 0; n < kMaxEnumerated; ++n) {
        std::optional<Found> found = FindNextAdapter();
        if (!found) return;
        auto link = std::make_unique<link::COvwCommUSB>();
        if (link->QueryUSBInterface(std::move(found->usb)) != 0) continue;
        std::unique_ptr<COvwAdapter> adapter = MakeAdapter();
        adapter->SetLink(adapter::OwnLink(std::move(link)));
        if (adapter->StartDev() != 0) {
            // The first adapter that fails to start ends the enumeration.
            DestroyAdapter(std::move(adapter));
            return;
        }
        MutexLock lock(mapMutex_);
        adapters_[found->path] = std::move(adapter);
    }
}

int COvwDeviceManager::USBAdapterPlugIn(const std::string& devicePath) {
    if (starting_) return 1;
    ServiceLog("++COvwDeviceManager::USBAdapterPlugIn()++\n");
    // A second arrival for a path already served means the device came back
    // without its removal being seen: the old adapter's link is dead.
    if (AdapterByPath(devicePath) != nullptr) USBAdapterPlugOut(devicePath);

    std::unique_ptr<COvwAdapter> adapter = MakeAdapter();
    auto link = std::make_unique<link::COvwCommUSB>();
    if (link->Connect(devicePath) != 0) {
        ServiceLog("--COvwDeviceManager::USBAdapterPlugIn()-- connect failure.\n");
        link.reset();
        DestroyAdapter(std::move(adapter));
        return 0;
    }
    adapter->SetLink(adapter::OwnLink(std::move(link)));
    if (adapter->StartDev() != 0) {
        ServiceLog("--COvwDeviceManager::USBAdapterPlugIn()-- StartDev failure.\n");
        DestroyAdapter(std::move(adapter));
        return 0;
    }
    {
        MutexLock lock(mapMutex_);
        adapters_[devicePath] = std::move(adapter);
    }
    ServiceLog("--COvwDeviceManager::USBAdapterPlugIn()--\n");
    return 1;
}

int COvwDeviceManager::USBAdapterPlugOut(const std::string& devicePath) {
    ServiceLog("++COvwDeviceManager::USBAdapterPlugOut()++\n");
    std::unique_ptr<COvwAdapter> adapter;
    std::string found = devicePath;
    {
        MutexLock lock(mapMutex_);
        auto it = adapters_.find(found);
        if (it == adapters_.end()) {
            std::transform(found.begin(), found.end(), found.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            it = adapters_.find(found);
        }
        if (it == adapters_.end()) return 0;
        // Out of the map first, so nobody finds an adapter being destroyed.
        adapter = std::move(it->second);
        adapters_.erase(it);
        auto known = std::find(knownDevices_.begin(), knownDevices_.end(), found);
        if (known != knownDevices_.end()) knownDevices_.erase(known);
    }
    DestroyAdapter(std::move(adapter));
    ServiceLog("--COvwDeviceManager::USBAdapterPlugOut()--\n");
    return 1;
}

void COvwDeviceManager::Stop() {
    stopRequested_.Set();
    MutexLock life(lifeMutex_);
    stopped_ = true;
    power_.Release();
    PlugOutVirtualController();
    wall::COvwUI* ui = wall_.get();
    for (;;) {
        std::unique_ptr<COvwAdapter> adapter;
        {
            MutexLock lock(mapMutex_);
            if (adapters_.empty()) break;
            adapter = std::move(adapters_.begin()->second);
            adapters_.erase(adapters_.begin());
        }
        if (ui != nullptr)
            for (adapter::COvwMonitor* m : adapter->Monitors()) ui->ReleaseMonitor(m->MonitorId());
        // The adapter goes now, threads joined and link closed, while the
        // wall object it reports to still exists.
        DestroyAdapter(std::move(adapter));
    }
    wall_.reset();
}

adapter::COvwAdapter* COvwDeviceManager::AdapterByPath(const std::string& devicePath) const {
    MutexLock lock(mapMutex_);
    auto it = adapters_.find(devicePath);
    return it == adapters_.end() ? nullptr : it->second.get();
}

std::size_t COvwDeviceManager::AdapterCount() const {
    MutexLock lock(mapMutex_);
    return adapters_.size();
}

}  // namespace orv::device
