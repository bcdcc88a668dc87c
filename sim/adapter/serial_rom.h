// The serial ROM of one simulated adapter, kept in a file so that what the
// service writes (a firmware update) survives a restart of the simulator.
//
// A new file is filled with 0xFF (erased) and gets a SromInfo with the
// adapter's identity and five regions laid out over the ROM, at 0x6000 and as
// backup at 0x4000. An existing file is used as it is: its identity and
// regions win over the configuration.
//
// Firmware images may carry a text tag "ORV-FW-VERSION=<version string>" and
// "ORV-LAYOUT=<decimal>"; an intact image in the active main slot that carries
// one makes the adapter report it, so a firmware update changes the version
// the adapter reports after it.
//
// Threads: used by one adapter's I/O thread only; no locks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "protocol/adapter/srom_info.h"

namespace orv::sim {

inline constexpr std::uint32_t kMinRomSize = 0x10000;
inline constexpr std::uint32_t kDefaultRomSize = 0x100000;
// Largest ROM the simulator takes: far above any adapter, bounded so a typo
// cannot fill a disk.
inline constexpr std::uint32_t kMaxRomSize = 64u * 1024 * 1024;

// The SromInfo of a new ROM: identity and regions spread over `romSize`
// bytes above the two information copies, active slot 1, nothing written.
adapter::SromInfo DefaultSromInfo(std::uint32_t romSize, const std::string& identity);

class SerialRom {
public:
    // Opens `path`, creating it (size `romSize`, between kMinRomSize and
    // kMaxRomSize) when it does not exist. Nothing (and `error`) when the file
    // cannot be made or used, or an existing one is shorter than kMinRomSize.
    static std::unique_ptr<SerialRom> Open(const std::string& path, std::uint32_t romSize,
                                           const std::string& identity, std::string* error);
    ~SerialRom();
    SerialRom(const SerialRom&) = delete;
    SerialRom& operator=(const SerialRom&) = delete;

    std::uint32_t Size() const { return size_; }
    const std::string& Path() const { return path_; }
    // False when [address, address + length) is not inside the ROM or the
    // file cannot be read/written.
    bool Read(std::uint32_t address, std::uint32_t length, std::vector<std::uint8_t>& out) const;
    bool Write(std::uint32_t address, bytes::ConstBytes data);

    // The information structure at 0x6000 when its checksum holds, else the
    // backup at 0x4000 when its does, else nothing.
    std::optional<adapter::SromInfo> Info() const;
    // Tags of the intact image in the active main slot (see above).
    std::optional<std::string> FirmwareVersionTag() const;
    std::optional<std::uint32_t> LayoutVersionTag() const;

private:
    SerialRom(std::string path, int fd, std::uint32_t size)
        : path_(std::move(path)), fd_(fd), size_(size) {}
    std::optional<std::string> ActiveImageTag(std::string_view key) const;

    const std::string path_;
    const int fd_;
    const std::uint32_t size_;
};

}  // namespace orv::sim
