// WallGrid: which monitor shows each cell of a built wall, and
// WallLayoutLock, the process-wide lock that guards every grid's cells and
// its link to the driver's view.
//
// The wall model (COvwUI) writes cells while it places monitors and clears
// them, in the first phase of a monitor's removal, before the monitor is
// destroyed; the frame thread of the wall's view follows the cells while it
// routes a frame. Both hold WallLayoutLock, so a frame never sees a
// half-updated layout and never reaches a monitor that is gone.
//
// Lock order: WallLayoutLock first; under it the wall model may take its
// view-map mutex and an adapter's ModeSetLock (placing), the frame dispatch
// its record lock and the adapters' queue locks. Nothing is held when
// WallLayoutLock is taken, except the wall model's own leaf-free callers.
#pragma once

#include <vector>

#include "common/thread_annotations.h"
#include "service/adapter/monitor.h"

namespace orv::driver {
class COvwWallView;
}

namespace orv::wall {

inline Mutex WallLayoutLock;

// A FrameRecord names at most this many monitors; BuildWall refuses larger
// walls.
inline constexpr int kMaxWallMonitors = 20;

struct WallGrid {
    WallGrid(int columnCount, int rowCount, int width, int height, int monitorW, int monitorH)
        : columns(columnCount),
          rows(rowCount),
          totalWidth(width),
          totalHeight(height),
          monitorWidth(monitorW),
          monitorHeight(monitorH),
          cells(static_cast<std::size_t>(columnCount * rowCount), nullptr) {}

    const int columns;
    const int rows;
    const int totalWidth;
    const int totalHeight;
    const int monitorWidth;
    const int monitorHeight;
    int vwid = -1;

    // The wall's view, once the driver created it; cleared before the view
    // is destroyed.
    driver::COvwWallView* view GUARDED_BY(WallLayoutLock) = nullptr;

    // The monitor of cell [column][row]; nullptr for an empty cell or one
    // outside the grid.
    adapter::COvwMonitor* Cell(long column, long row) const REQUIRES(WallLayoutLock) {
        if (column < 0 || row < 0 || column >= columns || row >= rows) return nullptr;
        return cells[static_cast<std::size_t>(column * rows + row)];
    }
    void SetCell(int column, int row, adapter::COvwMonitor* m) REQUIRES(WallLayoutLock) {
        if (column < 0 || row < 0 || column >= columns || row >= rows) return;
        cells[static_cast<std::size_t>(column * rows + row)] = m;
    }
    // Empties every cell that shows `m`. True when any monitor is left.
    bool Forget(const adapter::COvwMonitor* m) REQUIRES(WallLayoutLock) {
        bool any = false;
        for (adapter::COvwMonitor*& cell : cells) {
            if (cell == m) cell = nullptr;
            any = any || cell != nullptr;
        }
        return any;
    }

private:
    // Indexed column * rows + row.
    std::vector<adapter::COvwMonitor*> cells GUARDED_BY(WallLayoutLock);
};

}  // namespace orv::wall
