// The saved wall of the configuration file: SaveConfiguration and
// RestoreConfiguration.
#include <strings.h>

#include <array>

#include "common/bytes.h"
#include "service/log/logger.h"
#include "service/wall/ui.h"

namespace orv::wall {

using log::ServiceLog;

namespace {

bool IsWallSection(std::string_view name) {
    constexpr std::size_t n = sizeof kWallSectionPrefix - 1;
    return name.size() >= n && strncasecmp(name.data(), kWallSectionPrefix, n) == 0;
}

void PutFields(bytes::MutBytes out, std::initializer_list<int> fields) {
    std::size_t offset = 0;
    for (int v : fields) {
        bytes::PutU32(out, offset, static_cast<std::uint32_t>(v));
        offset += 4;
    }
}

int Field(bytes::ConstBytes in, std::size_t index) {
    std::uint32_t v = 0;
    bytes::GetU32(in, 4 * index, v);
    return static_cast<int>(v);
}

}  // namespace

void COvwUI::SaveConfiguration() {
    // The old wall sections go and the new ones come in one write, so a
    // service killed at any moment leaves either the old wall or the new.
    std::vector<platform::Profile::Section> sections;
    if (records_ != nullptr) {
        for (const WallDescription& wall : records_->Descriptions()) {
            platform::Profile::Section& section = sections.emplace_back();
            section.name = kWallSectionPrefix + std::to_string(wall.wallId);
            std::array<std::uint8_t, kWallInfoSize> info{};
            PutFields(info, {wall.wallId, wall.totalWidth, wall.totalHeight, wall.monitorWidth,
                             wall.monitorHeight, wall.columns, wall.rows, wall.zoneTemplate,
                             wall.pixelMode});
            section.keys.emplace_back(kWallInfoKey, platform::Profile::EncodeStruct(info));
            for (const CellPlacement& cell : wall.cells) {
                std::string name;
                {
                    // The name is read while the monitor cannot leave.
                    MutexLock layout(WallLayoutLock);
                    if (const adapter::COvwMonitor* m = MonitorById(cell.monitorId))
                        name = m->Name();
                }
                if (name.empty()) continue;  // not attached now: not saved
                std::array<std::uint8_t, kCellSize> value{};
                PutFields(value, {cell.monitorId, cell.column, cell.row, cell.cellIndex});
                section.keys.emplace_back(name, platform::Profile::EncodeStruct(value));
            }
        }
    }
    if (!config_.ReplaceSections([](std::string_view name) { return IsWallSection(name); },
                                 sections))
        ServiceLog("COvwUI::SaveConfiguration(): cannot write the wall sections\n");
}

void COvwUI::RestoreConfiguration(const std::function<bool(int ms)>& pause) {
    ServiceLog("+ COvwUI::RestoreConfiguration +\n");
    bool restored = false;
    for (const std::string& section : config_.SectionNames()) {
        if (!IsWallSection(section)) continue;
        std::array<std::uint8_t, kWallInfoSize> info{};
        if (!config_.GetStruct(section, kWallInfoKey, info)) {
            ServiceLog("COvwUI::RestoreConfiguration: [%s] %s is missing or damaged, skipped.\n",
                       section.c_str(), kWallInfoKey);
            continue;
        }
        WallDescription wall;
        wall.wallId = Field(info, 0);
        wall.totalWidth = Field(info, 1);
        wall.totalHeight = Field(info, 2);
        wall.monitorWidth = Field(info, 3);
        wall.monitorHeight = Field(info, 4);
        wall.columns = Field(info, 5);
        wall.rows = Field(info, 6);
        wall.zoneTemplate = Field(info, 7);
        wall.pixelMode = Field(info, 8);

        for (int i = 0; i < kRestoreDriverWaits; ++i) {
            if (driver_ && driver_->DriverConnected()) break;
            if (!pause(kRestoreDriverWaitMs)) return;  // the service stops
        }
        ServiceLog("COvwUI::RestoreConfiguration-BuildWall\n");
        const int vwid = BuildWall(wall.columns, wall.rows, wall.totalWidth, wall.totalHeight,
                                   wall.monitorWidth, wall.monitorHeight);
        currentVwid_ = vwid;
        if (vwid <= 0) {
            // The saved sections stay; later ones are not looked at.
            ServiceLog("COvwUI::RestoreConfiguration-BuildWall failure!\n");
            return;
        }
        wallBuilt_ = 1;
        for (const std::string& key : config_.KeyNames(section)) {
            if (strcasecmp(key.c_str(), kWallInfoKey) == 0) continue;
            std::array<std::uint8_t, kCellSize> value{};
            if (!config_.GetStruct(section, key, value)) {
                ServiceLog("COvwUI::RestoreConfiguration: [%s] %s is damaged, skipped.\n",
                           section.c_str(), key.c_str());
                continue;
            }
            const CellPlacement cell{Field(value, 0), Field(value, 1), Field(value, 2),
                                     Field(value, 3)};
            bool attached = false;
            {
                MutexLock layout(WallLayoutLock);
                const adapter::COvwMonitor* m = MonitorById(cell.monitorId);
                attached = m != nullptr && m->Name() == key;
            }
            if (attached) wall.cells.push_back(cell);
        }
        if (records_ != nullptr) records_->AddRestoredWall(wall);
        restored = true;
        ApplyWallLayout();
    }
    if (restored && records_ != nullptr) records_->SetSelection(1);
    ServiceLog("- COvwUI::RestoreConfiguration -\n");
}

}  // namespace orv::wall
