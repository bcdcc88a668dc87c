#include "sim/driver/x11_source.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/paths.h"

namespace orv::driver {
namespace {

// Xlib reports protocol errors through one process-wide handler; a failed
// attach of the shared segment is the one we expect (a remote server).
std::atomic<bool> gXError{false};

int RecordXError(Display*, XErrorEvent*) {
    gXError = true;
    return 0;
}

// Where the captured desktop is published for the panel, which places its
// zone programs on it: one line "<display> <x> <y> <width> <height>" in the
// runtime folder (read by the panel's ReadWallDesktop). Written atomically;
// nothing is written when the runtime folder does not exist.
std::string WallDesktopPath() {
    return platform::RuntimeDir() + "/wall-desktop";
}

bool PublishWallDesktop(const char* display, std::uint32_t width, std::uint32_t height) {
    const std::string path = WallDesktopPath();
    if (!std::filesystem::is_directory(std::filesystem::path(path).parent_path())) return false;
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << display << " 0 0 " << width << " " << height << "\n";
        out.flush();
        if (!out) return false;
    }
    std::error_code error;
    std::filesystem::rename(temp, path, error);
    return !error;
}

class X11Capture final : public FrameSource {
public:
    X11Capture(const WallGeometry& wall, Display* display) : wall_(wall), display_(display) {}

    ~X11Capture() override {
        if (shared_) {
            XShmDetach(display_, &shm_);
            XSync(display_, False);
        }
        if (image_) {
            image_->data = nullptr;  // the segment is detached below, not freed
            XDestroyImage(image_);
        }
        if (shm_.shmaddr && shm_.shmaddr != reinterpret_cast<char*>(-1)) shmdt(shm_.shmaddr);
        if (published_) {
            std::error_code ignored;
            std::filesystem::remove(WallDesktopPath(), ignored);
        }
        XCloseDisplay(display_);
    }

    // Sets up the shared image; false leaves the plain image read.
    bool Init(std::string* error) {
        XSetErrorHandler(RecordXError);
        const int screen = DefaultScreen(display_);
        root_ = RootWindow(display_, screen);
        width_ = static_cast<std::uint32_t>(DisplayWidth(display_, screen));
        height_ = static_cast<std::uint32_t>(DisplayHeight(display_, screen));
        Visual* visual = DefaultVisual(display_, screen);
        const int depth = DefaultDepth(display_, screen);
        if ((depth != 24 && depth != 32) || visual->red_mask != 0xFF0000 ||
            visual->green_mask != 0xFF00 || visual->blue_mask != 0xFF ||
            ImageByteOrder(display_) != LSBFirst) {
            if (error) *error = "the X display's pixels are not 32-bit BGRX";
            return false;
        }
        published_ = PublishWallDesktop(DisplayString(display_), width_, height_);
        if (!XShmQueryExtension(display_)) return true;
        image_ = XShmCreateImage(display_, visual, static_cast<unsigned>(depth), ZPixmap, nullptr,
                                 &shm_, width_, height_);
        if (!image_) return true;
        shm_.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image_->bytes_per_line) * height_,
                            IPC_CREAT | 0600);
        if (shm_.shmid >= 0) {
            shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
            // Removed now: the segment lives until both sides detach.
            shmctl(shm_.shmid, IPC_RMID, nullptr);
            shm_.readOnly = False;
            gXError = false;
            shared_ = shm_.shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(display_, &shm_);
            XSync(display_, False);
            if (gXError) shared_ = false;  // the server could not attach (not our machine)
        }
        if (!shared_) {
            if (shm_.shmaddr && shm_.shmaddr != reinterpret_cast<char*>(-1)) shmdt(shm_.shmaddr);
            shm_.shmaddr = nullptr;
            image_->data = nullptr;
            XDestroyImage(image_);
            image_ = nullptr;
        }
        return true;
    }

    bool Render(std::uint32_t, Picture& p) override {
        p.width = wall_.SourceWidth();
        p.height = wall_.SourceHeight();
        XImage* image = image_;
        if (shared_) {
            if (!XShmGetImage(display_, root_, image_, 0, 0, AllPlanes)) return false;
        } else {
            image = XGetImage(display_, root_, 0, 0, width_, height_, AllPlanes, ZPixmap);
            if (!image) return false;
        }
        bool ok = image->bits_per_pixel == 32;
        if (ok)
            ScaleNearest(reinterpret_cast<const std::uint8_t*>(image->data), width_, height_,
                         static_cast<std::uint32_t>(image->bytes_per_line), p);
        if (image != image_) XDestroyImage(image);
        return ok;
    }

private:
    const WallGeometry wall_;
    Display* const display_;
    Window root_ = 0;
    std::uint32_t width_ = 0, height_ = 0;
    XShmSegmentInfo shm_{};
    XImage* image_ = nullptr;  // the shared image, when shared_
    bool shared_ = false;
    bool published_ = false;  // the wall-desktop file is ours to remove
};

}  // namespace

std::unique_ptr<FrameSource> MakeX11Capture(const WallGeometry& wall, const std::string& display,
                                            std::string* error) {
    Display* d = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (!d) {
        if (error) *error = "cannot open the X display " + (display.empty() ? "$DISPLAY" : display);
        return nullptr;
    }
    auto capture = std::make_unique<X11Capture>(wall, d);
    if (!capture->Init(error)) return nullptr;
    return capture;
}

}  // namespace orv::driver
