#include "service/adapter/monitor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "codec/encode/picture_encoder.h"
#include "platform/paths.h"
#include "service/adapter/adapter.h"
#include "service/adapter/display_id.h"
#include "service/link/adapter_commands.h"
#include "service/log/logger.h"

namespace orv::adapter {

using orv::log::ServiceLog;

namespace {

constexpr std::size_t kIdentificationPacketSize = 5u * 1024u * 1024u;
constexpr std::size_t kReservedAcks = 1024;

// Numbers the dump files of all monitors.
std::atomic<int> g_dumpCounter{0};

// Writes the payload of a packet to the dump folder when that folder exists
// (a developer creates it to capture what goes to the adapters).
void DumpPayload(int portBit, const std::uint8_t* packet, std::uint32_t length) {
    const int counter = g_dumpCounter.fetch_add(1);
    if (length <= kHeaderSize) return;
    const std::string folder = platform::DumpDir();
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    char name[64];
    std::snprintf(name, sizeof name, "/EcoderData_%d_%d", portBit, counter);
    const int fd = open((folder + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    (void)!write(fd, packet + kHeaderSize, length - kHeaderSize);
    close(fd);
}

}  // namespace

std::string MonitorName(bytes::ConstBytes identity24, int portBit) {
    std::string name;
    for (std::size_t i = 0; i < identity24.size() && i < kIdentitySize && identity24[i] != 0; ++i)
        name += static_cast<char>(identity24[i]);
    return name + std::to_string(portBit);
}

COvwMonitor::COvwMonitor(COvwAdapter& adapter, int portBit)
    : adapter_(adapter), portBit_(portBit), name_(MonitorName(adapter.Identity(), portBit)) {
    acknowledged_.reserve(kReservedAcks);
}

void COvwMonitor::SetEdid(bytes::ConstBytes edid) {
    if (edid.size() != 128 && edid.size() != 256) return;
    edid_.fill(0);
    std::memcpy(edid_.data(), edid.data(), edid.size());
    edidLength_ = static_cast<std::uint32_t>(edid.size());
    hasEdid_ = 1;
}

void COvwMonitor::SetWallGeometry(std::uint16_t regionW, std::uint16_t regionH, std::uint16_t wallW,
                                  std::uint16_t wallH) {
    adapter_.UnderModeSetLock([&] {
        regionWidth_ = regionW;
        regionHeight_ = regionH;
        wallWidth_ = wallW;
        wallHeight_ = wallH;
    });
}

int COvwMonitor::Place(int column, int row, const DisplayMode& mode) {
    column_ = column;
    row_ = row;
    if (column < 0 || row < 0) {
        ClearPlaced();
        return 1;
    }
    if (!Placed()) {
        adapter_.UnderModeSetLock([&] {
            wallFlag_ = 1;
            currentMode_ = mode;
        });
        if (adapter_.monitorcallSetMode(portBit_, screenIndex_, mode, 1, 0) == 0) adapter_.Commit();
        stateFlags_ |= kPlacedBit;
    }
    return 1;
}

int COvwMonitor::IdentificationMode() {
    adapter_.UnderModeSetLock([&] {
        currentMode_ = kIdentificationMode;
        wallFlag_ = 0;
    });
    if (adapter_.monitorcallSetMode(portBit_, screenIndex_, currentMode_, 0, 1) == 0)
        adapter_.Commit();
    ShowDisplayID(monitorId_, screenIndex_);
    return 0;
}

void COvwMonitor::SendViewCommands() {
    link::COvwCommBase* link = adapter_.Link();
    if (link == nullptr) return;
    for (std::uint8_t viewType :
         {type::kViewGeometry76, type::kViewGeometry63, type::kViewGeometry65})
        link::SendControlCommand(*link, viewType,
                                 ViewGeometryBody(viewType, screenIndex_, regionWidth_,
                                                  regionHeight_, wallWidth_, wallHeight_));
    const std::uint8_t modeType = wallFlag_ == 1 ? type::kViewMode64 : type::kViewMode62;
    link::SendControlCommand(
        *link, modeType,
        ViewModeBody(modeType, screenIndex_, currentMode_.width, currentMode_.height, regionWidth_,
                     regionHeight_, wallWidth_, wallHeight_));
}

bool COvwMonitor::SendPacket(std::uint8_t* packet, std::uint32_t length) {
    const bytes::MutBytes view(packet, length);
    std::uint8_t dataType = 0xFF;
    std::uint32_t word = 0;
    if (bytes::GetU8(view, kOffDataType, dataType) && IsFramePacketType(dataType) &&
        bytes::GetU32(view, kOffControlWord, word))
        bytes::PutU32(view, kOffControlWord, WithScreenBit(word, screenIndex_));
    DumpPayload(portBit_, packet, length);
    return adapter_.WritePacket(packet, length);
}

int COvwMonitor::Acknowledge(std::uint32_t frameIndex) {
    MutexLock lock(ackMutex_);
    // Acknowledgements nobody waits for (their frame timed out, or no frame
    // pipeline runs) must not pile up.
    if (acknowledged_.size() >= kMaxAcknowledged) acknowledged_.erase(acknowledged_.begin());
    acknowledged_.push_back(frameIndex);
    return 1;
}

bool COvwMonitor::TakeAcknowledgedFrame(std::uint32_t frameNumber) {
    constexpr std::uint32_t kMask = 0xFFFFFF;
    const std::uint32_t wanted = frameNumber & kMask;
    bool found = false;
    MutexLock lock(ackMutex_);
    std::erase_if(acknowledged_, [&](std::uint32_t index) {
        const std::uint32_t behind = (wanted - (index >> 8)) & kMask;
        if (behind == 0) found = true;
        // Frame numbers up to half the 24-bit range behind are stale.
        return behind < (kMask + 1) / 2;
    });
    return found;
}

std::vector<std::uint32_t> COvwMonitor::TakeAcknowledged() {
    std::vector<std::uint32_t> out;
    out.reserve(kReservedAcks);
    MutexLock lock(ackMutex_);
    out.swap(acknowledged_);
    return out;
}

void COvwMonitor::ShowFrame(std::uint32_t frameNumber) {
    adapter_.ShowFrame(frameNumber);
}

void COvwMonitor::ShowDisplayID(int monitorId, int screenIndex) {
    ServiceLog("++COvwMonitor::ShowDisplayID(),MonitorID=%d.++\n", monitorId);
    std::vector<std::uint8_t> picture(kDisplayIdBytes);
    if (!ComposeDisplayIdPicture(monitorId, picture)) {
        ServiceLog("COvwMonitor::ShowDisplayID():Failed to composite background\n");
    } else if (link::COvwCommBase* link = adapter_.Link()) {
        codec::PictureEncoder encoder;
        codec::PictureDescriptor d;
        d.pixels = picture;
        d.width = kDisplayIdWidth;
        d.height = kDisplayIdHeight;
        d.stride = kDisplayIdWidth * 4;
        d.bitsPerPixel = 32;
        d.compressionCode = kCompressRaw;
        std::vector<std::uint8_t> packet(kIdentificationPacketSize);
        std::uint32_t length =
            encoder.EncodeFramePacket(d, static_cast<unsigned>(screenIndex & 1), packet);
        if (length == 0)
            ServiceLog("COvwMonitor::ShowDisplayID():Failed to encode the picture\n");
        else if (const int r = link->Write(kPipeOutCommands, packet.data(), length);
                 r != link::kLinkOk)
            ServiceLog("COvwMonitor::ShowDisplayID():link write failed, result=%d\n", r);
    }
    ServiceLog("--COvwMonitor::ShowDisplayID(),MonitorID=%d.--\n", monitorId);
}

}  // namespace orv::adapter
