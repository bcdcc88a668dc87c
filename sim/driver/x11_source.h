// The x11 frame source: captures the root window of an X11 display (an Xvfb
// desktop, or a user's own) through the shared-memory extension, or with a
// plain image read when the server cannot share memory with us (a remote
// display), and scales it to the wall's source picture.
//
// Threads: one at a time (FrameSource). Render blocks for one round trip to
// the X server. Xlib ends the process when the display connection breaks (its
// default I/O error handler); that is left as it is, since the driver then
// has nothing to show.
#pragma once

#include <memory>
#include <string>

#include "sim/driver/frame_source.h"

namespace orv::driver {

// `display`: an X display name (":99"); empty for $DISPLAY. Nothing (and
// `error`) when the display cannot be opened or its pixels are not 32-bit
// little-endian BGRX (depth 24 or 32 TrueColor).
std::unique_ptr<FrameSource> MakeX11Capture(const WallGeometry& wall, const std::string& display,
                                            std::string* error);

}  // namespace orv::driver
