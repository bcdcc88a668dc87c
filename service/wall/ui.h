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
// The wall half: BuildWall makes a WallGrid and asks the display driver for
// the wall's view, ApplyWallLayout places the monitors that the wall records
// name into its cells, DestroyWall tears it down. The wall records (which
// monitor goes to which cell) come from IWallRecords, which the
// control-channel server provides (or, for tests, the registry test seam).
// The wall object owns the server. ChangeMonitorId, SaveConfiguration and
// RestoreConfiguration keep ids and the saved wall in the configuration file.
//
// A monitor leaves in two phases: MonitorLeaves first removes it, under
// WallLayoutLock, from every grid cell and from every frame still waiting
// for acknowledgements; only then does its adapter destroy it. No pointer to
// a destroyed monitor is left for a frame thread to follow.
//
// Threads: AssignMonitorId and MonitorLeaves come from adapter threads, the
// teardown calls from the device manager's thread, ReleaseMonitor from the
// control channel and the device manager; BuildWall, ApplyWallLayout and
// DestroyWall from the control channel, the restore (or the test seam), and
// DestroyWall(1) from the driver channel's worker when the driver is lost.
// Locks, in the order they may nest:
//   the driver channel's list lock (BuildWall, DestroyWall)
//     -> WallLayoutLock (placing and releasing; unlinking views;
//        MonitorLeaves; a monitor's place fields)
//       -> an adapter's ModeSetLock (placing), viewMapMutex_, wallIdMutex_,
//          mapMutex_
//   idMutex_ (the container and the file's ids) -> mapMutex_ (the monitor map)
//   noticeMutex_ (NotifyMonitorChange, held while the panel is told)
//     -> the control channel's send and list locks
//   WallLayoutLock -> the control channel's list lock (ApplyWallLayout reads
//     the wall records under it)
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/thread_annotations.h"
#include "platform/profile.h"
#include "platform/session_launcher.h"
#include "service/adapter/monitor.h"
#include "service/adapter/monitor_registry.h"
#include "service/driver/driver_channel.h"
#include "service/wall/wall_grid.h"

namespace orv::wall {

inline constexpr int kMaxMonitorId = 1024;
inline constexpr std::size_t kContainerBytes = kMaxMonitorId / 8;
using MonitorIdContainer = std::array<std::uint8_t, kContainerBytes>;

inline constexpr char kContainerSection[] = "MONITOR_ID_CONTAINER";
inline constexpr char kContainerKey[] = "Container";
inline constexpr char kMonitorIdKey[] = "Monitor_Id";
// A saved wall: section kWallSectionPrefix + wall id, its kWallInfoKey value
// (kWallInfoSize bytes) and one cell value (kCellSize bytes) per placed
// monitor, under the monitor's name. Structures of little-endian i32.
inline constexpr char kWallSectionPrefix[] = "VIDEO_WALL_";
inline constexpr char kWallInfoKey[] = "VideoWallInfo";
inline constexpr std::size_t kWallInfoSize = 36;  // id, total w/h, monitor w/h, cols, rows,
                                                  // zone template, pixel mode
inline constexpr std::size_t kCellSize = 16;      // monitor id, column, row, cell index
// The desktop refresh helper, next to the service program.
inline constexpr char kRefreshHelperProgram[] = "vosqueth";

// The container as stored: "%02X" per byte, byte 0 first.
std::string EncodeContainer(const MonitorIdContainer& container);
// Two characters per byte; '0'-'9' and 'A'-'F' give their value, anything
// else (lower case included) counts as 0; at most 256 digits are used.
MonitorIdContainer DecodeContainer(std::string_view text);

// What the panel is told (the 0x57, 0x5D and 0x51 notices, the monitor list).
// The wall object calls these under its notice lock.
class IPanelNotices {
public:
    virtual ~IPanelNotices() = default;
    // Keeps the panel's monitor list in step (an arrived monitor is appended
    // out of any wall; a left one leaves the list and its wall's cells) and,
    // when `tell`, sends the 0x57 notice to a connected panel.
    virtual void MonitorChanged(bool arrived, int monitorId, bool tell) = 0;
    // The 0x5D notice for the monitors of an adapter being torn down.
    virtual void MonitorsRemoved(const std::vector<int>& monitorIds) = 0;
    // The 0x51 notice: the display driver is gone. False when no panel is
    // connected or the send failed.
    virtual bool DriverLost() = 0;
};

// One cell record of a wall: the monitor that shows cell (column, row), and
// the panel's index of that cell.
struct CellPlacement {
    int monitorId = 0;
    int column = -1;
    int row = -1;
    int cellIndex = 0;
};

// A wall record with the fields the configuration file keeps.
struct WallDescription {
    int wallId = 1;
    int totalWidth = -1;
    int totalHeight = -1;
    int monitorWidth = -1;
    int monitorHeight = -1;
    int columns = -1;
    int rows = -1;
    int zoneTemplate = 0;
    int pixelMode = 0;
    std::vector<CellPlacement> cells;
};

// The walls the panel described (its WallRecords and their cells).
class IWallRecords {
public:
    virtual ~IWallRecords() = default;
    // The cells of every wall record, one list per record.
    virtual std::vector<std::vector<CellPlacement>> Walls() const = 0;
    // Removes the record of `wallId` with its cells and takes every monitor
    // out of its cell in the monitor list; returns the cells' monitor ids.
    virtual std::vector<int> RemoveWall(int wallId) = 0;
    // Every wall record, for saving. A source without descriptions (the test
    // seam) has nothing to save.
    virtual std::vector<WallDescription> Descriptions() const { return {}; }
    // A wall rebuilt from the configuration file: appended to the records,
    // and its cells copied into the monitor list.
    virtual void AddRestoredWall(const WallDescription&) {}
    // The panel's selection value.
    virtual void SetSelection(int) {}
};

// The control-channel server: the wall records and the panel's notices.
class IControlChannel : public IWallRecords, public IPanelNotices {
public:
    // Ends the server's thread; afterwards it calls nothing of the wall
    // object. Idempotent.
    virtual void Stop() = 0;
};

class COvwUI final : public adapter::IMonitorRegistry {
public:
    static constexpr int kMaxWalls = 256;

    // Loads the container from `configPath` (writing "0" when there is none).
    // With `driver`, starts the display-driver channel; when its driver is
    // lost, wall 1 is destroyed.
    explicit COvwUI(std::string configPath,
                    std::optional<driver::DriverChannelOptions> driver = std::nullopt);
    // Stops the control channel's thread, then the driver channel (every
    // view dropped), then the test seam's thread, and frees the grids.
    ~COvwUI() override;

    // The control-channel server, owned: the panel's notices go to it, and
    // it holds the wall records unless a test seam was set.
    void SetControlChannel(std::unique_ptr<IControlChannel> channel);
    // A test seam as the wall records, owned, in place of the control
    // channel's. Set before the control channel's thread starts.
    void SetWallRecords(std::unique_ptr<IWallRecords> records);
    driver::COvwCommDriver* DriverChannel() const { return driver_.get(); }

    // Makes a grid, takes the lowest free VWID and has the driver create the
    // view. The VWID, or -1 (no free VWID, no driver, the driver refused, or
    // more than kMaxWallMonitors cells).
    int BuildWall(int columns, int rows, int totalWidth, int totalHeight, int monitorWidth,
                  int monitorHeight);
    // What the caller of a successful BuildWall records: the current wall.
    void SetCurrentWall(int vwid);
    // The panel destroyed the wall: no wall is built any more.
    void ClearWallBuilt() { wallBuilt_ = 0; }
    int CurrentVwid() const { return currentVwid_; }
    bool WallBuilt() const { return wallBuilt_ != 0; }
    // 0 done or nothing to do, 4 no such wall.
    int DestroyWall(int vwid);
    // Places every cell's monitor into the current wall.
    void ApplyWallLayout();
    // The grid of `vwid`, or nullptr.
    WallGrid* GridByVwid(int vwid) const;

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

    // The panel's 0x14: kIdChanged (the monitor with `oldId` now has
    // `newId`; a saved monitor that held it loses its section),
    // kIdsExchanged (an attached monitor in no wall had `newId`; the two
    // swapped), or kIdRefused: the holder of `newId` is placed, no attached
    // monitor has `oldId`, or `newId` is not 1 to 1024. Nothing changes on
    // kIdRefused.
    static constexpr int kIdChanged = 1;
    static constexpr int kIdRefused = 2;
    static constexpr int kIdsExchanged = 3;
    int ChangeMonitorId(int oldId, int newId);

    // Starts the desktop refresh helper (vosqueth, next to the service
    // program) in the console user's session; nothing when no one is logged
    // on. Not waited for. Control-channel thread only.
    void LaunchRefreshHelper();

    // Replaces the wall sections of the configuration file with the wall
    // records and their cells whose monitors are attached now.
    void SaveConfiguration();
    // Rebuilds the saved walls at start: for each wall section, waits for
    // the display driver (up to kRestoreDriverWaits x kRestoreDriverWaitMs,
    // through `pause`, which returns false when the service stops), builds
    // the wall and places its attached monitors. The first wall that cannot
    // be built ends the restore. A value that fails its length or checksum
    // is skipped with a log line.
    static constexpr int kRestoreDriverWaits = 10;
    static constexpr int kRestoreDriverWaitMs = 2000;
    void RestoreConfiguration(const std::function<bool(int ms)>& pause);

    adapter::COvwMonitor* MonitorById(int monitorId) const;
    MonitorIdContainer Container() const;

private:
    // Placing `m` at (column, row) of `grid`.
    void PlaceMonitor(WallGrid& grid, adapter::COvwMonitor& m, int column, int row)
        REQUIRES(WallLayoutLock);
    int AllocateVwid();
    void FreeVwid(int vwid);
    void DriverLost();
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

    std::atomic<int> currentVwid_{-1};
    std::atomic<int> wallBuilt_{0};
    Mutex wallIdMutex_ ACQUIRED_AFTER(WallLayoutLock);
    std::array<std::uint8_t, kMaxWalls / 8> wallIdMap_ GUARDED_BY(wallIdMutex_){};
    mutable Mutex viewMapMutex_ ACQUIRED_AFTER(WallLayoutLock);
    std::map<int, std::unique_ptr<WallGrid>> viewMap_ GUARDED_BY(viewMapMutex_);

    // records_ is the seam when one is set, else the control channel; both
    // are set before any thread reads them and cleared only after every
    // thread that reads them has ended.
    std::unique_ptr<IControlChannel> channel_;
    std::unique_ptr<IWallRecords> seam_;
    IWallRecords* records_ = nullptr;
    std::unique_ptr<driver::COvwCommDriver> driver_;
    std::unique_ptr<platform::SessionLauncher> launcher_;
};

}  // namespace orv::wall
