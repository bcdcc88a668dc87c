// The drag data of the panel: one monitor, and where the drag started (a
// free tile of the strip or a placed cell of the topology view), in a MIME
// type of the panel's own so no other program's drop is taken for a monitor.
//
// Pure functions over QMimeData; UI thread.
#pragma once

#include <QMimeData>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace orv::panel {

inline const QString kMonitorMimeType = QStringLiteral("application/x-orv-kalmiro-monitor");

enum class DragSource { kStrip, kView };

struct DraggedMonitor {
    DragSource source = DragSource::kStrip;
    std::int32_t monitorId = 0;

    bool operator==(const DraggedMonitor&) const = default;
};

std::unique_ptr<QMimeData> MonitorMime(DraggedMonitor monitor);
// Nothing when the data is not the panel's or does not parse.
std::optional<DraggedMonitor> ReadMonitorMime(const QMimeData* data);

}  // namespace orv::panel
