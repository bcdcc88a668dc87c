// Monitor EDIDs for the simulated adapters: generated (128 or 256 bytes, with
// name, serial and preferred mode) or read from a hex file (hex pairs,
// whitespace ignored), and checked (size 128 or 256, fixed header, every
// 128-byte block summing to 0 modulo 256).
//
// Pure functions apart from the file read; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace orv::sim {

struct EdidParams {
    std::string name = "ORV SIM";  // monitor name descriptor, at most 13 characters used
    std::uint32_t serial = 1;      // numeric serial and serial-text descriptor
    std::uint16_t width = 1920;    // preferred mode
    std::uint16_t height = 1080;
    std::uint8_t refresh = 60;
    std::size_t size = 256;  // 128: base block only; 256: base block + CTA extension
};

// The blocks carry valid checksums; sizes other than 128 give 256 bytes.
std::vector<std::uint8_t> GenerateEdid(const EdidParams& params);

// Empty when valid, else why not.
std::string EdidProblem(bytes::ConstBytes edid);

// Reads and checks a hex EDID file; nothing (and `error`) when it cannot be
// read, holds anything but hex pairs and whitespace, or is not a valid EDID.
std::optional<std::vector<std::uint8_t>> LoadEdidHex(const std::string& path, std::string* error);
// The same over the text of such a file (`error` without the path).
std::optional<std::vector<std::uint8_t>> ParseEdidHex(std::string_view text, std::string* error);

// Preferred mode from the first detailed timing descriptor; {0, 0} if none.
std::pair<std::uint16_t, std::uint16_t> EdidPreferredMode(bytes::ConstBytes edid);

}  // namespace orv::sim
