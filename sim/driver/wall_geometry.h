// How the display driver cuts a wall's desktop into the pictures of its
// monitors.
//
// The service describes a wall as its desktop size and its columns and rows;
// every monitor shows one cell of width / columns by height / rows pixels
// (integer division, as the service sizes the cells). With bezel compensation
// the source picture is larger: it continues behind the bezels, `bezel` pixels
// between two neighbouring cells across and down, and those pixels are shown
// by no monitor, so a line crossing the wall stays straight.
//
// Plain values, no threads.
#pragma once

#include <cstdint>

namespace orv::driver {

struct WallGeometry {
    std::uint32_t width = 0;  // the wall's desktop, as in the view creation
    std::uint32_t height = 0;
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    std::uint32_t bezel = 0;  // hidden pixels between neighbouring cells

    // False for an empty wall or cells of no pixels.
    bool Usable() const { return columns != 0 && rows != 0 && CellWidth() && CellHeight(); }
    std::uint32_t CellWidth() const { return columns ? width / columns : 0; }
    std::uint32_t CellHeight() const { return rows ? height / rows : 0; }
    // The source picture: the cells and the bezels between them.
    std::uint32_t SourceWidth() const { return columns * CellWidth() + (columns - 1) * bezel; }
    std::uint32_t SourceHeight() const { return rows * CellHeight() + (rows - 1) * bezel; }
    // The top-left pixel of cell (column, row) in the source picture.
    std::uint32_t CellLeft(std::uint32_t column) const { return column * (CellWidth() + bezel); }
    std::uint32_t CellTop(std::uint32_t row) const { return row * (CellHeight() + bezel); }
};

}  // namespace orv::driver
