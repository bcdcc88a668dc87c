// Several device watchers followed as one.
#include <algorithm>
#include <atomic>
#include <utility>

#include "common/thread_annotations.h"
#include "platform/diag.h"
#include "platform/usb/device_watchers.h"

namespace orv::platform {
namespace {

class CombinedDeviceWatcher final : public DeviceWatcher {
public:
    explicit CombinedDeviceWatcher(std::vector<NamedDeviceWatcher> members)
        : members_(std::move(members)) {}
    ~CombinedDeviceWatcher() override { Stop(); }

    std::vector<std::string> Enumerate() const override {
        if (started_ && !reported_.exchange(true))
            for (const std::string& line : status_) Diagnostic("%s", line.c_str());
        std::vector<std::string> paths;
        for (const NamedDeviceWatcher& m : members_) {
            std::vector<std::string> more = m.watcher->Enumerate();
            paths.insert(paths.end(), more.begin(), more.end());
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    bool Start(Callback callback) override {
        if (started_) return false;
        callback_ = std::move(callback);
        status_.clear();
        bool any = false;
        for (NamedDeviceWatcher& m : members_) {
            // Each member calls from its own thread: one event at a time.
            if (m.watcher->Start([this](const DeviceBroadcast& event) {
                    MutexLock lock(callbackMutex_);
                    callback_(event);
                })) {
                status_.push_back("devices: following " + m.name + "\n");
                any = true;
            } else {
                status_.push_back("devices: not following " + m.name + " (it cannot start)\n");
            }
        }
        started_ = any;
        reported_ = false;
        return any;
    }

    void Stop() override {
        for (NamedDeviceWatcher& m : members_) m.watcher->Stop();
        started_ = false;
    }

private:
    std::vector<NamedDeviceWatcher> members_;
    bool started_ = false;
    // What Start made of each member, reported by the first Enumerate after
    // it (the service's start-up enumeration, which its log begins with).
    std::vector<std::string> status_;
    mutable std::atomic<bool> reported_{false};
    Mutex callbackMutex_;
    Callback callback_;  // set by Start before any member runs
};

}  // namespace

std::unique_ptr<DeviceWatcher> CreateCombinedDeviceWatcher(
    std::vector<NamedDeviceWatcher> members) {
    return std::make_unique<CombinedDeviceWatcher>(std::move(members));
}

}  // namespace orv::platform
