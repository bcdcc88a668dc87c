#include "refresh/refresh.h"

namespace orv::refresh {
namespace {

bool Set(const char* value) {
    return value != nullptr && value[0] != '\0';
}

}  // namespace

Desktop DesktopFrom(const char* display, const char* waylandDisplay) {
    if (Set(display)) return Desktop::kX11;  // also under Wayland: its X server's windows
    return Set(waylandDisplay) ? Desktop::kWaylandOnly : Desktop::kNone;
}

int VosquethMain(const char* display, const char* waylandDisplay, std::ostream& log) {
    switch (DesktopFrom(display, waylandDisplay)) {
        case Desktop::kNone:
            log << "vosqueth: no display (DISPLAY and WAYLAND_DISPLAY are not set), nothing to "
                   "refresh\n";
            return 0;
        case Desktop::kWaylandOnly:
            log << "vosqueth: Wayland session without an X display, nothing to refresh\n";
            return 0;
        case Desktop::kX11:
            break;
    }
    std::string error;
    if (!RepaintX11Desktop(display, &error)) {
        log << "vosqueth: " << error << "\n";
        return 1;
    }
    return 0;
}

}  // namespace orv::refresh
