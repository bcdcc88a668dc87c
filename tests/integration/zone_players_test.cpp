// The zone players on a private X server: the panel's window helper finds a
// player by its process, moves it onto a zone, tells it to play and closes
// it.
#include <gtest/gtest.h>

#include "panel/app/zone_windows.h"
#include "tests/support/child_process.h"
#include "tests/support/eventually.h"
#include "tests/support/xvfb.h"

// Last: Xlib defines None, which GoogleTest uses as a name.
#include <X11/Xlib.h>

using namespace orv;
using namespace orv::testing;
using namespace std::chrono_literals;

namespace {

// The window's place on the root window.
panel::Rect Geometry(const std::string& display, std::uint64_t window) {
    Display* d = XOpenDisplay(display.c_str());
    if (d == nullptr) return {};
    XWindowAttributes a{};
    Window child = None;
    int x = 0, y = 0;
    XGetWindowAttributes(d, window, &a);
    XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &x, &y, &child);
    XCloseDisplay(d);
    return {x, y, x + a.width, y + a.height};
}

TEST(ZonePlayers, APlayerIsFoundPlacedPlayedAndClosed) {
    if (!PrivateXvfb::Installed()) GTEST_SKIP() << "no Xvfb";
    PrivateXvfb x;
    ASSERT_FALSE(x.Display().empty());
    const std::map<std::string, std::string> env{{"DISPLAY", x.Display()},
                                                 {"QT_QPA_PLATFORM", "xcb"}};
    ChildProcess video({TESSIVAL}, env);
    ASSERT_TRUE(video.Started());

    auto windows = panel::ZoneWindows::Open(x.Display());
    ASSERT_NE(windows, nullptr);
    std::optional<panel::ProgramWindow> found;
    ASSERT_TRUE(
        orv::test::Eventually([&] { return (found = windows->Find("tessival", {})).has_value(); }));
    // A process the wall already uses is not taken again.
    EXPECT_FALSE(windows->Find("tessival", {found->processId}));

    const panel::Rect zone{320, 0, 640, 240};
    ASSERT_TRUE(windows->Place(found->window, zone));
    EXPECT_TRUE(
        orv::test::Eventually([&] { return Geometry(x.Display(), found->window) == zone; }));
    ASSERT_TRUE(windows->SendPlay(found->window));
    EXPECT_TRUE(orv::test::Eventually(
        [&] { return video.Output().find("tessival: playing") != std::string::npos; }));

    ASSERT_TRUE(windows->Close(found->window));
    EXPECT_EQ(video.Wait(15s), 0);
}

TEST(ZonePlayers, ThePhotoWallPlayerPlaysItsFolder) {
    if (!PrivateXvfb::Installed()) GTEST_SKIP() << "no Xvfb";
    PrivateXvfb x;
    ASSERT_FALSE(x.Display().empty());
    TempDir folder;
    ChildProcess photos({LUMBRAE, "--folder", folder.Path(), "--interval", "2"},
                        {{"DISPLAY", x.Display()}, {"QT_QPA_PLATFORM", "xcb"}});
    auto windows = panel::ZoneWindows::Open(x.Display());
    ASSERT_NE(windows, nullptr);
    std::optional<panel::ProgramWindow> found;
    ASSERT_TRUE(
        orv::test::Eventually([&] { return (found = windows->Find("lumbrae", {})).has_value(); }));
    ASSERT_TRUE(windows->SendPlay(found->window));
    EXPECT_TRUE(orv::test::Eventually(
        [&] { return photos.Output().find("lumbrae: playing") != std::string::npos; }));
    ASSERT_TRUE(windows->Close(found->window));
    EXPECT_EQ(photos.Wait(15s), 0);
}

}  // namespace
