// Drags and drops of monitors in the panel's windows, for Qt Test programs
// on the offscreen platform. That platform runs no drag: QDrag::exec returns
// at once. So a drag is started as the user starts it (a press and a move
// past the drag distance) and the data of the QDrag it made is then dropped
// where the drag should end, with the events a real drop delivers.
//
// Header only; the UI thread.
#pragma once

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>
#include <memory>
#include <optional>

#include "panel/app/panel_mime.h"

namespace orv::test {

using panel::DraggedMonitor;
using panel::MonitorMime;

// Drops `data` onto `target` at `point`; true when the target took it.
inline bool Drop(QWidget* target, QPoint point, const QMimeData& data) {
    QDragEnterEvent enter(point, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDragMoveEvent move(point, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(point), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

inline bool Drop(QWidget* target, QPoint point, DraggedMonitor monitor) {
    return Drop(target, point, *MonitorMime(monitor));
}

// The drag a press at `from` and a move from there started in `source`.
struct StartedDrag {
    std::unique_ptr<QMimeData> data;  // a copy of the panel's format
    QPoint hotSpot;
    QSize picture;
};

// Presses the left button at `from` in `source` and moves 20 pixels to the
// right with it held; the drag that started, or nothing.
inline std::optional<StartedDrag> StartDrag(QWidget* source, QPoint from) {
    const QPoint to = from + QPoint(20, 0);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(from), source->mapToGlobal(QPointF(from)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(source, &press);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), source->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(source, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(to), source->mapToGlobal(QPointF(to)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(source, &release);
    // The finished drag is deleted later, on the next turn of the event
    // loop; until then it is the source's child.
    QDrag* drag = source->findChild<QDrag*>(QString(), Qt::FindDirectChildrenOnly);
    if (drag == nullptr || drag->mimeData() == nullptr) return std::nullopt;
    StartedDrag started;
    started.data = std::make_unique<QMimeData>();
    for (const QString& format : drag->mimeData()->formats())
        started.data->setData(format, drag->mimeData()->data(format));
    started.hotSpot = drag->hotSpot();
    started.picture = drag->pixmap().size();
    delete drag;
    return started;
}

// The middle of cell (column, row) of a wall of `columns` x `rows` in the
// topology view `view`.
inline QPoint CellCentre(QWidget* view, int column, int row, int columns = 2, int rows = 2) {
    return {view->width() / columns * column + view->width() / columns / 2,
            view->height() / rows * row + view->height() / rows / 2};
}

}  // namespace orv::test
