#include "panel/model/panel_layout.h"

#include "protocol/control/control_protocol.h"

namespace orv::panel {
namespace {
constexpr int kTilesPerRowUpTo20 = 10;
constexpr std::size_t kTwoFullRows = 20;
constexpr int kTileInset = 5;
}  // namespace

int TilesPerRow(std::size_t tileCount) {
    if (tileCount <= kTwoFullRows) return kTilesPerRowUpTo20;
    return static_cast<int>((tileCount + 1) / 2);
}

std::vector<Rect> StripTileRects(std::size_t tileCount, Size client) {
    std::vector<Rect> rects;
    rects.reserve(tileCount);
    const int perRow = TilesPerRow(tileCount);
    const int w = client.width / perRow;
    const int band = client.height / 2;
    for (std::size_t i = 0; i < tileCount; ++i) {
        const int column = static_cast<int>(i) % perRow;
        const int row = static_cast<int>(i) / perRow;
        Rect r;
        r.left = column * w + kTileInset;
        r.right = (column + 1) * w - kTileInset;
        r.top = row * band + kTileInset;
        r.bottom = r.top + band - 2 * kTileInset;
        rects.push_back(r);
    }
    return rects;
}

std::optional<std::size_t> TileAt(const std::vector<Rect>& tiles, Point p) {
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        if (tiles[i].Contains(p)) return i;
    }
    return std::nullopt;
}

Rect CellRect(std::int32_t column, std::int32_t row, std::int32_t columns, std::int32_t rows,
              Size client) {
    if (columns <= 0 || rows <= 0) return {};
    const int w = client.width / columns;
    const int h = client.height / rows;
    return Rect{column * w, row * h, (column + 1) * w, (row + 1) * h};
}

std::optional<CellHit> HitCell(Point p, std::int32_t columns, std::int32_t rows, Size client) {
    if (columns <= 0 || rows <= 0) return std::nullopt;
    if (!Rect{0, 0, client.width, client.height}.Contains(p)) return std::nullopt;
    for (std::int32_t column = 0; column < columns; ++column) {
        for (std::int32_t row = 0; row < rows; ++row) {
            const Rect r = CellRect(column, row, columns, rows, client);
            if (r.Contains(p))
                return CellHit{control::CellIndex(column, row, rows), column, row, r};
        }
    }
    return std::nullopt;
}

}  // namespace orv::panel
