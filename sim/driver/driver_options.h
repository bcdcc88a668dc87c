// The display driver's options and their command line.
//
//   --host ADDR        the service's address (127.0.0.1)
//   --port N           the driver port (ORV_DRIVER_PORT, else 2000)
//   --source SRC       pattern (default) | still:FILE.png | x11[:DISPLAY]
//   --fps N            frames per second to offer, 1..1000 (60); 0 = as fast
//                      as the service releases the halves
//   --precompute N     encode N frames once per view and cycle them (0: encode
//                      every frame); a still picture is always encoded once
//   --bezel PX         pixels hidden between neighbouring monitors (0)
//   --quality Q        JPEG quality 1..100 (85)
//   --report-ms MS     statistics line interval (1000); 0 = only at exit
//
// Pure functions, no threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orv::driver {

enum class SourceKind { kPattern, kStill, kX11 };

struct DriverOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;  // 0: platform::DriverPort()
    SourceKind source = SourceKind::kPattern;
    std::string stillPath;   // kStill
    std::string x11Display;  // kX11; empty for $DISPLAY
    std::uint32_t fps = 60;
    std::uint32_t precompute = 0;
    std::uint32_t bezel = 0;
    int quality = 85;
    std::uint32_t reportMs = 1000;
};

// Run with `options`, or print `message` (usage on --help, an error
// otherwise) and exit with `exitCode`.
struct DriverCommandLine {
    std::optional<DriverOptions> options;
    std::string message;
    int exitCode = 0;
};
DriverCommandLine ParseDriverCommandLine(int argc, const char* const* argv);
std::string DriverUsage();

}  // namespace orv::driver
