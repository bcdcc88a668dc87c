// COvwFirmwareUpdater: checks an adapter's firmware version and serial-ROM
// layout against the images installed on this machine and rewrites them.
//
// The adapter's StartDev runs CheckFirmware after "- Query version:Begin -":
// a firmware of another product line is refused; an outdated (or newer)
// firmware is rewritten, only the main firmware into the inactive slot when
// the layout version is unchanged, all four images when it changed. Every
// serial-ROM access is a type-7 exchange on pipes 0x02/0x82.
//
// Settings come from the registry snapshot given at construction, key
// Software\ORVVideoWallInfo: "ORVFirmwarePath" (full path of the main
// firmware image; the text up to and including its last '/' is the folder
// of the other images; also read from the Wow6432Node fallback key),
// "FirmwareVersion" (the adapter's version without its leading "v "),
// "LayoutVersion" (decimal text).
//
// Safety rules beyond the plain copy: the SromInfo switches (active slot,
// both copies) only after every image byte was written; an image is refused
// before anything is written when it is larger than its region, than the
// 1 MiB transfer buffer or than one packet can carry; a region whose address
// range wraps 32 bits or covers a SromInfo copy (or, for a firmware-only
// update, the running slot) is refused; a SromInfo whose checksum does not
// hold is not trusted. A write that runs past the end of the adapter's ROM is
// failed by the adapter itself, and the update stops there.
//
// Threads: the thread that starts the adapter, before the adapter's
// notification reader starts. Every call blocks for its exchanges (each at
// most the link's transfer time-out); the only lock taken is the link's
// exchange lock, once per exchange. Holds references only: the link and the
// registry must outlive the updater.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "platform/registry.h"
#include "protocol/adapter/firmware_files.h"
#include "protocol/adapter/packets.h"
#include "protocol/adapter/srom_info.h"
#include "service/link/comm_base.h"

namespace orv::firmware {

// The first 12 characters of every supported adapter's version string.
inline constexpr std::string_view kProductLine = "v 00.00.1400";

// Every serial-ROM write and its reply go through a buffer of this size.
inline constexpr std::size_t kTransferBufferSize = 1024 * 1024;
// Largest image written in one packet (boot loaders): the packet, with its
// header and the length rule's extra byte, must fit the transfer buffer.
inline constexpr std::size_t kMaxSingleWriteImage = kTransferBufferSize - adapter::kHeaderSize - 1;
static_assert(adapter::PacketLength(adapter::kHeaderSize + kMaxSingleWriteImage) <=
              kTransferBufferSize);
// Largest chunked image: it is read whole into a buffer of this size.
inline constexpr std::size_t kMaxChunkedImage = kTransferBufferSize;

// The version comparison of the firmware check. The adapter string is walked
// from its third character (after "v "), the registry string from its first,
// in step: characters other than '.' in the adapter string go to the
// adapter's accumulator, and the registry character at the same position (if
// the registry string is that long) to the registry's; at each '.' both are
// converted to integers, compared and cleared; the last components are
// compared at the end. Registry characters left over after the adapter
// string ended make the versions different.
bool VersionsEqual(std::string_view adapterVersion, std::string_view registryVersion);

class COvwFirmwareUpdater {
public:
    COvwFirmwareUpdater(link::COvwCommBase& link, const platform::Registry& registry)
        : link_(link), registry_(registry) {}

    // The firmware check of StartDev: queries the version (sub-type 1),
    // refuses another product line, stores the adapter's version string in
    // `firmwareVersionText`, compares it with "FirmwareVersion" and runs a
    // firmware-only or full update when they differ. 0: continue (whatever
    // an update did), 1: refuse (failed query or wrong product line).
    int CheckFirmware(std::string& firmwareVersionText);

    // True when the adapter's layout version (sub-type 4) equals the
    // integer value of "LayoutVersion"; false on a failed query or an
    // unreadable value.
    bool GetAndCompareLayoutVersion();

    // Reads the 228 bytes at 0x6000. False (and `info` cleared) on a failed
    // exchange, a reply too short to carry them, or a failed checksum.
    bool ReadSROMInfo(adapter::SromInfo& info);

    // Checks that the four images in `folder` (ending with '/') open, fit
    // their regions 0..3 and the transfer buffer, and that those regions are
    // usable. The first failure is logged and makes it false.
    bool CheckSROMLayout(const std::string& folder, const adapter::SromInfo& info);

    // Write the image at `path` into region 0, 1, 2 or 3 and record its size
    // and checksum in `info` (which is not written to the adapter here).
    // Boot loaders go in one write, firmware in 4,096-byte chunks. False on
    // the first failure (file, size, region or a reply not done).
    bool UpdateBL0(const std::string& path, adapter::SromInfo& info);
    bool UpdateBL1(const std::string& path, adapter::SromInfo& info);
    bool UpdateFw0(const std::string& path, adapter::SromInfo& info);
    bool UpdateFw1(const std::string& path, adapter::SromInfo& info);

    // Writes ORVFirmwarePath into the inactive main slot, then switches the
    // active slot in both SromInfo copies. True when the backup copy was
    // written.
    bool UpdateFWOnly();

    // Writes all four images (main firmware into region 3), then makes slot
    // 1 active in both SromInfo copies. Stops at the first failing step.
    bool FullUpdate();

private:
    // One exchange on 0x02/0x82; the bytes received, inside `reply`.
    bytes::ConstBytes Exchange(adapter::Packet& request, std::vector<std::uint8_t>& reply,
                               int& linkResult);
    // True when the adapter answered the serial-ROM request as done.
    bool SromWrite(std::uint32_t address, bytes::ConstBytes data, std::vector<std::uint8_t>& reply);
    bool WriteSromInfoAt(const adapter::SromInfo& info, std::uint32_t address);
    // Writes `image` into region `region` and records size and checksum.
    bool WriteRegion(std::size_t region, bytes::ConstBytes image, bool oneWrite,
                     adapter::SromInfo& info);
    // One of the four update steps, for region 0..3, with its log lines.
    bool UpdateImage(std::size_t region, const std::string& path, adapter::SromInfo& info);
    bool UpdateFWOnlySteps();
    // ORVFirmwarePath, or false when the value is absent.
    bool FirmwarePath(std::string& path) const;

    link::COvwCommBase& link_;
    const platform::Registry& registry_;
};

// The firmware check as StartDev calls it: loads the registry file now (so an
// installation done while the service runs counts) and runs CheckFirmware.
int CheckAdapterFirmware(link::COvwCommBase& link, std::string& firmwareVersionText);

}  // namespace orv::firmware
