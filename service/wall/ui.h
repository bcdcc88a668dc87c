// COvwUI: the wall object. This part gives monitors their numbers: a monitor
// keeps the id saved under its name in the configuration file, a new one gets
// the lowest free id (1 to 1024), and the ids stay taken when monitors leave,
// so a monitor gets its number back whenever it reappears. The ids in use are
// a 1024-bit container persisted in the file.
//
// The control panel is told of monitors arriving and leaving through
// IPanelNotices, which the control-channel server provides; until one is
// attached, notices go nowhere.
//
// Threads: AssignMonitorId and MonitorLeaves come from adapter threads, the
// teardown calls from the device manager's thread, ReleaseMonitor from the
// control channel and the device manager. Locks, in the order they may nest:
//   idMutex_ (the container and the file's ids) -> mapMutex_ (the monitor map)
//   noticeMutex_ (NotifyMonitorChange, held while the panel is told): a leaf.
// None is held while a monitor changes mode.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/process_singleton.h"
#include "common/thread_annotations.h"
#include "platform/profile.h"
#include "service/adapter/monitor.h"
#include "service/adapter/monitor_registry.h"

namespace orv::wall {

inline constexpr int kMaxMonitorId = 1024;
inline constexpr std::size_t kContainerBytes = kMaxMonitorId / 8;
using MonitorIdContainer = std::array<std::uint8_t, kContainerBytes>;

inline constexpr char kContainerSection[] = "MONITOR_ID_CONTAINER";
inline constexpr char kContainerKey[] = "Container";
inline constexpr char kMonitorIdKey[] = "Monitor_Id";

// The container as stored: "%02X" per byte, byte 0 first.
std::string EncodeContainer(const MonitorIdContainer& container);
// Two characters per byte; '0'-'9' and 'A'-'F' give their value, anything
// else (lower case included) counts as 0; at most 256 digits are used.
MonitorIdContainer DecodeContainer(std::string_view text);

// What the panel is told (the 0x57 and 0x5D notices, the monitor list).
class IPanelNotices {
public:
    virtual ~IPanelNotices() = default;
    virtual void MonitorChanged(bool arrived, int monitorId) = 0;
    virtual void MonitorsRemoved(const std::vector<int>& monitorIds) = 0;
};

class COvwUI final : public adapter::IMonitorRegistry {
public:
    // Loads the container from `configPath` (writing "0" when there is none).
    explicit COvwUI(std::string configPath);

    // The process-wide wall object: created on first use, destroyed by the
    // device manager's stop.
    static COvwUI* Get();
    static void Destroy();

    int AssignMonitorId(adapter::COvwMonitor& monitor) override;
    void MonitorLeaves(adapter::COvwMonitor& monitor) override;
    void BeginAdapterTeardown(const std::vector<adapter::COvwMonitor*>& monitors) override;
    void EndAdapterTeardown() override;

    // Takes the lowest free id for `monitor` and saves it with the container.
    // -1 when all 1024 are taken.
    int AllocateMonitorId(adapter::COvwMonitor& monitor) REQUIRES(idMutex_);
    void NotifyMonitorChange(bool arrived, int monitorId);
    void NotifyMonitorsRemoved(const std::vector<int>& monitorIds);
    // Takes the monitor out of any wall and shows its number. 1 released, 0
    // unknown or being destroyed.
    int ReleaseMonitor(int monitorId);

    adapter::COvwMonitor* MonitorById(int monitorId) const;
    MonitorIdContainer Container() const;
    void SetPanelNotices(IPanelNotices* notices);

private:
    // Writes one value of the configuration file; a failure is logged.
    void Save(std::string_view section, std::string_view key, std::string_view value);

    platform::Profile config_;
    mutable Mutex idMutex_;
    MonitorIdContainer container_ GUARDED_BY(idMutex_){};

    mutable Mutex mapMutex_ ACQUIRED_AFTER(idMutex_);
    std::map<int, adapter::COvwMonitor*> monitors_ GUARDED_BY(mapMutex_);

    Mutex noticeMutex_;
    IPanelNotices* notices_ GUARDED_BY(noticeMutex_) = nullptr;
    std::atomic<int> notifyIndividually_{1};
};

}  // namespace orv::wall
