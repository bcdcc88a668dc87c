#include "sim/adapter/sim_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace orv::sim {
namespace {
std::atomic<bool> g_quiet{false};
}

void SetSimLogQuiet(bool quiet) {
    g_quiet = quiet;
}

void SimLog(const char* format, ...) {
    if (g_quiet) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fprintf(stderr, "orv-adapter-sim: %s\n", line);
}

}  // namespace orv::sim
