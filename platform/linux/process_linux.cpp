#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/paths.h"

namespace orv::platform {
namespace {

constexpr std::size_t kCommLength = 15;  // TASK_COMM_LEN - 1

}  // namespace

std::vector<int> FindProcesses(std::string_view name) {
    const std::string_view wanted = name.substr(0, kCommLength);
    std::vector<int> pids;
    DIR* proc = opendir("/proc");
    if (!proc) return pids;
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
        std::string line;
        if (std::getline(comm, line) && line == wanted) pids.push_back(static_cast<int>(pid));
    }
    closedir(proc);
    return pids;
}

bool IsProcessRunning(std::string_view name) {
    return !FindProcesses(name).empty();
}

struct SingleInstanceLock::File {
    explicit File(int descriptor) : fd(descriptor) {}
    ~File() { close(fd); }  // releases the lock
    const int fd;
};

std::unique_ptr<SingleInstanceLock> SingleInstanceLock::Acquire(std::string_view name) {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = xdg && *xdg ? std::string(xdg) : RuntimeDir();
    MakeDirs(dir);
    std::string path = dir + "/" + std::string(name) + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<SingleInstanceLock>(
        new SingleInstanceLock(std::move(path), std::make_unique<File>(fd)));
}

SingleInstanceLock::SingleInstanceLock(std::string path, std::unique_ptr<File> file)
    : path_(std::move(path)), file_(std::move(file)) {}

SingleInstanceLock::~SingleInstanceLock() = default;

}  // namespace orv::platform
