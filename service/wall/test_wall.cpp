#include "service/wall/test_wall.h"

#include <chrono>
#include <sstream>

#include "platform/registry.h"
#include "platform/thread_name.h"
#include "service/log/logger.h"

namespace orv::wall {

std::optional<TestWallLayout> ParseTestWallLayout(std::string_view text) {
    std::istringstream in{std::string(text)};
    TestWallLayout l;
    if (!(in >> l.columns >> l.rows >> l.width >> l.height >> l.monitorWidth >> l.monitorHeight))
        return std::nullopt;
    std::string cell;
    while (in >> cell) {
        CellPlacement p;
        char c1 = 0, c2 = 0;
        std::istringstream cin(cell);
        if (!(cin >> p.monitorId >> c1 >> p.column >> c2 >> p.row) || c1 != ':' || c2 != ':' ||
            p.column < 0 || p.row < 0 || p.column >= l.columns || p.row >= l.rows)
            return std::nullopt;
        l.cells.push_back(p);
    }
    if (l.columns <= 0 || l.rows <= 0 || l.cells.empty()) return std::nullopt;
    return l;
}

CTestWallSeam::CTestWallSeam(COvwUI& ui, TestWallLayout layout)
    : ui_(ui), layout_(std::move(layout)) {}

CTestWallSeam::~CTestWallSeam() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void CTestWallSeam::Start() {
    thread_ = std::thread([this] { Run(); });
}

std::vector<std::vector<CellPlacement>> CTestWallSeam::Walls() const {
    return {layout_.cells};
}

std::vector<int> CTestWallSeam::RemoveWall(int) {
    // The layout stays configured: it is built again for the next driver.
    std::vector<int> ids;
    for (const CellPlacement& c : layout_.cells) ids.push_back(c.monitorId);
    return ids;
}

void CTestWallSeam::Run() {
    platform::SetCurrentThreadName("orv-testwall");
    while (!stop_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        bool allPresent = true, allPlaced = true;
        {
            MutexLock lock(WallLayoutLock);
            for (const CellPlacement& c : layout_.cells) {
                const adapter::COvwMonitor* m = ui_.MonitorById(c.monitorId);
                allPresent = allPresent && m != nullptr;
                allPlaced = allPlaced && m != nullptr && m->Placed();
            }
        }
        if (!ui_.WallBuilt()) {
            const driver::COvwCommDriver* channel = ui_.DriverChannel();
            if (!allPresent || channel == nullptr || !channel->DriverPresent()) continue;
            const int vwid =
                ui_.BuildWall(layout_.columns, layout_.rows, layout_.width, layout_.height,
                              layout_.monitorWidth, layout_.monitorHeight);
            if (vwid <= 0) continue;
            ui_.SetCurrentWall(vwid);
            ui_.ApplyWallLayout();
        } else if (!allPlaced) {
            ui_.ApplyWallLayout();
        }
    }
}

void InstallRegistryTestWall(COvwUI& ui) {
    std::string text;
    if (platform::Registry::Load().ReadString(
            {platform::kControlSetKey, platform::kControlSetKeyWow}, kTestWallLayoutValue, text) !=
        platform::kErrorSuccess)
        return;
    std::optional<TestWallLayout> layout = ParseTestWallLayout(text);
    if (!layout) {
        log::ServiceLog("TestWallLayout: not a wall layout, ignored.\n");
        return;
    }
    auto seam = std::make_unique<CTestWallSeam>(ui, std::move(*layout));
    CTestWallSeam* started = seam.get();
    ui.SetWallRecords(std::move(seam));
    started->Start();
}

}  // namespace orv::wall
