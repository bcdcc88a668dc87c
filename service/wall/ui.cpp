#include "service/wall/ui.h"

#include <charconv>
#include <cstdio>

#include "platform/paths.h"
#include "service/log/logger.h"

namespace orv::wall {

using adapter::COvwMonitor;
using log::ServiceLog;

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

bool TestBit(const MonitorIdContainer& c, int id) {
    return (c[static_cast<std::size_t>(id - 1) / 8] >> ((id - 1) % 8)) & 1;
}

void SetBit(MonitorIdContainer& c, int id) {
    c[static_cast<std::size_t>(id - 1) / 8] |= static_cast<std::uint8_t>(1u << ((id - 1) % 8));
}

void ClearBit(MonitorIdContainer& c, int id) {
    c[static_cast<std::size_t>(id - 1) / 8] &= static_cast<std::uint8_t>(~(1u << ((id - 1) % 8)));
}

}  // namespace

std::string EncodeContainer(const MonitorIdContainer& container) {
    std::string text;
    text.reserve(2 * container.size());
    char digits[3];
    for (std::uint8_t b : container) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        text += digits;
    }
    return text;
}

MonitorIdContainer DecodeContainer(std::string_view text) {
    MonitorIdContainer c{};
    const std::size_t digits = std::min(text.size(), 2 * c.size());
    for (std::size_t i = 0; i < digits; ++i) {
        const int value = HexDigit(text[i]);
        c[i / 2] |= static_cast<std::uint8_t>(i % 2 == 0 ? value << 4 : value);
    }
    return c;
}

COvwUI::COvwUI(std::string configPath, std::optional<driver::DriverChannelOptions> driver)
    : config_(std::move(configPath)) {
    const std::string stored = config_.GetString(kContainerSection, kContainerKey);
    if (stored.empty())
        Save(kContainerSection, kContainerKey, "0");
    else
        container_ = DecodeContainer(stored);
    if (driver) {
        driver->driverLost = [this] { DriverLost(); };
        driver_ = std::make_unique<driver::COvwCommDriver>(std::move(*driver));
    }
}

void COvwUI::Save(std::string_view section, std::string_view key, std::string_view value) {
    // The number stays in use for this run; only keeping it across restarts
    // is lost, so the failure is logged and the caller goes on.
    if (!config_.WriteString(section, key, value))
        log::ServiceLog("COvwUI::Save() cannot write [%.*s] %.*s\n",
                        static_cast<int>(section.size()), section.data(),
                        static_cast<int>(key.size()), key.data());
}

COvwUI::~COvwUI() {
    // The server thread first: it calls into everything below. Then the
    // driver's worker (whose lost path reaches the records) and the seam's
    // thread; only then do the records go.
    if (channel_) channel_->Stop();
    if (driver_) driver_->Stop();
    seam_.reset();
    {
        MutexLock lock(noticeMutex_);
        notices_ = nullptr;
    }
    records_ = nullptr;
    channel_.reset();
    driver_.reset();
    MutexLock lock(WallLayoutLock);
    MutexLock mapLock(viewMapMutex_);
    viewMap_.clear();
}

void COvwUI::SetControlChannel(std::unique_ptr<IControlChannel> channel) {
    channel_ = std::move(channel);
    if (records_ == nullptr) records_ = channel_.get();
    MutexLock lock(noticeMutex_);
    notices_ = channel_.get();
}

void COvwUI::SetWallRecords(std::unique_ptr<IWallRecords> records) {
    seam_ = std::move(records);
    records_ = seam_.get();
}

int COvwUI::AllocateVwid() {
    MutexLock lock(wallIdMutex_);
    for (int id = 1; id <= kMaxWalls; ++id) {
        std::uint8_t& byte = wallIdMap_[static_cast<std::size_t>(id - 1) / 8];
        const auto bit = static_cast<std::uint8_t>(1u << ((id - 1) % 8));
        if ((byte & bit) != 0) continue;
        byte |= bit;
        return id;
    }
    return -1;
}

void COvwUI::FreeVwid(int vwid) {
    if (vwid < 1 || vwid > kMaxWalls) return;
    MutexLock lock(wallIdMutex_);
    wallIdMap_[static_cast<std::size_t>(vwid - 1) / 8] &=
        static_cast<std::uint8_t>(~(1u << ((vwid - 1) % 8)));
}

WallGrid* COvwUI::GridByVwid(int vwid) const {
    MutexLock lock(viewMapMutex_);
    auto it = viewMap_.find(vwid);
    return it == viewMap_.end() ? nullptr : it->second.get();
}

int COvwUI::BuildWall(int columns, int rows, int totalWidth, int totalHeight, int monitorWidth,
                      int monitorHeight) {
    // A frame record names at most kMaxWallMonitors monitors, and a grid
    // without cells cannot be cut.
    if (columns <= 0 || rows <= 0 || columns * rows > kMaxWallMonitors) {
        ServiceLog("BuildWall: a wall of %d x %d monitors is refused (at most %d).\n", columns,
                   rows, kMaxWallMonitors);
        return -1;
    }
    auto owned = std::make_unique<WallGrid>(columns, rows, totalWidth, totalHeight, monitorWidth,
                                            monitorHeight);
    WallGrid* grid = owned.get();
    const int vwid = AllocateVwid();
    if (vwid < 0) return -1;
    grid->vwid = vwid;
    {
        MutexLock lock(viewMapMutex_);
        viewMap_[vwid] = std::move(owned);
    }
    bool created = false;
    if (driver_) {
        MutexLock list(driver_->ListLock());
        if (driver::COvwUSBDongle* dongle = driver_->Dongle()) {
            created = dongle->CreateView(vwid, totalWidth, totalHeight, columns, rows) != 0;
            if (created) {
                MutexLock lock(WallLayoutLock);
                dongle->ViewById(vwid)->LinkGrid(grid);
            }
        }
    }
    if (!created) {
        ServiceLog("BuildWall-CreateView failure!\n");
        {
            MutexLock lock(viewMapMutex_);
            viewMap_.erase(vwid);
        }
        FreeVwid(vwid);
        return -1;
    }
    ServiceLog("BuildWall-CreateView sucessful! VWID=%d.\n", vwid);
    return vwid;
}

void COvwUI::SetCurrentWall(int vwid) {
    currentVwid_ = vwid;
    if (vwid > 0) wallBuilt_ = 1;
}

int COvwUI::DestroyWall(int vwid) {
    if (!wallBuilt_) return 0;
    ServiceLog("++DestroyWall()++\n");
    if (driver_) {
        MutexLock list(driver_->ListLock());
        if (driver::COvwUSBDongle* dongle = driver_->Dongle()) dongle->PlugOut(vwid);
    }
    std::unique_ptr<WallGrid> grid;
    {
        MutexLock lock(WallLayoutLock);
        // A view whose drop the driver refused goes on, without a grid.
        {
            MutexLock mapLock(viewMapMutex_);
            auto it = viewMap_.find(vwid);
            if (it == viewMap_.end()) return 4;
            grid = std::move(it->second);
            viewMap_.erase(it);
        }
        if (grid->view != nullptr) grid->view->LinkGrid(nullptr);
    }
    FreeVwid(vwid);
    if (records_)
        for (int id : records_->RemoveWall(1)) ReleaseMonitor(id);
    ServiceLog("Reset video wall successful.\n");
    return 0;
}

void COvwUI::DriverLost() {
    {
        // A connected panel is told and destroys the wall itself.
        MutexLock lock(noticeMutex_);
        if (notices_ != nullptr && notices_->DriverLost()) return;
    }
    DestroyWall(1);
    // The wall is gone with its driver: a new one can be built once a driver
    // is back.
    currentVwid_ = -1;
    wallBuilt_ = 0;
}

void COvwUI::PlaceMonitor(WallGrid& grid, COvwMonitor& m, int column, int row) {
    m.SetWallGeometry(static_cast<std::uint16_t>(grid.totalWidth / grid.columns),
                      static_cast<std::uint16_t>(grid.totalHeight / grid.rows),
                      static_cast<std::uint16_t>(grid.monitorWidth),
                      static_cast<std::uint16_t>(grid.monitorHeight));
    const adapter::DisplayMode mode{static_cast<std::uint16_t>(grid.monitorWidth),
                                    static_cast<std::uint16_t>(grid.monitorHeight), 32, 60, 0};
    m.Place(column, row, mode);
    if (column >= 0 && row >= 0) grid.SetCell(column, row, &m);
}

void COvwUI::ApplyWallLayout() {
    if (!wallBuilt_ || !records_) return;
    MutexLock lock(WallLayoutLock);
    bool placed = false;
    for (const std::vector<CellPlacement>& wall : records_->Walls()) {
        for (const CellPlacement& cell : wall) {
            if (cell.column == -1 || cell.row == -1) continue;
            WallGrid* grid = GridByVwid(currentVwid_);
            COvwMonitor* m = MonitorById(cell.monitorId);
            if (grid == nullptr || m == nullptr) continue;
            PlaceMonitor(*grid, *m, cell.column, cell.row);
            placed = true;
        }
    }
    if (WallGrid* grid = GridByVwid(currentVwid_); grid != nullptr && grid->view != nullptr)
        grid->view->SetIdle(!placed);
}

int COvwUI::AllocateMonitorId(COvwMonitor& monitor) {
    for (int id = 1; id <= kMaxMonitorId; ++id) {
        if (TestBit(container_, id) || MonitorById(id) != nullptr) continue;
        SetBit(container_, id);
        Save(monitor.Name(), kMonitorIdKey, std::to_string(id));
        Save(kContainerSection, kContainerKey, EncodeContainer(container_));
        return id;
    }
    return -1;
}

int COvwUI::AssignMonitorId(COvwMonitor& monitor) {
    int id = -1;
    {
        MutexLock lock(idMutex_);
        const std::string saved = config_.GetString(monitor.Name(), kMonitorIdKey);
        int savedId = 0;
        std::from_chars(saved.data(), saved.data() + saved.size(), savedId);
        // A saved id is only trusted when it is one the container can hold
        // and no other attached monitor shows it: two attached monitors never
        // share a number.
        COvwMonitor* holder = MonitorById(savedId);
        if (savedId >= 1 && savedId <= kMaxMonitorId && (holder == nullptr || holder == &monitor)) {
            id = savedId;
            // Keep the container in step with the file, so the id is never
            // handed to another monitor.
            if (!TestBit(container_, id)) {
                SetBit(container_, id);
                Save(kContainerSection, kContainerKey, EncodeContainer(container_));
            }
        } else {
            id = AllocateMonitorId(monitor);
        }
    }
    if (id < 0) return -1;
    monitor.SetMonitorId(id);
    monitor.IdentificationMode();
    {
        MutexLock lock(mapMutex_);
        monitors_[id] = &monitor;
    }
    NotifyMonitorChange(true, id);
    return 0;
}

void COvwUI::MonitorLeaves(COvwMonitor& monitor) {
    const int id = monitor.MonitorId();
    {
        // First phase: nothing the frame pipeline follows names the monitor
        // any more, in any grid or any frame that waits for acknowledgements.
        // The map entry goes under the same lock, so whoever found the
        // monitor there while holding WallLayoutLock (ReleaseMonitor, the
        // test seam) is done with it before its adapter destroys it.
        MutexLock layout(WallLayoutLock);
        {
            MutexLock lock(viewMapMutex_);
            for (auto& [vwid, grid] : viewMap_) {
                const bool anyLeft = grid->Forget(&monitor);
                if (grid->view != nullptr) {
                    if (frame::CFrameDispatch* frames = grid->view->Frames())
                        frames->ForgetMonitor(&monitor);
                    if (!anyLeft) grid->view->SetIdle(true);
                }
            }
        }
        MutexLock lock(mapMutex_);
        auto it = monitors_.find(id);
        if (it == monitors_.end() || it->second != &monitor) return;
        monitors_.erase(it);
    }
    NotifyMonitorChange(false, id);
}

void COvwUI::BeginAdapterTeardown(const std::vector<COvwMonitor*>& monitors) {
    notifyIndividually_ = 0;
    std::vector<int> ids;
    for (COvwMonitor* m : monitors) {
        m->MarkRemoved();
        if (MonitorById(m->MonitorId()) == m) ids.push_back(m->MonitorId());
    }
    NotifyMonitorsRemoved(ids);
}

void COvwUI::EndAdapterTeardown() {
    notifyIndividually_ = 1;
}

void COvwUI::NotifyMonitorChange(bool arrived, int monitorId) {
    MutexLock lock(noticeMutex_);
    // The list follows every change; an adapter's teardown tells the panel
    // once, with 0x5D, instead of one 0x57 per monitor.
    if (notices_ != nullptr)
        notices_->MonitorChanged(arrived, monitorId, arrived || notifyIndividually_ != 0);
}

void COvwUI::NotifyMonitorsRemoved(const std::vector<int>& monitorIds) {
    MutexLock lock(noticeMutex_);
    if (notices_ != nullptr) notices_->MonitorsRemoved(monitorIds);
}

int COvwUI::ReleaseMonitor(int monitorId) {
    // A monitor's placement is read by the frame thread under WallLayoutLock.
    MutexLock lock(WallLayoutLock);
    COvwMonitor* monitor = MonitorById(monitorId);
    if (monitor == nullptr || monitor->Removed()) return 0;
    monitor->ClearPlaced();
    monitor->SetColumn(-1);
    monitor->IdentificationMode();
    return 1;
}

COvwMonitor* COvwUI::MonitorById(int monitorId) const {
    MutexLock lock(mapMutex_);
    auto it = monitors_.find(monitorId);
    return it == monitors_.end() ? nullptr : it->second;
}

MonitorIdContainer COvwUI::Container() const {
    MutexLock lock(idMutex_);
    return container_;
}

int COvwUI::ChangeMonitorId(int oldId, int newId) {
    // The container has a bit for ids 1 to 1024 only, while the panel lets
    // users type larger numbers.
    if (newId < 1 || newId > kMaxMonitorId) {
        ServiceLog("COvwUI::ChangeMonitorId(): new id %d is not 1 to %d, refused.\n", newId,
                   kMaxMonitorId);
        return kIdRefused;
    }
    bool holderPlaced = false;
    {
        MutexLock layout(WallLayoutLock);
        const COvwMonitor* holder = MonitorById(newId);
        holderPlaced = holder != nullptr && holder->Placed();
    }
    if (holderPlaced) return kIdRefused;

    COvwMonitor* moved = nullptr;
    COvwMonitor* other = nullptr;
    {
        MutexLock ids(idMutex_);
        moved = MonitorById(oldId);
        if (moved == nullptr) {
            ServiceLog("COvwUI::ChangeMonitorId(): no attached monitor has id %d, refused.\n",
                       oldId);
            return kIdRefused;
        }
        if (oldId == newId) return kIdChanged;
        {
            MutexLock map(mapMutex_);
            auto it = monitors_.find(newId);
            if (it != monitors_.end()) other = it->second;
            monitors_.erase(oldId);
            monitors_.erase(newId);
            monitors_[newId] = moved;
            if (other != nullptr) monitors_[oldId] = other;
        }
        moved->SetMonitorId(newId);
        if (other != nullptr) {
            // Two attached monitors exchange their numbers; both stay taken.
            other->SetMonitorId(oldId);
            Save(moved->Name(), kMonitorIdKey, std::to_string(newId));
            Save(other->Name(), kMonitorIdKey, std::to_string(oldId));
        } else {
            ClearBit(container_, oldId);
            if (TestBit(container_, newId)) {
                // A monitor that is not attached was remembered with the id:
                // it gives it up, with its section.
                for (const std::string& section : config_.SectionNames()) {
                    const std::string saved = config_.GetString(section, kMonitorIdKey);
                    int savedId = 0;
                    std::from_chars(saved.data(), saved.data() + saved.size(), savedId);
                    if (savedId != newId) continue;
                    if (!config_.DeleteSection(section))
                        ServiceLog("COvwUI::ChangeMonitorId(): cannot delete [%s]\n",
                                   section.c_str());
                    break;
                }
            } else {
                SetBit(container_, newId);
            }
            Save(moved->Name(), kMonitorIdKey, std::to_string(newId));
            Save(kContainerSection, kContainerKey, EncodeContainer(container_));
        }
    }
    moved->IdentificationMode();
    if (other != nullptr) other->IdentificationMode();
    return other != nullptr ? kIdsExchanged : kIdChanged;
}

void COvwUI::LaunchRefreshHelper() {
    if (!launcher_) launcher_ = std::make_unique<platform::SessionLauncher>();
    // No one logged on: nothing is started and nothing is reported; a
    // program that cannot be started is logged by the launcher.
    (void)launcher_->Launch(platform::ProgramDir() + "/" + kRefreshHelperProgram);
}

}  // namespace orv::wall
