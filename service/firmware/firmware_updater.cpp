#include "service/firmware/firmware_updater.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "service/log/logger.h"

namespace orv::firmware {
namespace {

using adapter::Packet;
using adapter::ReplyFault;
using adapter::SromInfo;
using adapter::SromRegion;
using log::ServiceLog;

// The SromInfo read is answered into a buffer of this size.
constexpr std::size_t kSromInfoReplyBuffer = 1024;

// The four image update steps, indexed by their region.
struct ImageStep {
    std::string_view file;
    bool oneWrite;  // boot loaders; firmware goes in chunks
    const char* entryLine;
    const char* exitLine;  // takes the result
    const char* openFailedLine;
    const char* tooLargeLine;
};
constexpr ImageStep kSteps[] = {
    {kBootLoader0File, true, "++COvwAdapter::UpdateBL0()++\n",
     "--COvwAdapter::UpdateBL0(), Result=%d--\n", "Failed to open BL0.\n",
     "BL0 binary size more than SROM reserved BL0 size.\n"},
    {kBootLoader1File, true, "++COvwAdapter::UpdateBL1()++\n",
     "--COvwAdapter::UpdateBL1(), Result=%d--\n", "Failed to open BL1.\n",
     "BL1 binary size more than SROM reserved BL1 size.\n"},
    {kFirmware0File, false, "++COvwAdapter::UpdateFw0()++\n",
     "--COvwAdapter::UpdateFw0(), result=%d--\n", "Failed to open FW0.\n",
     "FW0 binary size more than SROM reserved FW0 size.\n"},
    {kMainFirmwareFile, false, "++COvwAdapter::UpdateFw1()++\n",
     "--COvwAdapter::UpdateFw1(), result=%d--\n", "Failed to open FW1.\n",
     "FW1 binary size more than SROM reserved FW1 size.\n"},
};
static_assert(std::size(kSteps) == adapter::kRegionMainSlot1 + 1);

std::size_t TransferLimit(bool oneWrite) {
    return oneWrite ? kMaxSingleWriteImage : kMaxChunkedImage;
}

// The size of the regular file at `path`; false when it cannot be opened.
bool ImageFileSize(const std::string& path, std::uint64_t& size) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || !std::ifstream(path, std::ios::binary))
        return false;
    size = std::filesystem::file_size(path, ec);
    return !ec;
}

// Reads exactly `size` bytes (the size measured before the checks).
bool ReadImageFile(const std::string& path, std::uint64_t size, std::vector<std::uint8_t>& data) {
    std::ifstream in(path, std::ios::binary);
    data.resize(size);
    return in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size))
               .good() ||
           size == 0;
}

bool Overlaps(std::uint64_t a, std::uint64_t aSize, std::uint64_t b, std::uint64_t bSize) {
    return aSize != 0 && bSize != 0 && a < b + bSize && b < a + aSize;
}

// A region may be written when its range stays inside 32-bit addresses and
// covers neither SromInfo copy (nor `keep`, when given).
bool RegionUsable(const SromRegion& r, const SromRegion* keep = nullptr) {
    const std::uint64_t end = std::uint64_t{r.address} + r.reservedSize;
    bool ok = end <= (std::uint64_t{1} << 32);
    for (std::uint32_t copy : {adapter::kSromInfoAddress, adapter::kSromInfoBackupAddress})
        ok = ok && !Overlaps(r.address, r.reservedSize, copy, adapter::kSromInfoSize);
    if (keep != nullptr)
        ok = ok && !Overlaps(r.address, r.reservedSize, keep->address, keep->reservedSize);
    if (!ok)
        ServiceLog("SROM region at 0x%X with reserved size 0x%X is not usable.\n", r.address,
                   r.reservedSize);
    return ok;
}

// Logs and returns false when an image of `size` bytes may not be written
// into `region`: larger than the region or the transfer limit, or a region
// that cannot be trusted.
bool ImageFits(const SromInfo& info, std::size_t region, std::uint64_t size, std::size_t limit,
               const char* tooLargeLine, const SromRegion* keep = nullptr) {
    const SromRegion r = info.Region(region);
    if (size > r.reservedSize) {
        ServiceLog("%s", tooLargeLine);
        return false;
    }
    if (size > limit) {
        ServiceLog("Firmware binary size %llu more than the transfer buffer takes (%zu).\n",
                   static_cast<unsigned long long>(size), limit);
        return false;
    }
    return RegionUsable(r, keep);
}

// The text up to and including the last '/', or "" when there is none.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

long long ComponentValue(const std::string& digits) {
    return std::strtoll(digits.c_str(), nullptr, 10);
}

}  // namespace

bool VersionsEqual(std::string_view adapterVersion, std::string_view registryVersion) {
    const std::string_view a =
        adapterVersion.substr(std::min<std::size_t>(2, adapterVersion.size()));
    std::string adapterPart;
    std::string registryPart;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == '.') {
            if (ComponentValue(adapterPart) != ComponentValue(registryPart)) return false;
            adapterPart.clear();
            registryPart.clear();
            continue;
        }
        adapterPart += a[i];
        if (i < registryVersion.size()) registryPart += registryVersion[i];
    }
    // A longer registry string carries digits the walk never looked at
    // ("1400.12" against "1400.1"): that is another version.
    if (registryVersion.size() > a.size()) return false;
    return ComponentValue(adapterPart) == ComponentValue(registryPart);
}

// ---------------------------------------------------------------- exchanges

bytes::ConstBytes COvwFirmwareUpdater::Exchange(Packet& request, std::vector<std::uint8_t>& reply,
                                                int& linkResult) {
    auto requestLength = static_cast<std::uint32_t>(request.size());
    auto replyLength = static_cast<std::uint32_t>(reply.size());
    linkResult = link_.Transact(adapter::kPipeOutCommands, request.data(), requestLength,
                                adapter::kPipeInReply, reply.data(), replyLength);
    return bytes::ConstBytes(reply).first(std::min<std::size_t>(replyLength, reply.size()));
}

bool COvwFirmwareUpdater::SromWrite(std::uint32_t address, bytes::ConstBytes data,
                                    std::vector<std::uint8_t>& reply) {
    Packet request = adapter::BuildSromWrite(address, data);
    int result = 0;
    const bytes::ConstBytes received = Exchange(request, reply, result);
    return adapter::CheckSromReply(result, received) == ReplyFault::kNone;
}

bool COvwFirmwareUpdater::WriteSromInfoAt(const SromInfo& info, std::uint32_t address) {
    const SromInfo::Raw raw = info.Build();
    std::vector<std::uint8_t> reply(adapter::kSromInfoRequestSize);
    return SromWrite(address, raw, reply);
}

bool COvwFirmwareUpdater::WriteRegion(std::size_t region, bytes::ConstBytes image, bool oneWrite,
                                      SromInfo& info) {
    SromRegion r = info.Region(region);
    r.writtenSize = static_cast<std::uint32_t>(image.size());
    r.checksum = adapter::ImageChecksum(image);
    info.SetRegion(region, r);

    std::vector<std::uint8_t> reply(kTransferBufferSize);
    if (oneWrite) return SromWrite(r.address, image, reply);
    // The callers checked that the image fits the region, so the addresses
    // cannot wrap.
    for (std::size_t done = 0; done < image.size(); done += kFirmwareChunkSize) {
        const std::size_t n = std::min(kFirmwareChunkSize, image.size() - done);
        if (!SromWrite(r.address + static_cast<std::uint32_t>(done), image.subspan(done, n), reply))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- queries

int COvwFirmwareUpdater::CheckFirmware(std::string& firmwareVersionText) {
    Packet request = adapter::BuildVersionQuery(adapter::kVersionFirmware);
    std::vector<std::uint8_t> reply(adapter::kVersionReplyBuffer);
    int result = 0;
    const bytes::ConstBytes received = Exchange(request, reply, result);
    if (adapter::CheckVersionReply(result, received, adapter::kVersionFirmware) !=
        ReplyFault::kNone)
        return 1;

    const std::string version = adapter::VersionText(received);
    if (version.compare(0, kProductLine.size(), kProductLine) != 0) {
        ServiceLog("FW version is not valid, not support current host software.\n");
        return 1;
    }
    std::string installed;  // stays empty when unreadable
    registry_.ReadString(platform::kInfoKey, kValueFirmwareVersion, installed,
                         platform::kRegVersionMaxBytes);
    const bool equal = VersionsEqual(version, installed);
    firmwareVersionText = version;

    if (equal) {
        ServiceLog(" FW version is latest, version number is: %s.\n", version.c_str());
    } else if (GetAndCompareLayoutVersion()) {
        ServiceLog(
            "+ FW version is old, version number is: %s, it will be update in the background +\n",
            version.c_str());
        UpdateFWOnly();
    } else {
        ServiceLog(
            "+ FW layout version is changed, version number is: %s, need to do full-update +\n",
            version.c_str());
        ServiceLog(FullUpdate() ? "Firmware full update successful.\n"
                                : "Firmware full update failure.\n");
    }
    return 0;
}

bool COvwFirmwareUpdater::GetAndCompareLayoutVersion() {
    ServiceLog("- Query version,GetAndCompareLayoutVersion:Begin -\n");
    Packet request = adapter::BuildVersionQuery(adapter::kVersionLayout);
    std::vector<std::uint8_t> reply(adapter::kVersionReplyBuffer);
    int result = 0;
    const bytes::ConstBytes received = Exchange(request, reply, result);
    if (adapter::CheckVersionReply(result, received, adapter::kVersionLayout) != ReplyFault::kNone)
        return false;
    std::string installed;
    if (registry_.ReadString(platform::kInfoKey, kValueLayoutVersion, installed,
                             platform::kRegVersionMaxBytes) != platform::kErrorSuccess)
        return false;
    const std::uint32_t layout = adapter::LayoutVersion(received);
    ServiceLog("Currnet fw layout version: %d.\n", static_cast<int>(layout));
    return ComponentValue(installed) == static_cast<long long>(layout);
}

bool COvwFirmwareUpdater::ReadSROMInfo(SromInfo& info) {
    ServiceLog("++COvwAdapter::ReadSROMInfo()++\n");
    info = SromInfo{};
    Packet request =
        adapter::BuildSromRead(adapter::kSromInfoAddress, adapter::kSromInfoSize, true);
    std::vector<std::uint8_t> reply(kSromInfoReplyBuffer);
    int result = 0;
    const bytes::ConstBytes received = Exchange(request, reply, result);
    bool ok = false;
    if (adapter::CheckSromReply(result, received, adapter::kSromInfoSize) == ReplyFault::kNone) {
        const auto parsed = SromInfo::Parse(received.subspan(adapter::kOffSromData));
        if (parsed && parsed->ChecksumValid()) {
            info = *parsed;
            ok = true;
        } else {
            ServiceLog("SROM INFO Structure checksum error.\n");
        }
    }
    ServiceLog("--COvwAdapter::ReadSROMInfo(), result=%d.--\n", ok ? 1 : 0);
    return ok;
}

bool COvwFirmwareUpdater::FirmwarePath(std::string& path) const {
    return registry_.ReadString({platform::kInfoKey, platform::kInfoKeyWow}, kValueFirmwarePath,
                                path) == platform::kErrorSuccess;
}

// ---------------------------------------------------------------- updates

bool COvwFirmwareUpdater::CheckSROMLayout(const std::string& folder, const SromInfo& info) {
    ServiceLog("++COvwAdapter::CheckSROMLayout()++\n");
    bool ok = true;
    for (std::size_t region = 0; ok && region < std::size(kSteps); ++region) {
        const ImageStep& step = kSteps[region];
        std::uint64_t size = 0;
        if (!ImageFileSize(folder + std::string(step.file), size)) {
            ServiceLog("%s", step.openFailedLine);
            ok = false;
        } else {
            ok = ImageFits(info, region, size, TransferLimit(step.oneWrite), step.tooLargeLine);
        }
    }
    ServiceLog("--COvwAdapter::CheckSROMLayout()--\n");
    return ok;
}

bool COvwFirmwareUpdater::UpdateImage(std::size_t region, const std::string& path, SromInfo& info) {
    const ImageStep& step = kSteps[region];
    ServiceLog("%s", step.entryLine);
    std::uint64_t size = 0;
    std::vector<std::uint8_t> image;
    bool ok = ImageFileSize(path, size);
    if (ok) {
        ok = ImageFits(info, region, size, TransferLimit(step.oneWrite), step.tooLargeLine);
        if (ok && !ReadImageFile(path, size, image)) {
            ServiceLog("%s", step.openFailedLine);
            ok = false;
        }
    } else {
        ServiceLog("%s", step.openFailedLine);
    }
    ok = ok && WriteRegion(region, image, step.oneWrite, info);
    ServiceLog(step.exitLine, ok ? 1 : 0);
    return ok;
}

bool COvwFirmwareUpdater::UpdateBL0(const std::string& path, SromInfo& info) {
    return UpdateImage(adapter::kRegionBootLoader0, path, info);
}
bool COvwFirmwareUpdater::UpdateBL1(const std::string& path, SromInfo& info) {
    return UpdateImage(adapter::kRegionBootLoader1, path, info);
}
bool COvwFirmwareUpdater::UpdateFw0(const std::string& path, SromInfo& info) {
    return UpdateImage(adapter::kRegionFirmware0, path, info);
}
bool COvwFirmwareUpdater::UpdateFw1(const std::string& path, SromInfo& info) {
    return UpdateImage(adapter::kRegionMainSlot1, path, info);
}

bool COvwFirmwareUpdater::FullUpdate() {
    SromInfo info;
    if (!ReadSROMInfo(info)) return false;
    std::string path;
    if (!FirmwarePath(path)) {
        ServiceLog("Failed to get binary path.\n");
        return false;
    }
    const std::string folder = FolderOf(path);
    if (!CheckSROMLayout(folder, info)) return false;
    if (!UpdateBL0(folder + std::string(kBootLoader0File), info) ||
        !UpdateBL1(folder + std::string(kBootLoader1File), info) ||
        !UpdateFw0(folder + std::string(kFirmware0File), info) ||
        !UpdateFw1(folder + std::string(kMainFirmwareFile), info))
        return false;

    ServiceLog("Update SROM INFO Structure.\n");
    info.SetActiveSlot(1);
    if (!WriteSromInfoAt(info, adapter::kSromInfoAddress)) {
        ServiceLog("Failed to update SROM INFO Structure.\n");
        return false;
    }
    ServiceLog("Update SROM INFO Structure successful.\n");
    if (!WriteSromInfoAt(info, adapter::kSromInfoBackupAddress)) {
        ServiceLog("Failed to update SROM INFO Structure BACKUP.\n");
        return false;
    }
    ServiceLog("Update SROM INFO Structure BACKUP successful.\n");
    return true;
}

bool COvwFirmwareUpdater::UpdateFWOnly() {
    ServiceLog("++COvwAdapter::UpdateFWOnly()++\n");
    const bool ok = UpdateFWOnlySteps();
    ServiceLog("--COvwAdapter::UpdateFWOnly(), result=%d.--\n", ok ? 1 : 0);
    return ok;
}

bool COvwFirmwareUpdater::UpdateFWOnlySteps() {
    std::string path;
    if (!FirmwarePath(path)) {
        ServiceLog("Failed to get firmware path.\n");
        return false;
    }
    // Without a trustworthy SromInfo there is no slot to choose, and writing
    // one back would overwrite the adapter's with zeros.
    SromInfo info;
    if (!ReadSROMInfo(info)) return false;
    std::uint64_t size = 0;
    if (!ImageFileSize(path, size)) {
        ServiceLog("Failed to open firmware binary.\n");
        return false;
    }

    // The inactive slot; the running one must survive the write.
    const bool toSlot2 = info.ActiveSlot() == 1;
    const std::size_t target = toSlot2 ? adapter::kRegionMainSlot2 : adapter::kRegionMainSlot1;
    const SromRegion running =
        info.Region(toSlot2 ? adapter::kRegionMainSlot1 : adapter::kRegionMainSlot2);
    if (!ImageFits(info, target, size, kMaxChunkedImage,
                   "Firmware binary size more than SROM reserved firmware size.\n", &running))
        return false;
    std::vector<std::uint8_t> image;
    if (!ReadImageFile(path, size, image)) {
        ServiceLog("Failed to open firmware binary.\n");
        return false;
    }

    if (!WriteRegion(target, image, false, info)) return false;
    info.SetActiveSlot(toSlot2 ? 2 : 1);
    return WriteSromInfoAt(info, adapter::kSromInfoAddress) &&
           WriteSromInfoAt(info, adapter::kSromInfoBackupAddress);
}

int CheckAdapterFirmware(link::COvwCommBase& link, std::string& firmwareVersionText) {
    const platform::Registry registry = platform::Registry::Load();
    return COvwFirmwareUpdater(link, registry).CheckFirmware(firmwareVersionText);
}

}  // namespace orv::firmware
