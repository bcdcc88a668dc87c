#include "sim/driver/driver_options.h"

#include <charconv>
#include <string_view>

namespace orv::driver {
namespace {

bool ParseNumber(std::string_view text, std::uint32_t low, std::uint32_t high, std::uint32_t& out) {
    std::uint32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return false;
    out = v;
    return true;
}

}  // namespace

std::string DriverUsage() {
    return "usage: orv-display-driver [--host ADDR] [--port N] "
           "[--source pattern|still:FILE.png|x11[:DISPLAY]]\n"
           "       [--fps N] [--precompute N] [--bezel PX] [--quality Q] [--report-ms MS]\n"
           "Connects to the service's driver port, answers view creation and drop, and\n"
           "writes every view's frames into its shared memory. Stops on SIGTERM or SIGINT.\n";
}

DriverCommandLine ParseDriverCommandLine(int argc, const char* const* argv) {
    DriverCommandLine result;
    DriverOptions o;
    auto fail = [&](const std::string& why) {
        result.message = "orv-display-driver: " + why + "\n" + DriverUsage();
        result.exitCode = 2;
        return result;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            result.message = DriverUsage();
            return result;
        }
        if (i + 1 >= argc) return fail("unknown option or missing value: " + std::string(arg));
        const std::string_view value = argv[++i];
        std::uint32_t n = 0;
        if (arg == "--host") {
            o.host = value;
        } else if (arg == "--port") {
            if (!ParseNumber(value, 1, 65535, n)) return fail("--port takes 1..65535");
            o.port = static_cast<std::uint16_t>(n);
        } else if (arg == "--source") {
            if (value == "pattern") {
                o.source = SourceKind::kPattern;
            } else if (value.starts_with("still:") && value.size() > 6) {
                o.source = SourceKind::kStill;
                o.stillPath = value.substr(6);
            } else if (value == "x11" || value.starts_with("x11:")) {
                o.source = SourceKind::kX11;
                o.x11Display = value.size() > 4 ? value.substr(4) : "";
            } else {
                return fail("--source takes pattern, still:FILE.png or x11[:DISPLAY]");
            }
        } else if (arg == "--fps") {
            if (!ParseNumber(value, 0, 1000, o.fps)) return fail("--fps takes 0..1000");
        } else if (arg == "--precompute") {
            if (!ParseNumber(value, 0, 1000, o.precompute))
                return fail("--precompute takes 0..1000");
        } else if (arg == "--bezel") {
            if (!ParseNumber(value, 0, 1000, o.bezel)) return fail("--bezel takes 0..1000");
        } else if (arg == "--quality") {
            if (!ParseNumber(value, 1, 100, n)) return fail("--quality takes 1..100");
            o.quality = static_cast<int>(n);
        } else if (arg == "--report-ms") {
            if (!ParseNumber(value, 0, 3600000, o.reportMs))
                return fail("--report-ms takes 0..3600000");
        } else {
            return fail("unknown option " + std::string(arg));
        }
    }
    result.options = o;
    return result;
}

}  // namespace orv::driver
