// The repaint window on X11, through Xlib.
#include <X11/Xlib.h>

#include "refresh/refresh.h"

namespace orv::refresh {

bool RepaintX11Desktop(const std::string& display, std::string* error) {
    Display* x = XOpenDisplay(display.c_str());
    if (x == nullptr) {
        *error = "cannot open the X display \"" + display + "\"";
        return false;
    }
    for (int screen = 0; screen < ScreenCount(x); ++screen) {
        // Override-redirect, so no window manager frames or delays it; no
        // background, so mapping it paints nothing; no save-under or backing
        // store, so unmapping it leaves every window under it to repaint.
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixmap = None;
        attributes.save_under = False;
        attributes.backing_store = NotUseful;
        const Window window = XCreateWindow(
            x, RootWindow(x, screen), 0, 0, static_cast<unsigned>(DisplayWidth(x, screen)),
            static_cast<unsigned>(DisplayHeight(x, screen)), 0, CopyFromParent, InputOutput,
            CopyFromParent, CWOverrideRedirect | CWBackPixmap | CWSaveUnder | CWBackingStore,
            &attributes);
        XStoreName(x, window, "Vosqueth");
        XMapRaised(x, window);
        XSync(x, False);  // mapped once the server has answered
        XUnmapWindow(x, window);
        XDestroyWindow(x, window);
        XSync(x, False);
    }
    XCloseDisplay(x);
    return true;
}

}  // namespace orv::refresh
