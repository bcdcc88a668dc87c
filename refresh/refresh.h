// vosqueth: makes every window of the user's desktop repaint after the wall
// layout changed, then ends. The service starts it in the user's session.
//
// On X11 it maps one full-screen override-redirect window on every screen
// and unmaps it again: the window has no background and draws nothing, and
// unmapping it exposes every window under it, so each repaints over the new
// monitor arrangement. Under Wayland there is nothing to do (the compositor
// lays out its clients itself), nor without any display.
//
// No state is shared between runs: two instances started together each do
// their own map and unmap. Single-threaded; no locks.
#pragma once

#include <ostream>
#include <string>

namespace orv::refresh {

// The desktop the helper finds, from the values of DISPLAY and
// WAYLAND_DISPLAY (null or empty when not set).
enum class Desktop { kX11, kWaylandOnly, kNone };
Desktop DesktopFrom(const char* display, const char* waylandDisplay);

// Maps and unmaps the repaint window on every screen of the X display
// `display`, waiting until the server has done both. False, with `error`
// set, when the display cannot be opened.
bool RepaintX11Desktop(const std::string& display, std::string* error);

// The program: what DesktopFrom finds decides what is done; every decision
// and failure is one line on `log`. Returns the exit status: 0 when the
// desktop was refreshed or there was nothing to do, 1 when the X display
// named could not be opened.
int VosquethMain(const char* display, const char* waylandDisplay, std::ostream& log);

}  // namespace orv::refresh
