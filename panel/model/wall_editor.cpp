#include "panel/model/wall_editor.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "panel/model/panel_log.h"

namespace orv::panel {

std::string MonitorLabel(std::int32_t monitorId) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", monitorId);
    return text;
}

// ---------------------------------------------------------------- PanelWall
const PanelCell* PanelWall::CellAt(std::int32_t cellIndex) const {
    const auto it = std::find_if(cells.begin(), cells.end(),
                                 [&](const PanelCell& c) { return c.cellIndex == cellIndex; });
    return it == cells.end() ? nullptr : &*it;
}

const PanelCell* PanelWall::CellOf(std::int32_t monitorId) const {
    const auto it = std::find_if(cells.begin(), cells.end(),
                                 [&](const PanelCell& c) { return c.monitorId == monitorId; });
    return it == cells.end() ? nullptr : &*it;
}

// ---------------------------------------------------------------- MonitorStrip
const PanelMonitor* MonitorStrip::Find(std::int32_t monitorId) const {
    const auto it = std::find_if(tiles_.begin(), tiles_.end(),
                                 [&](const PanelMonitor& t) { return t.monitorId == monitorId; });
    return it == tiles_.end() ? nullptr : &*it;
}

PanelMonitor* MonitorStrip::FindMutable(std::int32_t monitorId) {
    return const_cast<PanelMonitor*>(Find(monitorId));
}

void MonitorStrip::Arrive(std::int32_t monitorId, bool free) {
    std::erase_if(tiles_, [&](const PanelMonitor& t) { return t.monitorId == monitorId; });
    tiles_.push_back({monitorId, free});
}

bool MonitorStrip::Leave(std::int32_t monitorId) {
    return std::erase_if(tiles_, [&](const PanelMonitor& t) { return t.monitorId == monitorId; }) >
           0;
}

bool MonitorStrip::SetFree(std::int32_t monitorId, bool free) {
    PanelMonitor* t = FindMutable(monitorId);
    if (t == nullptr) return false;
    t->free = free;
    return true;
}

void MonitorStrip::SetAllFree() {
    for (PanelMonitor& t : tiles_) t.free = true;
}

bool MonitorStrip::ApplyIdChange(std::int32_t result, std::int32_t oldId, std::int32_t newId) {
    PanelMonitor* a = FindMutable(oldId);
    if (result == control::kIdChanged) {
        if (a == nullptr) return false;
        a->monitorId = newId;
        return true;
    }
    if (result == control::kIdsExchanged) {
        PanelMonitor* b = FindMutable(newId);
        if (a == nullptr || b == nullptr) return false;
        std::swap(a->monitorId, b->monitorId);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- WallEditor
WallEditor::WallEditor() : monitorSize_(control::MonitorSizeFor(pixelMode_, columns_, rows_)) {}

const PanelWall* WallEditor::Current() const {
    if (current_ < 0 || current_ >= static_cast<int>(walls_.size())) return nullptr;
    return &walls_[static_cast<std::size_t>(current_)];
}

PanelWall* WallEditor::CurrentMutable() {
    return const_cast<PanelWall*>(Current());
}

PanelWall* WallEditor::ShownMutable() {
    return shown_ ? CurrentMutable() : nullptr;
}

void WallEditor::SelectWall() {
    const PanelWall* wall = Current();
    if (wall == nullptr) return;
    columns_ = wall->columns;
    rows_ = wall->rows;
    pixelMode_ = wall->pixelMode;
    monitorSize_ = {wall->monitorWidth, wall->monitorHeight};
    templateChoice_ = wall->zoneTemplate;
    shown_ = true;
}

void WallEditor::BuildTemplatesOnce() {
    if (templatesBuilt_) return;
    templates_.Build();
    templatesBuilt_ = true;
}

void WallEditor::ApplyTemplate(PanelWall& wall) {
    wall.zones = templates_.Zones(wall.zoneTemplate);
}

control::SetWallCells WallEditor::CellList(const PanelWall& wall) const {
    control::SetWallCells list;
    list.wallId = wall.id;
    for (const PanelCell& c : wall.cells) {
        list.cells.push_back({c.monitorId, c.cellIndex, c.column, c.row});
    }
    return list;
}

void WallEditor::ApplyEncodeMode(const control::EncodeModeReply& reply) {
    encodeMode_ = reply.mode;
}

void WallEditor::ApplyWallList(const control::WallList& list) {
    walls_.clear();
    current_ = -1;
    shown_ = false;
    for (const control::WallRecord& r : list.walls) {
        if (r.columns < 1 || r.rows < 1 || r.columns * r.rows > kMaxMonitorsInWall) {
            PanelLog("wall %d of %d x %d monitors refused", r.wallId, r.columns, r.rows);
            continue;
        }
        PanelWall w;
        w.id = r.wallId;
        w.columns = r.columns;
        w.rows = r.rows;
        w.totalWidth = r.totalWidth;
        w.totalHeight = r.totalHeight;
        w.monitorWidth = r.monitorWidth;
        w.monitorHeight = r.monitorHeight;
        w.pixelMode = r.pixelMode;
        w.zoneTemplate =
            (r.zoneTemplate >= 0 && r.zoneTemplate <= kTemplateCount) ? r.zoneTemplate : 0;
        w.zones = r.zones;
        walls_.push_back(std::move(w));
    }
    if (walls_.empty()) {
        state_.reset = false;
        return;
    }
    selection_ = list.selection;
    current_ = std::clamp(selection_ - 1, 0, static_cast<int>(walls_.size()) - 1);
    SelectWall();
    state_.addWall = selection_ != kMaxWalls;
    state_.removeWall = selection_ != 1;
    state_.matrix = false;
    state_.create = false;
    BuildTemplatesOnce();
    ApplyTemplate(*CurrentMutable());
}

void WallEditor::ApplyMonitorList(const control::MonitorList& list) {
    PanelWall* wall = CurrentMutable();
    for (const control::MonitorEntry& e : list.entries) {
        if (e.column < 0) {
            strip_.Arrive(e.monitorId, true);
            continue;
        }
        if (wall == nullptr || e.cellIndex < 1 || e.cellIndex > wall->columns * wall->rows ||
            wall->CellAt(e.cellIndex) != nullptr) {
            PanelLog("monitor %d at cell %d fits no cell of the current wall; shown free",
                     e.monitorId, e.cellIndex);
            strip_.Arrive(e.monitorId, true);
            continue;
        }
        strip_.Arrive(e.monitorId, false);
        wall->cells.push_back({e.cellIndex, e.column, e.row, e.monitorId});
    }
}

void WallEditor::SetMatrix(std::int32_t columns, std::int32_t rows) {
    columns_ = columns;
    rows_ = rows;
    monitorSize_ = control::MonitorSizeFor(pixelMode_, columns_, rows_);
}

void WallEditor::SetPixelMode(std::int32_t pixelMode) {
    pixelMode_ = pixelMode;
    monitorSize_ = control::MonitorSizeFor(pixelMode_, columns_, rows_);
}

Outcome WallEditor::Create() {
    Outcome out;
    if (columns_ * rows_ > kMaxMonitorsInWall) {
        out.message = StringId::kMatrixTooBig;
        return out;
    }
    monitorSize_ = control::MonitorSizeFor(pixelMode_, columns_, rows_);
    out = AddWall();
    PanelWall* wall = CurrentMutable();
    if (wall != nullptr) {
        const control::WallRecord record = control::PanelWallRecord(
            wall->id, pixelMode_, columns_, rows_, wall->zoneTemplate, wall->zones);
        wall->columns = record.columns;
        wall->rows = record.rows;
        wall->totalWidth = record.totalWidth;
        wall->totalHeight = record.totalHeight;
        wall->monitorWidth = record.monitorWidth;
        wall->monitorHeight = record.monitorHeight;
        wall->pixelMode = record.pixelMode;
        out.requests.push_back(control::CreateWall{record});
        SelectWall();
    }
    state_.matrix = false;
    out.repaintView = true;
    return out;
}

Outcome WallEditor::Reset() {
    Outcome out;
    out.requests.push_back(control::DestroyWall{});
    templateChoice_ = 0;
    if (PanelWall* wall = CurrentMutable()) {
        wall->zoneTemplate = 0;
        wall->zones.clear();
    }
    templates_.Build();
    templatesBuilt_ = true;
    Outcome removed = RemoveWall();
    out.requests.insert(out.requests.end(), removed.requests.begin(), removed.requests.end());
    shown_ = false;
    strip_.SetAllFree();
    out.repaintStrip = out.repaintView = true;
    return out;
}

Outcome WallEditor::AddWall() {
    Outcome out;
    state_.matrix = true;
    state_.zoneTemplate = true;
    if (static_cast<int>(walls_.size()) >= kMaxWalls) return out;
    const auto n = static_cast<std::int32_t>(walls_.size()) + 1;
    selection_ = n;
    out.requests.push_back(control::AddWallEntry{n, n});
    state_.removeWall = true;
    PanelWall w;
    w.id = n;
    w.columns = columns_;
    w.rows = rows_;
    w.monitorWidth = monitorSize_.width;
    w.monitorHeight = monitorSize_.height;
    w.totalWidth = columns_ * monitorSize_.width;
    w.totalHeight = rows_ * monitorSize_.height;
    w.pixelMode = pixelMode_;
    walls_.push_back(std::move(w));
    current_ = n - 1;
    SelectWall();
    if (static_cast<int>(walls_.size()) == kMaxWalls) state_.addWall = false;
    out.repaintView = true;
    return out;
}

Outcome WallEditor::RemoveWall() {
    Outcome out;
    if (walls_.empty() || current_ < 0) {
        state_.removeWall = false;
        return out;
    }
    const std::int32_t removedId = current_ + 1;
    walls_.erase(walls_.begin() + current_);
    if (current_ >= static_cast<int>(walls_.size())) --current_;
    if (walls_.size() <= 1) state_.removeWall = false;
    selection_ = current_ + 1;
    out.requests.push_back(control::RemoveWallEntry{removedId, selection_});
    if (current_ >= 0) {
        SelectWall();
    } else {
        shown_ = false;
    }
    out.repaintView = true;
    return out;
}

Outcome WallEditor::ChooseWall(int comboIndex) {
    Outcome out;
    if (comboIndex < 0 || comboIndex >= static_cast<int>(walls_.size())) return out;
    state_.zoneTemplate = true;
    current_ = comboIndex;
    selection_ = comboIndex + 1;
    out.requests.push_back(control::SelectWall{selection_});
    SelectWall();
    out.repaintView = true;
    return out;
}

Outcome WallEditor::ChooseZoneTemplate(int number) {
    Outcome out;
    PanelWall* wall = CurrentMutable();
    if (wall == nullptr || number < 0 || number > kTemplateCount) return out;
    // The programs of the old zones go with them.
    for (const ZoneApp& app : wall->apps) {
        if (app.window != 0) out.closeWindows.push_back(app.window);
    }
    wall->apps.clear();
    templateChoice_ = number;
    wall->zoneTemplate = number;
    out.requests.push_back(control::ZoneTemplate{wall->id, number});
    BuildTemplatesOnce();
    ApplyTemplate(*wall);
    out.repaintView = true;
    return out;
}

Outcome WallEditor::ApplyThreadNumber(std::optional<int> fieldValue) {
    Outcome out;
    const int previous = threadNumber_;
    int value = fieldValue.value_or(previous);
    if (value < kMinThreads || value > kMaxThreads) value = previous;
    threadField_ = value;
    if (value != previous) out.requests.push_back(control::ThreadCount{value});
    return out;
}

Outcome WallEditor::ChooseEncode(std::string_view text) {
    Outcome out;
    out.requests.push_back(
        control::SetEncodeMode{text == "GPU" ? control::kEncodeGpu : control::kEncodeCpu});
    return out;
}

Outcome WallEditor::ApplyBezel(float bezel) {
    Outcome out;
    const PanelWall* wall = Current();
    if (state_.create || wall == nullptr) return out;
    out.requests.push_back(control::Bezel{wall->id, bezel});
    out.quietOnSendFailure = true;
    return out;
}

Outcome WallEditor::Save() {
    Outcome out;
    out.requests.push_back(control::SaveConfiguration{});
    out.message = StringId::kSaved;
    return out;
}

Outcome WallEditor::PlaceMonitor(std::int32_t monitorId, std::int32_t cellIndex) {
    Outcome out;
    PanelWall* wall = ShownMutable();
    const PanelMonitor* tile = strip_.Find(monitorId);
    if (wall == nullptr || tile == nullptr || !tile->free || cellIndex < 1 ||
        cellIndex > wall->columns * wall->rows) {
        return out;
    }
    auto occupied = std::find_if(wall->cells.begin(), wall->cells.end(),
                                 [&](const PanelCell& c) { return c.cellIndex == cellIndex; });
    if (occupied != wall->cells.end()) {
        out.requests.push_back(control::RemoveMonitor{wall->id, occupied->monitorId});
        strip_.SetFree(occupied->monitorId, true);
        occupied->monitorId = monitorId;
    } else {
        wall->cells.push_back(
            {cellIndex, (cellIndex - 1) / wall->rows, (cellIndex - 1) % wall->rows, monitorId});
    }
    out.requests.push_back(CellList(*wall));
    strip_.SetFree(monitorId, false);
    out.accepted = true;
    out.repaintStrip = out.repaintView = true;
    return out;
}

Outcome WallEditor::DropCell(std::int32_t monitorId, std::int32_t cellIndex) {
    Outcome out;
    PanelWall* wall = ShownMutable();
    if (wall == nullptr || cellIndex < 1 || cellIndex > wall->columns * wall->rows) return out;
    auto dragged = std::find_if(wall->cells.begin(), wall->cells.end(),
                                [&](const PanelCell& c) { return c.monitorId == monitorId; });
    if (dragged == wall->cells.end() || dragged->cellIndex == cellIndex) return out;
    auto target = std::find_if(wall->cells.begin(), wall->cells.end(),
                               [&](const PanelCell& c) { return c.cellIndex == cellIndex; });
    if (target == wall->cells.end()) {
        dragged->cellIndex = cellIndex;
        dragged->column = (cellIndex - 1) / wall->rows;
        dragged->row = (cellIndex - 1) % wall->rows;
        out.requests.push_back(CellList(*wall));
    } else {
        std::swap(dragged->cellIndex, target->cellIndex);
        std::swap(dragged->column, target->column);
        std::swap(dragged->row, target->row);
        out.requests.push_back(control::SwapMonitors{wall->id, target->monitorId, monitorId});
    }
    out.accepted = true;
    out.repaintView = true;
    return out;
}

Outcome WallEditor::ReturnToStrip(std::int32_t monitorId) {
    Outcome out;
    PanelWall* wall = ShownMutable();
    if (wall == nullptr || wall->CellOf(monitorId) == nullptr) return out;
    if (!strip_.SetFree(monitorId, true)) return out;
    std::erase_if(wall->cells, [&](const PanelCell& c) { return c.monitorId == monitorId; });
    out.requests.push_back(control::RemoveMonitor{wall->id, monitorId});
    out.accepted = true;
    out.repaintStrip = out.repaintView = true;
    return out;
}

bool WallEditor::MoveZoneBorder(BorderKind kind, Point press, Point release, Size client) {
    PanelWall* wall = ShownMutable();
    if (wall == nullptr) return false;
    if (!MoveBorder(wall->zones, kind, press, release, client, wall->columns, wall->rows)) {
        return false;
    }
    templates_.Replace(wall->zoneTemplate, wall->zones);
    return true;
}

std::optional<AppTarget> WallEditor::OpenAppTarget(double fx, double fy) {
    PanelWall* wall = ShownMutable();
    if (wall == nullptr) return std::nullopt;
    if (const auto at = AppAt(wall->apps, fx, fy)) return AppTarget{*at, {}};
    wall->apps.push_back({0, 0, false, ZoneUnder(wall->zones, fx, fy)});
    return AppTarget{wall->apps.size() - 1, {}};
}

std::optional<AppTarget> WallEditor::PlayerTarget(double fx, double fy) {
    PanelWall* wall = ShownMutable();
    if (wall == nullptr) return std::nullopt;
    if (const auto at = AppAt(wall->apps, fx, fy)) {
        AppTarget target{*at, {}};
        ZoneApp& app = wall->apps[*at];
        if (app.running) {
            if (app.window != 0) target.closeWindows.push_back(app.window);
            app.running = false;
            app.window = 0;
            app.processId = 0;
        }
        return target;
    }
    return OpenAppTarget(fx, fy);
}

std::optional<std::uint64_t> WallEditor::CloseAppAt(double fx, double fy) {
    PanelWall* wall = ShownMutable();
    if (wall == nullptr) return std::nullopt;
    const auto at = AppAt(wall->apps, fx, fy);
    if (!at || !wall->apps[*at].running) return std::nullopt;
    ZoneApp& app = wall->apps[*at];
    const std::uint64_t window = app.window;
    app.running = false;
    app.window = 0;
    app.processId = 0;
    return window;
}

void WallEditor::MarkAppRunning(std::size_t index, std::int64_t processId, std::uint64_t window) {
    PanelWall* wall = ShownMutable();
    if (wall == nullptr || index >= wall->apps.size()) return;
    wall->apps[index] = {processId, window, true, wall->apps[index].rect};
}

std::vector<std::int64_t> WallEditor::ProcessesInUse(std::size_t exceptIndex) const {
    std::vector<std::int64_t> used;
    const PanelWall* wall = Shown();
    if (wall == nullptr) return used;
    for (std::size_t i = 0; i < wall->apps.size(); ++i) {
        if (i != exceptIndex && wall->apps[i].processId != 0) {
            used.push_back(wall->apps[i].processId);
        }
    }
    return used;
}

Outcome WallEditor::ChangeMonitorId(std::int32_t oldId, std::string_view digits) {
    Outcome out;
    std::int64_t newId = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return out;  // the edit takes digits only
        newId = std::min<std::int64_t>(newId * 10 + (c - '0'), kMaxMonitorId + 1);
    }
    if (newId == oldId) return out;
    if (newId == 0) {
        out.message = StringId::kIdZero;
    } else if (newId > kMaxMonitorId) {
        out.message = StringId::kIdTooBig;
    } else {
        out.requests.push_back(control::ChangeMonitorId{oldId, static_cast<std::int32_t>(newId)});
    }
    return out;
}

void WallEditor::MonitorLeft(std::int32_t monitorId) {
    if (!strip_.Leave(monitorId)) return;
    for (PanelWall& wall : walls_) {
        std::erase_if(wall.cells, [&](const PanelCell& c) { return c.monitorId == monitorId; });
    }
}

Outcome WallEditor::Handle(const control::ServiceMessage& message) {
    Outcome out;
    if (const auto* m = std::get_if<control::ChangeIdReply>(&message)) {
        if (m->result == control::kIdRefusedPlaced) out.message = StringId::kIdRunning;
        out.repaintStrip = strip_.ApplyIdChange(m->result, m->oldId, m->newId);
    } else if (const auto* cpu = std::get_if<control::CpuValue>(&message)) {
        if (cpu->value >= 2 && cpu->value <= 99) cpuValue_ = cpu->value;
    } else if (std::holds_alternative<control::DriverLost>(message)) {
        if (state_.reset) out = Reset();
    } else if (const auto* t = std::get_if<control::ThreadStatus>(&message)) {
        if (t->status == 0) threadField_ = threadNumber_;
    } else if (const auto* change = std::get_if<control::MonitorChange>(&message)) {
        if (change->change == control::kMonitorArrived) {
            strip_.Arrive(change->monitorId);
        } else {
            MonitorLeft(change->monitorId);
        }
        out.repaintStrip = out.repaintView = true;
    } else if (const auto* removed = std::get_if<control::AdapterRemoved>(&message)) {
        for (std::int32_t id : removed->monitorIds) MonitorLeft(id);
        out.repaintStrip = out.repaintView = true;
    } else if (const auto* created = std::get_if<control::CreateResult>(&message)) {
        if (created->ok != 0) {
            state_.create = false;
            state_.reset = true;
        } else {
            out = Reset();
            out.message = StringId::kCreateFailed;
        }
    } else if (std::holds_alternative<control::WallDestroyed>(message)) {
        state_.matrix = true;
        state_.zoneTemplate = true;
        state_.reset = false;
        state_.create = true;
    }
    return out;
}

}  // namespace orv::panel
