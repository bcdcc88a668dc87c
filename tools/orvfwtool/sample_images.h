// Sample firmware images and their installation, for the demo and the tests.
//
// The service only measures an image's size and byte sum and copies it into
// the adapter's serial ROM, so any bytes do. These are deterministic: a text
// head naming the file, for the main firmware the tags a simulated adapter
// reports once it runs the image ("ORV-FW-VERSION=v <version>",
// "ORV-LAYOUT=<layout>"), then pseudo-random bytes. The sizes fit the regions
// a simulated adapter lays out over its default 1 MiB ROM (boot loaders
// 60 KiB, firmware 0 124 KiB, main slots 372 KiB each), end in partial
// chunks, and Firmware0.bin ends in a 464-byte chunk (a 513-byte packet).
//
// Plain functions, no threads; file errors are reported through `error`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/adapter/firmware_files.h"

namespace orv::fwtool {

struct SampleImage {
    std::string_view file;
    std::size_t size;
};
inline constexpr SampleImage kSampleImages[] = {
    {firmware::kBootLoader0File, 14'413},
    {firmware::kBootLoader1File, 20'481},
    {firmware::kFirmware0File, 14 * firmware::kFirmwareChunkSize + 464},
    {firmware::kMainFirmwareFile, 196'613},
};

// What a simulated adapter reports when nothing else is configured.
inline constexpr std::string_view kDefaultVersion = "00.00.1400.0001";
inline constexpr std::uint32_t kDefaultLayout = 1;

// `version` is the registry form, without the adapter's leading "v ".
std::vector<std::uint8_t> SampleImageBytes(std::string_view file, std::size_t size,
                                           std::string_view version, std::uint32_t layout);

// Writes the four images into `dir` (created when missing).
bool MakeImages(const std::string& dir, std::string_view version, std::uint32_t layout,
                std::string* error);

// Writes the images into `firmwareDir` and sets ORVFirmwarePath (the main
// image's absolute path), FirmwareVersion and LayoutVersion in the registry
// file, keeping everything else in it.
bool Install(const std::string& firmwareDir, const std::string& registryFile,
             std::string_view version, std::uint32_t layout, std::string* error);

// The command line of orv-fwtool; returns the exit code. `install ROOT` sets
// ORV_ROOT for this process to find the tree's firmware folder and registry.
int RunTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace orv::fwtool
