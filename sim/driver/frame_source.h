// Where the display driver's desktop pictures come from.
//
// A source renders the whole wall's source picture (WallGeometry::SourceWidth
// x SourceHeight, BGRX) for one frame number; the driver then cuts and encodes
// the cells. Sources:
//   pattern  a moving test pattern (MakeTestPattern): each cell filled with its
//            own colour (PatternColour) and showing its column, its row and
//            the frame number in large digits; a block runs along the bottom
//            of the wall, one step per frame, across the bezels.
//   still    a PNG picture, scaled to the source picture (nearest pixel).
//   x11      an X11 display (x11_source.h), scaled likewise.
//
// Threads: a source is used by one thread at a time (the driver's frame
// thread). Render may block for one capture (x11); the others do not block.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/png/png_io.h"
#include "sim/driver/wall_geometry.h"

namespace orv::driver {

// A BGRX picture, rows of 4 * width bytes.
using Picture = png::Image;

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Renders frame `number` into `picture` (sized by the source). False when
    // there is no new picture (a capture failed); `picture` then keeps the
    // last one.
    virtual bool Render(std::uint32_t number, Picture& picture) = 0;
    // True when every frame is the same picture: it is encoded once.
    virtual bool Still() const { return false; }
};

// The background colour of cell (column, row) in the test pattern, as B, G, R.
// The top-left quarter of every cell shows it at every frame (the text and
// the moving block stay clear of it), so a snapshot can tell the cells apart.
struct Colour {
    std::uint8_t b = 0, g = 0, r = 0;
};
Colour PatternColour(std::uint32_t column, std::uint32_t row);

std::unique_ptr<FrameSource> MakeTestPattern(const WallGeometry& wall);

// Reads the PNG at `path`; nothing (and `error`) when it cannot be read.
std::unique_ptr<FrameSource> MakeStillPicture(const WallGeometry& wall, const std::string& path,
                                              std::string* error);

// Scales `from` to `to`'s size, nearest pixel (a copy when the sizes match).
void ScaleNearest(const std::uint8_t* from, std::uint32_t fromWidth, std::uint32_t fromHeight,
                  std::uint32_t fromStride, Picture& to);

// Draws `text` (digits, space and the letters C, F, R) with the built-in
// glyphs: each glyph 5 x 7 cells of `scale` pixels, one cell between glyphs,
// top-left at (x, y), clipped to the picture. Unknown characters are blank.
void DrawText(Picture& picture, std::uint32_t x, std::uint32_t y, std::uint32_t scale,
              const std::string& text, Colour colour);

}  // namespace orv::driver
