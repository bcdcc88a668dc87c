#include "sim/driver/driver_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace orv::driver {
namespace {
std::atomic<bool> gQuiet{false};
}

void DriverLog(const char* format, ...) {
    if (gQuiet) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::printf("orv-display-driver: %s\n", line);
    std::fflush(stdout);
}

void SetDriverLogQuiet(bool quiet) {
    gQuiet = quiet;
}

}  // namespace orv::driver
