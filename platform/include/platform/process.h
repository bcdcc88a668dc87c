// Processes by name and the single-instance lock.
//
// FindProcesses/IsProcessRunning look for processes whose /proc/<pid>/comm
// equals `name` (the kernel keeps at most 15 characters of it, so a longer
// name is compared on its first 15). They read /proc once per call, may
// block briefly on it, take no lock; any thread.
//
// SingleInstanceLock is an exclusive flock on "<name>.lock" in
// $XDG_RUNTIME_DIR (RuntimeDir() when that is not set), held until the
// object is destroyed; the kernel releases it when the process ends however
// it ends, so a crashed instance never blocks the next one. The file
// descriptor is not inherited by child programs.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orv::platform {

std::vector<int> FindProcesses(std::string_view name);
bool IsProcessRunning(std::string_view name);

class SingleInstanceLock {
public:
    // The lock for `name`, or nullptr when another process (or another lock
    // object of this one) holds it, or the file cannot be made.
    static std::unique_ptr<SingleInstanceLock> Acquire(std::string_view name);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    const std::string& Path() const { return path_; }

private:
    struct File;  // the locked file, open for the object's life
    SingleInstanceLock(std::string path, std::unique_ptr<File> file);

    const std::string path_;
    const std::unique_ptr<File> file_;
};

}  // namespace orv::platform
