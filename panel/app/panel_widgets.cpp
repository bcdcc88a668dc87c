#include "panel/app/panel_widgets.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "panel/app/kalmiro_dlg.h"
#include "panel/app/panel_dialogs.h"
#include "panel/model/panel_layout.h"
#include "panel/model/wall_editor.h"

namespace orv::panel {
namespace {

QRect ToQRect(const Rect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

Point ToPoint(QPoint p) {
    return {p.x(), p.y()};
}

Size SizeOf(const QWidget& w) {
    return {w.width(), w.height()};
}

// Starts a drag of `monitorId` with a picture of its tile under the cursor.
void StartDrag(QWidget* source, DragSource kind, std::int32_t monitorId, const QRect& tile,
               QPoint pressPoint) {
    auto* drag = new QDrag(source);
    drag->setMimeData(MonitorMime({kind, monitorId}).release());
    QPixmap picture(std::max(tile.width(), 1), std::max(tile.height(), 1));
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        PaintTile(painter, picture.rect(), QString::fromStdString(MonitorLabel(monitorId)), true);
    }
    drag->setPixmap(picture);
    drag->setHotSpot(pressPoint - tile.topLeft());
    drag->exec(Qt::MoveAction);
}

}  // namespace

void PaintTile(QPainter& painter, const QRect& rect, const QString& label, bool free) {
    if (rect.isEmpty()) return;
    QLinearGradient fill(rect.topLeft(), rect.bottomLeft());
    if (free) {
        fill.setColorAt(0, QColor(38, 110, 200));
        fill.setColorAt(1, QColor(16, 52, 110));
    } else {
        fill.setColorAt(0, QColor(150, 150, 150));
        fill.setColorAt(1, QColor(90, 90, 90));
    }
    painter.setPen(QPen(QColor(20, 20, 20), 2));
    painter.setBrush(fill);
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), 6, 6);
    QFont font("Times New Roman");
    font.setWeight(QFont::ExtraBold);
    font.setPixelSize(std::clamp(rect.height() * 6 / 10, 6, 80));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(rect, Qt::AlignCenter, label);
}

// ---------------------------------------------------------------- strip
CClientListWnd::CClientListWnd(CKalmiroDlg& dialog, QWidget* parent)
    : QWidget(parent), dialog_(dialog) {
    setObjectName("1501");
    setAcceptDrops(true);
}

QRect CClientListWnd::TileRect(std::int32_t monitorId) const {
    const auto& tiles = dialog_.Editor().Strip().Tiles();
    const auto rects = StripTileRects(tiles.size(), SizeOf(*this));
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        if (tiles[i].monitorId == monitorId) return ToQRect(rects[i]);
    }
    return {};
}

std::optional<std::int32_t> CClientListWnd::TileAtPoint(QPoint p) const {
    const auto& tiles = dialog_.Editor().Strip().Tiles();
    const auto index = TileAt(StripTileRects(tiles.size(), SizeOf(*this)), ToPoint(p));
    if (!index) return std::nullopt;
    return tiles[*index].monitorId;
}

void CClientListWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.fillRect(rect(), Qt::white);
    const auto& tiles = dialog_.Editor().Strip().Tiles();
    const auto rects = StripTileRects(tiles.size(), SizeOf(*this));
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        PaintTile(painter, ToQRect(rects[i]),
                  QString::fromStdString(MonitorLabel(tiles[i].monitorId)), tiles[i].free);
    }
}

void CClientListWnd::mousePressEvent(QMouseEvent* event) {
    pressed_.reset();
    if (event->button() != Qt::LeftButton) return;
    const auto id = TileAtPoint(event->position().toPoint());
    const PanelMonitor* tile = id ? dialog_.Editor().Strip().Find(*id) : nullptr;
    if (tile == nullptr || !tile->free) return;  // placed tiles do not move
    pressed_ = *id;
    pressPoint_ = event->position().toPoint();
}

void CClientListWnd::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_ || !(event->buttons() & Qt::LeftButton)) return;
    if ((event->position().toPoint() - pressPoint_).manhattanLength() <
        QApplication::startDragDistance()) {
        return;
    }
    const std::int32_t id = *pressed_;
    pressed_.reset();
    StartDrag(this, DragSource::kStrip, id, TileRect(id), pressPoint_);
}

void CClientListWnd::contextMenuEvent(QContextMenuEvent* event) {
    const auto id = TileAtPoint(event->pos());
    const PanelMonitor* tile = id ? dialog_.Editor().Strip().Find(*id) : nullptr;
    if (tile == nullptr || !tile->free) return;  // placed tiles have no menu
    QMenu menu(this);
    const QString title =
        QString::fromUtf8(Text(StringId::kSetMonitorIdMenu, dialog_.UiLanguage()).data());
    menu.addAction(title, [this, id = *id] {
        CSetMonitorId setId(id, dialog_.UiLanguage(), this);
        if (setId.exec() == QDialog::Accepted) dialog_.ChangeMonitorId(id, setId.Digits());
    });
    menu.exec(event->globalPos());
}

void CClientListWnd::dragEnterEvent(QDragEnterEvent* event) {
    const auto monitor = ReadMonitorMime(event->mimeData());
    if (monitor && monitor->source == DragSource::kView) event->acceptProposedAction();
}

void CClientListWnd::dropEvent(QDropEvent* event) {
    const auto monitor = ReadMonitorMime(event->mimeData());
    if (!monitor || monitor->source != DragSource::kView) return;
    dialog_.ReturnToStrip(monitor->monitorId);
    event->acceptProposedAction();
}

// ---------------------------------------------------------------- view
CSplitWnd::CSplitWnd(CKalmiroDlg& dialog, QWidget* parent) : QWidget(parent), dialog_(dialog) {
    setObjectName("1500");
    setAcceptDrops(true);
    setMouseTracking(true);
}

void CSplitWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const PanelWall* wall = dialog_.Editor().Shown();
    if (wall == nullptr || wall->columns < 1 || wall->rows < 1) return;
    const Size client = SizeOf(*this);
    for (const PanelCell& cell : wall->cells) {
        PaintTile(painter,
                  ToQRect(CellRect(cell.column, cell.row, wall->columns, wall->rows, client)),
                  QString::fromStdString(MonitorLabel(cell.monitorId)), true);
    }
    const int cw = client.width / wall->columns;
    const int ch = client.height / wall->rows;
    painter.setPen(QPen(QColor(190, 190, 190), 5));
    for (int c = 1; c < wall->columns; ++c) painter.drawLine(c * cw, 0, c * cw, height());
    for (int r = 1; r < wall->rows; ++r) painter.drawLine(0, r * ch, width(), r * ch);
    if (wall->zones.empty()) return;
    painter.setPen(QPen(Qt::red, 4, Qt::DotLine));
    for (const ZoneItem& z : wall->zones) {
        const int x0 = static_cast<int>(z.x0 * client.width);
        const int x1 = static_cast<int>(z.x1 * client.width);
        const int y0 = static_cast<int>(z.y0 * client.height);
        const int y1 = static_cast<int>(z.y1 * client.height);
        if (y1 < client.height) painter.drawLine(x0, y1, x1, y1);
        if (x1 < client.width) painter.drawLine(x1, y0, x1, y1);
    }
}

void CSplitWnd::mousePressEvent(QMouseEvent* event) {
    pressedCell_.reset();
    border_.reset();
    if (event->button() != Qt::LeftButton) return;
    const PanelWall* wall = dialog_.Editor().Shown();
    if (wall == nullptr) return;
    pressPoint_ = event->position().toPoint();
    border_ = HitBorder(wall->zones, ToPoint(pressPoint_), SizeOf(*this));
    if (border_) {
        setCursor(*border_ == BorderKind::kHorizontal ? Qt::SizeVerCursor : Qt::SizeHorCursor);
        return;
    }
    const auto hit = HitCell(ToPoint(pressPoint_), wall->columns, wall->rows, SizeOf(*this));
    if (!hit) return;
    if (const PanelCell* cell = wall->CellAt(hit->index)) pressedCell_ = cell->monitorId;
}

void CSplitWnd::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (!(event->buttons() & Qt::LeftButton)) {
        const PanelWall* wall = dialog_.Editor().Shown();
        const auto kind = wall ? HitBorder(wall->zones, ToPoint(p), SizeOf(*this)) : std::nullopt;
        if (!kind) {
            unsetCursor();
        } else {
            setCursor(*kind == BorderKind::kHorizontal ? Qt::SizeVerCursor : Qt::SizeHorCursor);
        }
        return;
    }
    if (!pressedCell_ || (p - pressPoint_).manhattanLength() < QApplication::startDragDistance()) {
        return;
    }
    const PanelWall* wall = dialog_.Editor().Shown();
    const PanelCell* cell = wall ? wall->CellOf(*pressedCell_) : nullptr;
    const std::int32_t id = *pressedCell_;
    pressedCell_.reset();
    if (cell == nullptr) return;
    StartDrag(this, DragSource::kView, id,
              ToQRect(CellRect(cell->column, cell->row, wall->columns, wall->rows, SizeOf(*this))),
              pressPoint_);
}

void CSplitWnd::mouseReleaseEvent(QMouseEvent* event) {
    if (border_) {
        dialog_.MoveZoneBorder(*border_, ToPoint(pressPoint_), ToPoint(event->position().toPoint()),
                               SizeOf(*this));
        border_.reset();
        unsetCursor();
    }
    pressedCell_.reset();
}

void CSplitWnd::dragEnterEvent(QDragEnterEvent* event) {
    if (ReadMonitorMime(event->mimeData())) event->acceptProposedAction();
}

void CSplitWnd::dragMoveEvent(QDragMoveEvent* event) {
    const PanelWall* wall = dialog_.Editor().Shown();
    if (wall != nullptr && ReadMonitorMime(event->mimeData()) &&
        HitCell(ToPoint(event->position().toPoint()), wall->columns, wall->rows, SizeOf(*this))) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void CSplitWnd::dropEvent(QDropEvent* event) {
    const auto monitor = ReadMonitorMime(event->mimeData());
    const PanelWall* wall = dialog_.Editor().Shown();
    if (!monitor || wall == nullptr) return;
    const auto hit =
        HitCell(ToPoint(event->position().toPoint()), wall->columns, wall->rows, SizeOf(*this));
    if (!hit) return;  // outside every cell: the tile stays free
    if (monitor->source == DragSource::kStrip) {
        dialog_.PlaceMonitor(monitor->monitorId, hit->index);
    } else {
        dialog_.DropCell(monitor->monitorId, hit->index);
    }
    event->acceptProposedAction();
}

void CSplitWnd::contextMenuEvent(QContextMenuEvent* event) {
    if (dialog_.Editor().Shown() == nullptr) return;
    const double fx = FractionOf(event->pos().x(), width());
    const double fy = FractionOf(event->pos().y(), height());
    const Language language = dialog_.UiLanguage();
    auto text = [language](StringId id) {
        const std::string_view t = Text(id, language);
        return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
    };
    QMenu menu(this);
    const struct {
        const char* id;
        StringId text;
        ZoneCommand command;
    } items[] = {{"32772", StringId::kOpenApp, ZoneCommand::kOpenApp},
                 {"32773", StringId::kCloseApp, ZoneCommand::kCloseApp},
                 {"32774", StringId::kPlayPhotoWall, ZoneCommand::kPlayPhotoWall},
                 {"32775", StringId::kPlayVideo, ZoneCommand::kPlayVideo}};
    for (const auto& item : items) {
        QAction* action = menu.addAction(text(item.text));
        action->setObjectName(item.id);
        connect(action, &QAction::triggered, this, [this, fx, fy, command = item.command] {
            dialog_.RunZoneCommand(command, fx, fy);
        });
    }
    menu.exec(event->globalPos());
}

}  // namespace orv::panel
