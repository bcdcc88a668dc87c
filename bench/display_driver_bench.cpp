// The display driver's frame path against an in-process stand-in for the
// service's frame thread: on every "new frame" event it reads the half's
// slots, copies each packet once (as the service copies it into its adapter's
// buffer) and releases the half at once, so the figures are the driver's own.
//
// Measured on a 2 x 2 wall of 1280 x 720 cells, JPEG (224), unpaced:
//   precomputed  8 frames encoded once and cycled (the pipeline alone)
//   live         every frame rendered and encoded
// For each: frames per second, and the time from the driver's "new frame"
// event to the half's release (median, p99), as the driver records it.
// Anchor, in the same run: the stand-in's copy of one frame's packets.
//
// Usage: display_driver_bench [SECONDS per mode, default 3]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/driver_stand_in.h"
#include "sim/driver/display_driver.h"
#include "sim/driver/driver_log.h"

using namespace orv;
using namespace orv::driver;
using Clock = std::chrono::steady_clock;

namespace {

struct Result {
    double fps = 0;
    Statistics::Totals totals;
    double copyUsPerFrame = 0;  // the anchor: the stand-in's copies
};

Result Run(std::uint32_t precompute, double seconds) {
    bench::DriverStandIn service;
    std::string error;
    if (!service.Listen(&error)) {
        std::fprintf(stderr, "listen: %s\n", error.c_str());
        std::exit(1);
    }
    DriverOptions options;
    options.port = service.Port();
    options.fps = 0;
    options.precompute = precompute;
    options.reportMs = 0;
    DisplayDriver driver(options);
    if (!driver.Start(&error)) {
        std::fprintf(stderr, "driver: %s\n", error.c_str());
        std::exit(1);
    }
    if (!service.Connect({2560, 1440, 2, 2}, 224, 5000)) {
        std::fprintf(stderr, "the driver did not take the view\n");
        std::exit(1);
    }
    std::uint64_t frames = 0;
    Clock::duration copying{};
    Clock::time_point start;
    // The first frames (precomputation included) are not counted.
    const std::uint64_t warmUp = 5;
    while (true) {
        const auto copy = service.ServeFrame(5000);
        if (!copy) {
            std::fprintf(stderr, "no frame from the driver\n");
            std::exit(1);
        }
        ++frames;
        if (frames == warmUp) start = Clock::now();
        if (frames > warmUp) {
            copying += *copy;
            if (Clock::now() - start >= std::chrono::duration<double>(seconds)) break;
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    Result r;
    r.fps = static_cast<double>(frames - warmUp) / elapsed;
    r.copyUsPerFrame = std::chrono::duration<double, std::micro>(copying).count() /
                       static_cast<double>(frames - warmUp);
    service.Drop(5000);
    r.totals = driver.Stats().Total();
    driver.Stop();
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const std::string ns = "drvbench" + std::to_string(getpid());
    setenv("ORV_IPC_NAMESPACE", ns.c_str(), 1);
    SetDriverLogQuiet(true);
    std::printf("2 x 2 wall of 1280 x 720 cells, JPEG (224), unpaced, %.0f s per mode\n", seconds);
    for (std::uint32_t precompute : {8u, 0u}) {
        const Result r = Run(precompute, seconds);
        std::printf(
            "%-12s %7.1f fps  new frame -> release: median %.3f ms, p99 %.3f ms (%llu)  "
            "anchor copy %.1f us/frame\n",
            precompute ? "precomputed" : "live", r.fps, r.totals.latency.medianMs,
            r.totals.latency.p99Ms, static_cast<unsigned long long>(r.totals.latency.samples),
            r.copyUsPerFrame);
    }
    return 0;
}
