// orv-display-driver: the display driver of the video wall on Linux. Serves
// the service's wall views with a test pattern, a still picture or an X11
// display until SIGTERM or SIGINT, then prints its totals.
#include <cstdio>

#include "platform/stop_signals.h"
#include "sim/driver/display_driver.h"
#include "sim/driver/driver_log.h"

int main(int argc, char** argv) {
    using namespace orv::driver;
    const DriverCommandLine cl = ParseDriverCommandLine(argc, argv);
    if (!cl.options) {
        std::fputs(cl.message.c_str(), cl.exitCode == 0 ? stdout : stderr);
        return cl.exitCode;
    }
    // Before any thread starts.
    orv::platform::StopSignals stop;

    DisplayDriver driver(*cl.options);
    std::string error;
    if (!driver.Start(&error)) {
        std::fprintf(stderr, "orv-display-driver: %s\n", error.c_str());
        return 1;
    }
    stop.Wait();
    driver.Stop();
    const Statistics::Totals t = driver.Stats().Total();
    DriverLog(
        "stopped: %llu frames, %llu releases, latency median %.2f ms, p99 %.2f ms, "
        "%llu JPEG fallbacks",
        static_cast<unsigned long long>(t.frames), static_cast<unsigned long long>(t.releases),
        t.latency.medianMs, t.latency.p99Ms, static_cast<unsigned long long>(t.fallbacks));
    return 0;
}
