#include "panel/app/panel_mime.h"

#include <QByteArray>
#include <QList>

namespace orv::panel {

// "strip:<id>" or "view:<id>".
std::unique_ptr<QMimeData> MonitorMime(DraggedMonitor monitor) {
    auto data = std::make_unique<QMimeData>();
    const QByteArray source = monitor.source == DragSource::kStrip ? "strip" : "view";
    data->setData(kMonitorMimeType, source + ':' + QByteArray::number(monitor.monitorId));
    return data;
}

std::optional<DraggedMonitor> ReadMonitorMime(const QMimeData* data) {
    if (data == nullptr || !data->hasFormat(kMonitorMimeType)) return std::nullopt;
    const QList<QByteArray> parts = data->data(kMonitorMimeType).split(':');
    if (parts.size() != 2) return std::nullopt;
    DraggedMonitor monitor;
    if (parts[0] == "strip") {
        monitor.source = DragSource::kStrip;
    } else if (parts[0] == "view") {
        monitor.source = DragSource::kView;
    } else {
        return std::nullopt;
    }
    bool ok = false;
    monitor.monitorId = parts[1].toInt(&ok);
    if (!ok) return std::nullopt;
    return monitor;
}

}  // namespace orv::panel
