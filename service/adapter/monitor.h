// COvwMonitor: one monitor on one output port of an adapter.
//
// Created by its adapter when the adapter reports it, destroyed by the adapter
// when it leaves. Holds its place in the wall (set by the wall model), sends
// its view commands after every topology, hands frame packets to its adapter,
// collects frame acknowledgements for the frame pipeline and can show its
// monitor number full-screen (ShowDisplayID).
//
// Threads: created and destroyed on the adapter's threads; Place and
// IdentificationMode on the wall model's callers (they serialise with the
// adapter through its ModeSetLock); SendPacket on the send thread (under
// ModeSetLock); Acknowledge on the notification reader and the send thread;
// TakeAcknowledged on the frame pipeline. Locks: ackMutex_ (a leaf) guards the
// acknowledged list; the place fields (column, row, the placed bit) and the
// mode are written and read under the wall model's WallLayoutLock, which the
// frame thread holds while it routes (this target sits below the lock's).
// The mode, the wall flag and the view geometry are also written under the
// adapter's ModeSetLock (COvwAdapter::UnderModeSetLock): a mode set of the
// other monitor on the adapter reads them to send this one's view commands.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/thread_annotations.h"

namespace orv::adapter {

class COvwAdapter;

struct DisplayMode {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t bitsPerPixel = 0;
    std::uint8_t refresh = 0;
    std::uint8_t flags = 0;
    bool operator==(const DisplayMode&) const = default;
};

// The mode of a monitor that shows its identification picture.
inline constexpr DisplayMode kIdentificationMode{1280, 720, 32, 60, 0};

// The monitor's name: the adapter identity followed by the port bit in
// decimal. An identity shorter than 24 characters ends at its first NUL and
// the port follows right after it, so that every output of an adapter keeps a
// name of its own.
std::string MonitorName(bytes::ConstBytes identity24, int portBit);

class COvwMonitor {
public:
    static constexpr std::uint8_t kPlacedBit = 0x02;

    COvwMonitor(COvwAdapter& adapter, int portBit);
    COvwMonitor(const COvwMonitor&) = delete;
    COvwMonitor& operator=(const COvwMonitor&) = delete;

    // Wall model: stores the position; a negative column or row clears the
    // placed bit and sends nothing. A monitor not yet placed is switched to
    // `mode` for the wall (and committed) and marked placed; one already
    // placed keeps its mode. Returns 1.
    int Place(int column, int row, const DisplayMode& mode);
    // Back to 1280 x 720 for identification, then shows the monitor number.
    // Returns 0.
    int IdentificationMode();
    // The four view commands after a topology: 76, 63, 65, then 64 (in the
    // wall) or 62 (identification).
    void SendViewCommands();
    // Send thread: stamps the screen bit into frame packets, dumps the payload
    // when the dump folder exists, and writes the packet through the adapter.
    // True when the link accepted it.
    bool SendPacket(std::uint8_t* packet, std::uint32_t length);
    // Records a frame index as acknowledged. Returns 1.
    int Acknowledge(std::uint32_t frameIndex);
    // Frame pipeline: removes and returns the acknowledged indices.
    std::vector<std::uint32_t> TakeAcknowledged();
    // Frame pipeline: removes the acknowledgement of frame `frameNumber`
    // (its low 24 bits, as a FrameIndex carries them), and with it every
    // older one left by frames that timed out. True when it was there.
    bool TakeAcknowledgedFrame(std::uint32_t frameNumber);
    // Acknowledgements kept at most; the oldest go first.
    static constexpr std::size_t kMaxAcknowledged = 64;
    // Writes the show-frame command unless the adapter sent this number last.
    void ShowFrame(std::uint32_t frameNumber);
    // Full-screen monitor number, written straight to the adapter (not through
    // the send queue).
    void ShowDisplayID(int monitorId, int screenIndex);

    // The EDID read at creation.
    void SetEdid(bytes::ConstBytes edid);
    bool HasEdid() const { return hasEdid_ != 0; }
    bytes::ConstBytes Edid() const { return {edid_.data(), HasEdid() ? edidLength_ : 0u}; }

    COvwAdapter& Adapter() const { return adapter_; }
    const std::string& Name() const { return name_; }
    int PortBit() const { return portBit_; }
    int MonitorId() const { return monitorId_; }
    void SetMonitorId(int id) { monitorId_ = id; }
    int ScreenIndex() const { return screenIndex_; }
    int& ScreenIndexRef() { return screenIndex_; }
    int Column() const { return column_; }
    int Row() const { return row_; }
    void SetColumn(int column) { column_ = column; }
    bool Placed() const { return (stateFlags_ & kPlacedBit) != 0; }
    void ClearPlaced() { stateFlags_ &= static_cast<std::uint8_t>(~kPlacedBit); }
    bool Removed() const { return removed_ != 0; }
    void MarkRemoved() { removed_ = 1; }
    int WallFlag() const { return wallFlag_; }
    int ModeClass() const { return modeClass_; }
    void SetModeClass(int modeClass) { modeClass_ = modeClass; }
    const DisplayMode& CurrentMode() const { return currentMode_; }
    // The wall model's sizes: the cell (region) and the output (wall) size.
    void SetWallGeometry(std::uint16_t regionW, std::uint16_t regionH, std::uint16_t wallW,
                         std::uint16_t wallH);

private:
    COvwAdapter& adapter_;
    const int portBit_;
    const std::string name_;
    std::atomic<int> monitorId_{0};
    int column_ = -1;
    int row_ = -1;
    std::uint8_t stateFlags_ = 0;
    int hasEdid_ = 0;
    std::array<std::uint8_t, 256> edid_{};
    std::uint32_t edidLength_ = 0;
    int modeClass_ = 2;
    std::uint16_t regionWidth_ = 0, regionHeight_ = 0;
    std::uint16_t wallWidth_ = 0, wallHeight_ = 0;
    std::atomic<int> removed_{0};
    int wallFlag_ = 0;
    int screenIndex_ = -1;
    DisplayMode currentMode_{};

    Mutex ackMutex_;
    std::vector<std::uint32_t> acknowledged_ GUARDED_BY(ackMutex_);
};

}  // namespace orv::adapter
