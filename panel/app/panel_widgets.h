// The two child windows of the main dialog. Both paint only from the
// dialog's model; their mouse and drop handlers report to the dialog, which
// changes the model and repaints them.
//
// CClientListWnd, the monitor strip: one tile per connected monitor, free
// tiles can be dragged onto the topology view; a cell dragged from the view
// and dropped here goes back to the strip. A right click on a free tile
// offers Set Monitor ID.
//
// CSplitWnd, the topology view: the shown wall's cells with their monitors,
// the grid and the zone lines; drops of free tiles place monitors, drops of
// cells move or swap them; zone borders move by dragging them. A right
// click offers the zone programs (Open App, Close App, Play PtotoWall, Play
// Video) for the zone under the click.
//
// UI thread only.
#pragma once

#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "panel/app/panel_mime.h"
#include "panel/model/panel_zones.h"

namespace orv::panel {

class CKalmiroDlg;

class CClientListWnd : public QWidget {
public:
    CClientListWnd(CKalmiroDlg& dialog, QWidget* parent);

    // The tile of `monitorId` in client pixels; empty when there is none.
    QRect TileRect(std::int32_t monitorId) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    std::optional<std::int32_t> TileAtPoint(QPoint p) const;

    CKalmiroDlg& dialog_;
    std::optional<std::int32_t> pressed_;  // a free tile pressed, before the drag starts
    QPoint pressPoint_;
};

class CSplitWnd : public QWidget {
public:
    CSplitWnd(CKalmiroDlg& dialog, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    CKalmiroDlg& dialog_;
    std::optional<std::int32_t> pressedCell_;  // monitor of a pressed cell
    std::optional<BorderKind> border_;         // a zone border being dragged
    QPoint pressPoint_;
};

// Paints one monitor tile: the free or placed picture with the label in
// white in its middle.
void PaintTile(QPainter& painter, const QRect& rect, const QString& label, bool free);

}  // namespace orv::panel
