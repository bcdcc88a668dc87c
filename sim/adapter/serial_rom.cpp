#include "sim/adapter/serial_rom.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace orv::sim {
namespace {

constexpr std::uint32_t kRegionsBase = 0x8000;  // above both information copies
constexpr std::uint32_t kAlign = 0x100;
constexpr std::size_t kMaxTagLength = 64;

std::uint32_t AlignDown(std::uint32_t v) {
    return v / kAlign * kAlign;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

}  // namespace

adapter::SromInfo DefaultSromInfo(std::uint32_t romSize, const std::string& identity) {
    adapter::SromInfo info;
    info.SetIdentity(identity);
    info.SetActiveSlot(1);
    // Boot loaders a sixteenth each, firmware 0 an eighth, the two main
    // slots share the rest.
    const std::uint32_t space = romSize - kRegionsBase;
    const std::uint32_t boot = AlignDown(space / 16);
    const std::uint32_t fw0 = AlignDown(space / 8);
    const std::uint32_t slot = AlignDown((space - 2 * boot - fw0) / 2);
    const std::uint32_t sizes[adapter::kSromRegionCount] = {boot, boot, fw0, slot, slot};
    std::uint32_t address = kRegionsBase;
    for (std::size_t i = 0; i < adapter::kSromRegionCount; ++i) {
        info.SetRegion(i, {address, sizes[i], 0, 0});
        address += sizes[i];
    }
    return info;
}

std::unique_ptr<SerialRom> SerialRom::Open(const std::string& path, std::uint32_t romSize,
                                           const std::string& identity, std::string* error) {
    auto fail = [&](const std::string& why) -> std::unique_ptr<SerialRom> {
        if (error) *error = path + ": " + why;
        return nullptr;
    };
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st {};
        if (fstat(fd, &st) != 0 || st.st_size < kMinRomSize || st.st_size > kMaxRomSize) {
            close(fd);
            return fail("existing serial ROM file has an unusable size");
        }
        return std::unique_ptr<SerialRom>(
            new SerialRom(path, fd, static_cast<std::uint32_t>(st.st_size)));
    }
    if (errno != ENOENT) return fail(std::string("cannot open: ") + std::strerror(errno));
    if (romSize < kMinRomSize || romSize > kMaxRomSize) return fail("serial ROM size out of range");
    // Build the image in a temporary file and rename it, so a crash never
    // leaves a half-made ROM behind.
    const std::string temp = path + ".new";
    fd = open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail(std::string("cannot create: ") + std::strerror(errno));
    std::vector<std::uint8_t> image(romSize, 0xFF);
    const auto info = DefaultSromInfo(romSize, identity).Build();
    std::copy(info.begin(), info.end(), image.begin() + adapter::kSromInfoAddress);
    std::copy(info.begin(), info.end(), image.begin() + adapter::kSromInfoBackupAddress);
    if (!WriteAll(fd, image.data(), image.size(), 0) || fsync(fd) != 0 ||
        rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        close(fd);
        unlink(temp.c_str());
        return fail(std::string("cannot write: ") + std::strerror(err));
    }
    return std::unique_ptr<SerialRom>(new SerialRom(path, fd, romSize));
}

SerialRom::~SerialRom() {
    close(fd_);
}

bool SerialRom::Read(std::uint32_t address, std::uint32_t length,
                     std::vector<std::uint8_t>& out) const {
    if (!bytes::Fits(size_, address, length)) return false;
    out.resize(length);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = pread(fd_, out.data() + done, length - done, address + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool SerialRom::Write(std::uint32_t address, bytes::ConstBytes data) {
    if (!bytes::Fits(size_, address, data.size())) return false;
    return WriteAll(fd_, data.data(), data.size(), address);
}

std::optional<adapter::SromInfo> SerialRom::Info() const {
    for (std::uint32_t address : {adapter::kSromInfoAddress, adapter::kSromInfoBackupAddress}) {
        std::vector<std::uint8_t> raw;
        if (!Read(address, adapter::kSromInfoSize, raw)) continue;
        auto info = adapter::SromInfo::Parse(raw);
        if (info && info->ChecksumValid()) return info;
    }
    return std::nullopt;
}

std::optional<std::string> SerialRom::ActiveImageTag(std::string_view key) const {
    const auto info = Info();
    if (!info) return std::nullopt;
    const adapter::SromRegion region = info->Region(
        info->ActiveSlot() == 2 ? adapter::kRegionMainSlot2 : adapter::kRegionMainSlot1);
    std::vector<std::uint8_t> image;
    if (region.writtenSize == 0 || region.writtenSize > region.reservedSize ||
        !Read(region.address, region.writtenSize, image) ||
        adapter::ImageChecksum(image) != region.checksum)
        return std::nullopt;
    const std::string_view text(reinterpret_cast<const char*>(image.data()), image.size());
    const std::size_t at = text.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view value = text.substr(at + key.size(), kMaxTagLength);
    value = value.substr(0, value.find_first_of(std::string_view("\0\r\n", 3)));
    return std::string(value);
}

std::optional<std::string> SerialRom::FirmwareVersionTag() const {
    return ActiveImageTag("ORV-FW-VERSION=");
}

std::optional<std::uint32_t> SerialRom::LayoutVersionTag() const {
    const auto text = ActiveImageTag("ORV-LAYOUT=");
    std::uint32_t v = 0;
    if (!text || text->empty() ||
        std::from_chars(text->data(), text->data() + text->size(), v).ec != std::errc())
        return std::nullopt;
    return v;
}

}  // namespace orv::sim
