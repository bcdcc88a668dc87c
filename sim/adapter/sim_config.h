// What orv-adapter-sim simulates: adapters, their monitors, their serial ROMs,
// built from command-line options and/or a JSON file (schema in
// docs/adapter-sim.md).
//
// Pure parsing, no threads; exceptions of the JSON library stay inside.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/bus/bus_frame.h"

namespace orv::sim {

// The largest width and height a simulated adapter shows: monitors are
// configured within it, and a topology beyond it is refused.
inline constexpr std::uint16_t kMaxModeSide = 4095;

struct MonitorConfig {
    std::uint8_t port = 0x01;  // 0x01, 0x02, 0x04, 0x08 or 0x10
    bool plugged = true;
    std::string edidFile;      // hex EDID; empty: generated from the fields below
    std::string name;          // empty: "ORV SIM <adapter>-<port>"
    std::uint32_t serial = 0;  // 0: derived from adapter and port
    std::uint16_t width = 1920;
    std::uint16_t height = 1080;
    std::uint8_t refresh = 60;
    std::size_t edidSize = 256;  // 128 or 256
};

struct AdapterConfig {
    std::string name;      // socket <bus>/<name>.sock
    std::string identity;  // up to 24 characters, printable ASCII
    std::string firmwareVersion = "v 00.00.1400.0001";
    std::uint32_t layoutVersion = 1;
    std::vector<std::uint8_t> caps;  // up to 157 bytes; empty: a fixed pattern
    std::string romFile;             // empty: <rom dir>/<name>.srom
    std::uint32_t romSize = 0x100000;
    std::uint32_t ackDelayMs = 0;
    // False: frame pictures are checked and acknowledged but not decoded, so
    // the monitors keep their last picture (pipeline benchmarks).
    bool decodeFrames = true;
    std::uint32_t keepAliveMs = 1000;
    std::vector<bus::SettingDescriptor> descriptor;
    std::vector<MonitorConfig> monitors;
};

struct SimConfig {
    std::string busDir;       // empty: platform::BusDir()
    std::string controlPath;  // empty: no control socket
    std::string romDir;       // empty: <state dir>/adapter-sim
    std::vector<AdapterConfig> adapters;
};

// Descriptor presets: "standard" (setting 0 with 0x01, 0x02, 0x81, 0x82),
// "two-endpoints" (one setting with 0x02 and 0x82 only), "second-setting"
// (setting 0 with two endpoints, setting 1 with all four).
std::optional<std::vector<bus::SettingDescriptor>> DescriptorPreset(const std::string& name);

// The order ports are filled when only a monitor count is given: the two
// main outputs first.
inline constexpr std::uint8_t kPortOrder[5] = {0x01, 0x04, 0x02, 0x08, 0x10};
bool IsPortBit(unsigned value);

// Fills a config from a JSON document. Nothing (and `error`) on any problem.
std::optional<SimConfig> ParseConfigJson(const std::string& text, std::string* error);

// The result of the command line: run with `config`, or print `message`
// (usage on --help, an error otherwise) and exit with `exitCode`.
struct CommandLine {
    std::optional<SimConfig> config;
    std::string message;
    int exitCode = 0;
};
CommandLine ParseCommandLine(int argc, const char* const* argv);
std::string Usage();

// Checks and completes a config: names, identities, ROM paths, monitors.
// False (and `error`) when something is not usable.
bool FinishConfig(SimConfig& config, std::string* error);

}  // namespace orv::sim
