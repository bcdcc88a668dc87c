// The panel's model of the service's walls and monitors, and every decision
// of the main dialog that needs no window: which requests a command sends,
// which message it shows, and how the service's answers and notices change
// the model.
//
// MonitorStrip holds one tile per connected monitor in arrival order, free
// or placed in a wall. WallEditor holds the walls (in the order of the wall
// combo box, one entry per wall), the current wall, the matrix and pixel
// settings, the editing state (which buttons and combo boxes are enabled)
// and the strip. Each command returns an Outcome: the requests to send, in
// order, and the message to show after them; the window sends and shows.
//
// Threads: the UI thread only. The receive thread never touches the model;
// it posts each service message to the UI thread, which calls Handle. No
// locks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/model/panel_layout.h"
#include "panel/model/panel_strings.h"
#include "panel/model/panel_zones.h"
#include "panel/model/zone_apps.h"
#include "protocol/control/control_protocol.h"

namespace orv::panel {

// The two-digit label of a monitor ("07", "12", "123").
std::string MonitorLabel(std::int32_t monitorId);

struct PanelCell {
    std::int32_t cellIndex = -1;  // 1-based, column-major
    std::int32_t column = -1;
    std::int32_t row = -1;
    std::int32_t monitorId = -1;

    bool operator==(const PanelCell&) const = default;
};

struct PanelWall {
    std::int32_t id = -1;
    std::int32_t columns = -1;
    std::int32_t rows = -1;
    std::int32_t totalWidth = -1;
    std::int32_t totalHeight = -1;
    std::int32_t monitorWidth = -1;
    std::int32_t monitorHeight = -1;
    std::int32_t pixelMode = control::kPixelMode4K;
    std::int32_t zoneTemplate = 0;
    std::vector<ZoneItem> zones;
    std::vector<PanelCell> cells;
    std::vector<ZoneApp> apps;  // programs placed into its zones

    const PanelCell* CellAt(std::int32_t cellIndex) const;
    const PanelCell* CellOf(std::int32_t monitorId) const;
};

struct PanelMonitor {
    std::int32_t monitorId = 0;
    bool free = true;

    bool operator==(const PanelMonitor&) const = default;
};

class MonitorStrip {
public:
    const std::vector<PanelMonitor>& Tiles() const { return tiles_; }
    const PanelMonitor* Find(std::int32_t monitorId) const;

    // A monitor arrived: a free tile at the end (an old tile of that id goes).
    void Arrive(std::int32_t monitorId, bool free = true);
    // A monitor left: true when it had a tile, which is removed.
    bool Leave(std::int32_t monitorId);
    // Sets a tile free or placed; false when there is no such tile.
    bool SetFree(std::int32_t monitorId, bool free);
    void SetAllFree();
    // The service's answer to an id change: kIdChanged renames the tile,
    // kIdsExchanged swaps the ids of two tiles (when both exist). True when
    // a tile changed.
    bool ApplyIdChange(std::int32_t result, std::int32_t oldId, std::int32_t newId);

private:
    PanelMonitor* FindMutable(std::int32_t monitorId);
    std::vector<PanelMonitor> tiles_;
};

// Which controls are enabled.
struct EditState {
    bool create = true;
    bool reset = true;
    bool matrix = true;  // the row, column and pixel combo boxes
    bool zoneTemplate = true;
    bool addWall = true;
    bool removeWall = true;

    bool operator==(const EditState&) const = default;
};

struct Outcome {
    std::vector<control::Request> requests;  // to send, in order
    std::optional<StringId> message;         // to show after sending
    bool accepted = false;                   // a drop the model took
    bool quietOnSendFailure = false;         // bezel: a failed send is not a lost connection
    bool repaintStrip = false;
    bool repaintView = false;
    std::vector<std::uint64_t> closeWindows;  // program windows to close
};

// A zone program command's record: its index in the shown wall's programs.
struct AppTarget {
    std::size_t index = 0;
    std::vector<std::uint64_t> closeWindows;  // windows to close first
};

class WallEditor {
public:
    static constexpr int kMaxWalls = 9;
    static constexpr int kMaxMonitorsInWall = 9;
    static constexpr std::int32_t kMaxMonitorId = 9999;
    static constexpr int kMinThreads = 1;
    static constexpr int kMaxThreads = 20;

    WallEditor();

    // --- start-up answers, in this order
    void ApplyEncodeMode(const control::EncodeModeReply& reply);
    void ApplyWallList(const control::WallList& list);
    void ApplyMonitorList(const control::MonitorList& list);

    // --- commands of the dialog
    // The matrix and pixel combo boxes; the monitor size follows the
    // resolution rule.
    void SetMatrix(std::int32_t columns, std::int32_t rows);
    void SetPixelMode(std::int32_t pixelMode);
    Outcome Create();
    Outcome Reset();
    Outcome AddWall();
    Outcome RemoveWall();
    Outcome ChooseWall(int comboIndex);
    Outcome ChooseZoneTemplate(int number);
    Outcome ApplyThreadNumber(std::optional<int> fieldValue);
    Outcome ChooseEncode(std::string_view text);
    Outcome ApplyBezel(float bezel);
    Outcome Save();

    // --- drops from the strip and the view (cell index from HitCell)
    // A free monitor dropped onto a cell of the current wall. accepted: the
    // tile is now placed.
    Outcome PlaceMonitor(std::int32_t monitorId, std::int32_t cellIndex);
    // A placed monitor dropped onto another cell: moves there, or swaps with
    // the monitor in it.
    Outcome DropCell(std::int32_t monitorId, std::int32_t cellIndex);
    // A placed monitor dragged back onto the strip: its tile is free and it
    // leaves the wall.
    Outcome ReturnToStrip(std::int32_t monitorId);
    // A zone border of the shown wall dragged from `press` to `release` in a
    // view of `client` size (MoveBorder); a moved layout replaces its
    // template's entry. True when the zones moved.
    bool MoveZoneBorder(BorderKind kind, Point press, Point release, Size client);
    // --- programs in zones, at the point (fx, fy) in fractions of the wall
    // Open App: the record under the point, or a new one for the zone under
    // it. Nothing without a shown wall.
    std::optional<AppTarget> OpenAppTarget(double fx, double fy);
    // The players: as Open App, but a running program under the point is
    // closed first and its record reused.
    std::optional<AppTarget> PlayerTarget(double fx, double fy);
    // Close App: the window of the running program under the point, which
    // is marked not running.
    std::optional<std::uint64_t> CloseAppAt(double fx, double fy);
    // The program of record `index` runs with this process and window.
    void MarkAppRunning(std::size_t index, std::int64_t processId, std::uint64_t window);
    // Processes the shown wall's other records use.
    std::vector<std::int64_t> ProcessesInUse(std::size_t exceptIndex) const;

    // The Set Monitor ID dialog's OK with the digits typed.
    Outcome ChangeMonitorId(std::int32_t oldId, std::string_view digits);

    // --- everything the service sends after start-up
    Outcome Handle(const control::ServiceMessage& message);

    // --- state
    const std::vector<PanelWall>& Walls() const { return walls_; }
    int CurrentIndex() const { return current_; }
    const PanelWall* Current() const;
    // The wall the topology view shows: none after Reset until a wall is
    // chosen again.
    const PanelWall* Shown() const { return shown_ ? Current() : nullptr; }
    PanelWall* ShownMutable();
    const MonitorStrip& Strip() const { return strip_; }
    const EditState& State() const { return state_; }
    std::int32_t Columns() const { return columns_; }
    std::int32_t Rows() const { return rows_; }
    std::int32_t PixelMode() const { return pixelMode_; }
    control::MonitorSize MonitorSize() const { return monitorSize_; }
    std::int32_t EncodeMode() const { return encodeMode_; }
    std::int64_t CpuValue() const { return cpuValue_; }
    int ThreadNumber() const { return threadNumber_; }
    int ThreadField() const { return threadField_; }
    int TemplateChoice() const { return templateChoice_; }
    TemplateTable& Templates() { return templates_; }

private:
    PanelWall* CurrentMutable();
    void SelectWall();
    void ApplyTemplate(PanelWall& wall);
    void BuildTemplatesOnce();
    void MonitorLeft(std::int32_t monitorId);
    control::SetWallCells CellList(const PanelWall& wall) const;

    std::vector<PanelWall> walls_;
    int current_ = -1;  // index into walls_, -1 for none
    bool shown_ = false;
    std::int32_t selection_ = 0;
    std::int32_t columns_ = 2;
    std::int32_t rows_ = 2;
    std::int32_t pixelMode_ = control::kPixelMode4K;
    control::MonitorSize monitorSize_;
    std::int32_t encodeMode_ = -1;
    std::int64_t cpuValue_ = 0;
    int threadNumber_ = 1;
    int threadField_ = 1;
    int templateChoice_ = 0;
    bool templatesBuilt_ = false;
    TemplateTable templates_;
    MonitorStrip strip_;
    EditState state_;
};

}  // namespace orv::panel
