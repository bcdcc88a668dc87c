#include "service/wall/ui.h"

#include <charconv>
#include <cstdio>

#include "platform/paths.h"
#include "service/log/logger.h"

namespace orv::wall {

using adapter::COvwMonitor;

namespace {

ProcessSingleton<COvwUI> g_ui;

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

COvwUI::COvwUI(std::string configPath) : config_(std::move(configPath)) {
    const std::string stored = config_.GetString(kContainerSection, kContainerKey);
    if (stored.empty())
        Save(kContainerSection, kContainerKey, "0");
    else
        container_ = DecodeContainer(stored);
}

void COvwUI::Save(std::string_view section, std::string_view key, std::string_view value) {
    // The number stays in use for this run; only keeping it across restarts
    // is lost, so the failure is logged and the caller goes on.
    if (!config_.WriteString(section, key, value))
        log::ServiceLog("COvwUI::Save() cannot write [%.*s] %.*s\n",
                        static_cast<int>(section.size()), section.data(),
                        static_cast<int>(key.size()), key.data());
}

COvwUI* COvwUI::Get() {
    return g_ui.GetOrCreate([] { return std::make_unique<COvwUI>(platform::ConfigFilePath()); });
}

void COvwUI::Destroy() {
    g_ui.Take().reset();
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
    if (notices_ != nullptr && (arrived || notifyIndividually_))
        notices_->MonitorChanged(arrived, monitorId);
}

void COvwUI::NotifyMonitorsRemoved(const std::vector<int>& monitorIds) {
    MutexLock lock(noticeMutex_);
    if (notices_ != nullptr) notices_->MonitorsRemoved(monitorIds);
}

int COvwUI::ReleaseMonitor(int monitorId) {
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

void COvwUI::SetPanelNotices(IPanelNotices* notices) {
    MutexLock lock(noticeMutex_);
    notices_ = notices;
}

}  // namespace orv::wall
