// The simulated bus's device watcher: lists the bus folder and follows it
// with inotify.
#include <dirent.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>
#include <string_view>
#include <thread>

#include "platform/paths.h"
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
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        // Watch first, then list: a socket created in between is seen twice
        // and reported once.
        if (inotify_ < 0 || wake_ < 0 ||
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
        const std::uint64_t one = 1;
        while (write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
        }
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
        if (wake_ >= 0) close(wake_);
        inotify_ = wake_ = -1;
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
        pthread_setname_np(pthread_self(), "orv-devwatch");
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
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
    int wake_ = -1;
    Callback callback_;
    std::set<std::string> present_;  // touched by Start, then only by the thread
    std::thread thread_;
};

}  // namespace

std::unique_ptr<DeviceWatcher> CreateBusDeviceWatcher(std::string folder) {
    return std::make_unique<BusDeviceWatcher>(std::move(folder));
}

}  // namespace orv::platform
