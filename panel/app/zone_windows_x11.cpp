#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>

#include "panel/app/zone_windows.h"
#include "panel/model/panel_log.h"
#include "platform/process.h"

namespace orv::panel {
namespace {
// Window managers put each top-level window into a frame or two.
constexpr int kSearchDepth = 3;

// A window that went away between the search and a message is no reason to
// end the panel (Xlib's default handler exits).
int LogXError(Display* display, XErrorEvent* error) {
    char text[128] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    PanelLog("X11 request %u on window 0x%lx failed: %s", error->request_code, error->resourceid,
             text);
    return 0;
}
}  // namespace

struct ZoneWindows::Impl {
    Display* display = nullptr;
    Atom pidAtom = None;
    Atom playAtom = None;
    Atom protocolsAtom = None;
    Atom deleteAtom = None;

    std::optional<std::int64_t> PidOf(Window w) const {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) != Success) {
            return std::nullopt;
        }
        std::optional<std::int64_t> pid;
        if (data != nullptr && type == XA_CARDINAL && format == 32 && count == 1) {
            pid = static_cast<std::int64_t>(*reinterpret_cast<unsigned long*>(data));
        }
        if (data != nullptr) XFree(data);
        return pid;
    }

    // The first window below `parent` (depth first) whose pid is in `pids`.
    std::optional<ProgramWindow> Search(Window parent, const std::vector<int>& pids, int depth) {
        Window root = None, up = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, parent, &root, &up, &children, &count)) return std::nullopt;
        std::optional<ProgramWindow> found;
        for (unsigned int i = 0; i < count && !found; ++i) {
            const auto pid = PidOf(children[i]);
            if (pid && std::find(pids.begin(), pids.end(), *pid) != pids.end()) {
                found = ProgramWindow{*pid, children[i]};
            } else if (depth > 1) {
                found = Search(children[i], pids, depth - 1);
            }
        }
        if (children != nullptr) XFree(children);
        return found;
    }

    bool SendMessage(Window w, Atom type, long data0) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = type;
        e.xclient.format = 32;
        e.xclient.data.l[0] = data0;
        e.xclient.data.l[1] = CurrentTime;
        const bool sent = XSendEvent(display, w, False, NoEventMask, &e) != 0;
        XFlush(display);
        return sent;
    }
};

ZoneWindows::ZoneWindows(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ZoneWindows::~ZoneWindows() {
    XCloseDisplay(impl_->display);
}

std::unique_ptr<ZoneWindows> ZoneWindows::Open(const std::string& display) {
    XSetErrorHandler(LogXError);
    auto impl = std::make_unique<Impl>();
    impl->display = XOpenDisplay(display.c_str());
    if (impl->display == nullptr) {
        PanelLog("cannot open the wall's display %s", display.c_str());
        return nullptr;
    }
    impl->pidAtom = XInternAtom(impl->display, "_NET_WM_PID", False);
    impl->playAtom = XInternAtom(impl->display, kPlayMessageAtom, False);
    impl->protocolsAtom = XInternAtom(impl->display, "WM_PROTOCOLS", False);
    impl->deleteAtom = XInternAtom(impl->display, "WM_DELETE_WINDOW", False);
    return std::unique_ptr<ZoneWindows>(new ZoneWindows(std::move(impl)));
}

std::optional<ProgramWindow> ZoneWindows::Find(std::string_view program,
                                               const std::vector<std::int64_t>& used) {
    std::vector<int> pids = platform::FindProcesses(program);
    std::erase_if(pids,
                  [&](int pid) { return std::find(used.begin(), used.end(), pid) != used.end(); });
    if (pids.empty()) return std::nullopt;
    return impl_->Search(DefaultRootWindow(impl_->display), pids, kSearchDepth);
}

bool ZoneWindows::Place(std::uint64_t window, const Rect& rect) {
    if (rect.Empty()) return false;
    XMoveResizeWindow(impl_->display, window, rect.left, rect.top,
                      static_cast<unsigned>(rect.right - rect.left),
                      static_cast<unsigned>(rect.bottom - rect.top));
    XFlush(impl_->display);
    return true;
}

bool ZoneWindows::SendPlay(std::uint64_t window) {
    return impl_->SendMessage(window, impl_->playAtom, 0);
}

bool ZoneWindows::Close(std::uint64_t window) {
    return impl_->SendMessage(window, impl_->protocolsAtom, static_cast<long>(impl_->deleteAtom));
}

}  // namespace orv::panel
