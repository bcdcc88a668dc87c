#include "refresh/refresh.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>

#include "tests/support/child_process.h"
#include "tests/support/eventually.h"
#include "tests/support/xvfb.h"

// Last: Xlib defines macros (None, Bool) that clash with GoogleTest names.
#include <X11/Xlib.h>

namespace orv::refresh {
namespace {

using namespace std::chrono_literals;
using orv::test::Eventually;
using orv::testing::ChildProcess;
using orv::testing::PrivateXvfb;

TEST(Vosqueth, DoesNothingUnderWaylandOrWithoutDisplay) {
    std::ostringstream log;
    EXPECT_EQ(VosquethMain(nullptr, "wayland-0", log), 0);
    EXPECT_NE(log.str().find("Wayland session without an X display"), std::string::npos)
        << log.str();
    log.str("");
    EXPECT_EQ(VosquethMain("", nullptr, log), 0);
    EXPECT_NE(log.str().find("no display"), std::string::npos) << log.str();
    EXPECT_EQ(DesktopFrom(":0", "wayland-0"), Desktop::kX11);  // the X server of the session
}

TEST(Vosqueth, DisplayThatCannotBeOpenedFails) {
    std::ostringstream log;
    EXPECT_EQ(VosquethMain(":65000", nullptr, log), 1);
    EXPECT_NE(log.str().find("cannot open the X display \":65000\""), std::string::npos)
        << log.str();
}

// A second X client on a private Xvfb: it watches the root window's children
// and owns a probe window whose Expose events show that windows repaint.
class VosquethOnXvfb : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivateXvfb::Installed()) GTEST_SKIP() << "no Xvfb";
        xvfb_ = std::make_unique<PrivateXvfb>();
        ASSERT_FALSE(xvfb_->Display().empty()) << "Xvfb did not start";
        x_ = XOpenDisplay(xvfb_->Display().c_str());
        ASSERT_NE(x_, nullptr);
        const Window root = DefaultRootWindow(x_);
        XSelectInput(x_, root, SubstructureNotifyMask);
        probe_ = XCreateSimpleWindow(x_, root, 10, 10, 100, 100, 0, 0, 0);
        XSelectInput(x_, probe_, ExposureMask);
        XMapWindow(x_, probe_);
        ASSERT_TRUE(Eventually([&] {
            Poll();
            return exposures_ > 0;
        }));
        exposures_ = 0;
    }
    void TearDown() override {
        if (x_ != nullptr) XCloseDisplay(x_);
    }

    // Takes every queued event: counts the helper's full-screen
    // override-redirect windows as they are created, mapped and unmapped,
    // and the probe's exposures (one per Expose sequence).
    void Poll() {
        while (XPending(x_) > 0) {
            XEvent e;
            XNextEvent(x_, &e);
            switch (e.type) {
                case CreateNotify:
                    if (e.xcreatewindow.window != probe_ && e.xcreatewindow.override_redirect &&
                        e.xcreatewindow.x == 0 && e.xcreatewindow.y == 0 &&
                        e.xcreatewindow.width == 640 && e.xcreatewindow.height == 480)
                        ++created_;
                    break;
                case MapNotify:
                    if (e.xmap.window != probe_ && e.xmap.override_redirect) ++mapped_;
                    break;
                case UnmapNotify:
                    if (e.xunmap.window != probe_) ++unmapped_;
                    break;
                case Expose:
                    if (e.xexpose.window == probe_ && e.xexpose.count == 0) ++exposures_;
                    break;
                default:
                    break;
            }
        }
    }

    ChildProcess StartVosqueth() {
        // Arguments are ignored.
        return ChildProcess({VOSQUETH, "--about", "x"}, {{"DISPLAY", xvfb_->Display()}});
    }

    std::unique_ptr<PrivateXvfb> xvfb_;
    Display* x_ = nullptr;
    Window probe_ = 0;
    int created_ = 0, mapped_ = 0, unmapped_ = 0, exposures_ = 0;
};

TEST_F(VosquethOnXvfb, MapsAFullScreenWindowAndUnmapsItSoWindowsRepaint) {
    ChildProcess helper = StartVosqueth();
    EXPECT_EQ(helper.Wait(30s), 0);
    EXPECT_TRUE(Eventually([&] {
        Poll();
        return unmapped_ == 1 && exposures_ > 0;
    })) << "unmapped "
        << unmapped_ << ", exposures " << exposures_;
    EXPECT_EQ(created_, 1);
    EXPECT_EQ(mapped_, 1);
}

TEST_F(VosquethOnXvfb, TwoInstancesStartedTogetherBothDoTheirWork) {
    ChildProcess first = StartVosqueth();
    ChildProcess second = StartVosqueth();
    EXPECT_EQ(first.Wait(30s), 0);
    EXPECT_EQ(second.Wait(30s), 0);
    // Their windows may overlap in time, so the probe repaints at least once.
    EXPECT_TRUE(Eventually([&] {
        Poll();
        return unmapped_ == 2 && exposures_ > 0;
    })) << "unmapped "
        << unmapped_ << ", exposures " << exposures_;
    EXPECT_EQ(created_, 2);
    EXPECT_EQ(mapped_, 2);
}

}  // namespace
}  // namespace orv::refresh
