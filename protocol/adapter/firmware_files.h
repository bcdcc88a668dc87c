// The firmware images of the adapters as installed on this machine: the
// registry values that point to them and the image file names. Shared by the
// service's firmware update and by orv-fwtool, which makes sample images and
// sets the values.
#pragma once

#include <cstddef>
#include <string_view>

namespace orv::firmware {

// Registry value names (key platform::kInfoKey).
inline constexpr std::string_view kValueFirmwarePath = "ORVFirmwarePath";
inline constexpr std::string_view kValueFirmwareVersion = "FirmwareVersion";
inline constexpr std::string_view kValueLayoutVersion = "LayoutVersion";

// Image files, all in the folder of ORVFirmwarePath.
inline constexpr std::string_view kBootLoader0File = "Bootloader0.bin";
inline constexpr std::string_view kBootLoader1File = "Bootloader1.bin";
inline constexpr std::string_view kFirmware0File = "Firmware0.bin";
inline constexpr std::string_view kMainFirmwareFile = "USBDisplay.bin";

// Firmware images are written in chunks of at most this many bytes.
inline constexpr std::size_t kFirmwareChunkSize = 4096;

}  // namespace orv::firmware
