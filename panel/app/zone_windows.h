// Program windows on the wall's X11 desktop: finding the window of a
// program the panel started, moving it onto its zone, telling it to play,
// and closing it.
//
// Each zone program gets its "play" as a ClientMessage of type
// kPlayMessageAtom (format 32, no data) sent to its top-level window, and a
// close as the WM_DELETE_WINDOW message of the window manager protocol.
//
// One object holds one connection to one display. UI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/model/panel_layout.h"

namespace orv::panel {

inline constexpr const char* kPlayMessageAtom = "_ORV_ZONE_PLAY";

struct ProgramWindow {
    std::int64_t processId = 0;
    std::uint64_t window = 0;
};

class ZoneWindows {
public:
    // A connection to `display` (":0"); nullptr when it cannot be opened.
    static std::unique_ptr<ZoneWindows> Open(const std::string& display);
    ~ZoneWindows();
    ZoneWindows(const ZoneWindows&) = delete;
    ZoneWindows& operator=(const ZoneWindows&) = delete;

    // The first top-level window (by _NET_WM_PID) of a process named
    // `program` whose id is not in `used`.
    std::optional<ProgramWindow> Find(std::string_view program,
                                      const std::vector<std::int64_t>& used);
    // Moves and sizes the window to `rect` of the root window.
    bool Place(std::uint64_t window, const Rect& rect);
    bool SendPlay(std::uint64_t window);
    bool Close(std::uint64_t window);

private:
    struct Impl;
    explicit ZoneWindows(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace orv::panel
