// Where the monitor strip puts its tiles and the topology view its cells,
// and which tile or cell lies under a point. Client pixels throughout.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace orv::panel {

struct Point {
    int x = 0;
    int y = 0;

    bool operator==(const Point&) const = default;
};

struct Size {
    int width = 0;
    int height = 0;

    bool operator==(const Size&) const = default;
};

// Left and top inside, right and bottom outside.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool Empty() const { return left >= right || top >= bottom; }
    bool Contains(Point p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    bool operator==(const Rect&) const = default;
};

// --- monitor strip
// Tiles per row: 10 up to 20 tiles, so that the strip keeps two rows of ten;
// beyond that the tiles share two rows, the first one the longer.
int TilesPerRow(std::size_t tileCount);

// The rectangle of each of `tileCount` tiles in list order: the strip's
// width split into TilesPerRow columns, its height into two bands, and each
// tile 5 pixels inside its slot.
std::vector<Rect> StripTileRects(std::size_t tileCount, Size client);

// The index of the first tile rectangle containing `p`.
std::optional<std::size_t> TileAt(const std::vector<Rect>& tiles, Point p);

// --- topology view
struct CellHit {
    std::int32_t index = 0;  // 1-based, column-major
    std::int32_t column = 0;
    std::int32_t row = 0;
    Rect rect;

    bool operator==(const CellHit&) const = default;
};

// The rectangle of the cell at `column`, `row` of a wall of `columns` x `rows`
// drawn into `client` (integer cell sizes, so a remainder stays at the right
// and the bottom).
Rect CellRect(std::int32_t column, std::int32_t row, std::int32_t columns, std::int32_t rows,
              Size client);

// The cell under `p`; nothing outside the client area, on the remainder
// beyond the last cell, or for a wall without cells.
std::optional<CellHit> HitCell(Point p, std::int32_t columns, std::int32_t rows, Size client);

}  // namespace orv::panel
