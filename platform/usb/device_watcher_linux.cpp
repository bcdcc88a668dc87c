// The simulated bus's device watcher: lists the bus folder and follows it
// with inotify.
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>
#include <thread>

#include "platform/paths.h"
#include "platform/posix/wakeable_wait.h"
#include "platform/thread_name.h"
#include "platform/usb/device_watchers.h"

namespace orv::platform {
namespace {

constexpr std::string_view kSocketSuffix = ".sock";

bool IsAdapterName(std::string_view name) {
    return name.size() > kSocketSuffix.size() && name.ends_with(kSocketSuffix);
}

class BusDeviceWatcher final : public DeviceWatcher {
public:
    explicit BusDeviceWatcher(std::string folder)
        : folder_(folder.empty() ? BusDir() : std::move(folder)) {}
    ~BusDeviceWatcher() override { Stop(); }

    std::vector<std::string> Enumerate() const override {
        std::vector<std::string> paths;
        DIR* dir = opendir(folder_.c_str());
        if (dir == nullptr) return paths;
        while (const dirent* entry = readdir(dir)) {
            if (IsAdapterName(entry->d_name) && IsSocket(PathOf(entry->d_name)))
                paths.push_back(PathOf(entry->d_name));
        }
        closedir(dir);
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    bool Start(Callback callback) override {
        if (thread_.joinable()) return false;
        MakeDirs(folder_);
        inotify_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        wait_ = std::make_unique<posix::WakeableWait>(posix::WakeableWait::WakeKind::kStays);
        // Watch first, then list: a socket created in between is seen twice
        // and reported once.
        if (inotify_ < 0 || !wait_->Ok() ||
            inotify_add_watch(inotify_, folder_.c_str(),
                              IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR) <
                0) {
            CloseDescriptors();
            return false;
        }
        const std::vector<std::string> present = Enumerate();
        present_ = std::set<std::string>(present.begin(), present.end());
        callback_ = std::move(callback);
        thread_ = std::thread(&BusDeviceWatcher::WatcherThread, this);
        return true;
    }

    void Stop() override {
        if (!thread_.joinable()) return;
        wait_->Wake();
        thread_.join();
        CloseDescriptors();
    }

private:
    std::string PathOf(std::string_view name) const { return folder_ + "/" + std::string(name); }

    static bool IsSocket(const std::string& path) {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
    }

    void CloseDescriptors() {
        if (inotify_ >= 0) close(inotify_);
        inotify_ = -1;
        wait_.reset();
    }

    void Report(std::uint32_t eventType, const std::string& path) {
        DeviceBroadcast broadcast;
        broadcast.eventType = eventType;
        broadcast.name = path;
        callback_(broadcast);
    }

    void Arrived(const std::string& path) {
        if (!IsSocket(path)) return;
        // A socket put in place of a known one is a new device.
        if (!present_.insert(path).second) Report(kDbtDeviceRemoveComplete, path);
        Report(kDbtDeviceArrival, path);
    }

    void Removed(const std::string& path) {
        if (present_.erase(path) != 0) Report(kDbtDeviceRemoveComplete, path);
    }

    // After lost events: report the difference between what was known and
    // what the folder holds now.
    void Rescan() {
        const std::vector<std::string> now = Enumerate();
        const std::set<std::string> listed(now.begin(), now.end());
        const std::set<std::string> before = present_;
        for (const auto& path : before)
            if (listed.count(path) == 0) Removed(path);
        for (const auto& path : now)
            if (before.count(path) == 0) Arrived(path);
    }

    void WatcherThread() {
        SetCurrentThreadName("orv-devwatch");
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const posix::WakeableWait::Readiness r = wait_->Wait({inotify_});
            if (r.woken || r.failed) return;
            const ssize_t n = read(inotify_, buffer, sizeof buffer);
            if (n <= 0) continue;
            const std::size_t size = static_cast<std::size_t>(n);
            for (std::size_t at = 0; at + sizeof(inotify_event) <= size;) {
                inotify_event event;
                std::memcpy(&event, buffer + at, sizeof event);
                if (event.len > size - at - sizeof event) break;
                const char* text = buffer + at + sizeof event;
                const std::string_view name(text, strnlen(text, event.len));
                at += sizeof event + event.len;
                if (event.mask & IN_Q_OVERFLOW) {
                    Rescan();
                } else if (IsAdapterName(name)) {
                    if (event.mask & (IN_CREATE | IN_MOVED_TO)) Arrived(PathOf(name));
                    if (event.mask & (IN_DELETE | IN_MOVED_FROM)) Removed(PathOf(name));
                }
            }
        }
    }

    const std::string folder_;
    int inotify_ = -1;
    std::unique_ptr<posix::WakeableWait> wait_;  // made by Start, woken by Stop
    Callback callback_;
    std::set<std::string> present_;  // touched by Start, then only by the thread
    std::thread thread_;
};

}  // namespace

std::unique_ptr<DeviceWatcher> CreateBusDeviceWatcher(std::string folder) {
    return std::make_unique<BusDeviceWatcher>(std::move(folder));
}

}  // namespace orv::platform
