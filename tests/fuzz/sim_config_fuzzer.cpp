// The simulator's JSON configuration: parsed and completed as orv-adapter-sim
// does at start, with fixed folders so that nothing is looked up.
#include "sim/adapter/sim_config.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    auto config = sim::ParseConfigJson({reinterpret_cast<const char*>(data), size}, &error);
    if (!config) return 0;
    config->busDir = "/nonexistent/usb";
    config->romDir = "/nonexistent/rom";
    if (!sim::FinishConfig(*config, &error)) return 0;
    for (const sim::AdapterConfig& a : config->adapters) {
        if (a.keepAliveMs == 0 || a.keepAliveMs > 2000) __builtin_trap();
        for (const sim::MonitorConfig& m : a.monitors) {
            if (m.width == 0 || m.width > sim::kMaxModeSide || m.height == 0 ||
                m.height > sim::kMaxModeSide)
                __builtin_trap();
        }
    }
    return 0;
}
