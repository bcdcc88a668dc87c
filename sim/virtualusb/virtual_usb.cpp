#include "platform/virtual_controller.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// Appends one line naming the call; failures are ignored (the real library's
// results are not used either).
int Record(const char* call) {
    const char* dir = std::getenv("ORV_RUNTIME_DIR");
    if (dir == nullptr || *dir == '\0') return 0;
    const std::string path = std::string(dir) + "/virtual-controller.log";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    const std::string line = std::string(call) + "\n";
    (void)!write(fd, line.data(), line.size());
    close(fd);
    return 1;
}

}  // namespace

extern "C" int PlugInVirtualController() {
    return Record("PlugInVirtualController");
}
extern "C" int PlugOutVirtualController() {
    return Record("PlugOutVirtualController");
}
