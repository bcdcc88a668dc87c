// panel-screenshots DIR: writes pictures of the panel's windows into DIR so
// they can be looked at: the main dialog in English and Chinese with a 2 x 2
// wall, placed monitors and a zone template, the simulated wall those
// monitors make, the server list with one server, Set Monitor ID, About and
// Pellandra. The main dialog runs against the whole wall (service, adapter
// simulator and display-driver stand-in on private ports and folders); the
// windows are shown on a private Xvfb desktop, which the driver captures for
// the wall, or drawn offscreen when Xvfb is not installed.
#include <Poco/Net/DatagramSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "msgbox/pellandra_dlg.h"
#include "panel/app/kalmiro_dlg.h"
#include "panel/app/panel_dialogs.h"
#include "panel/app/service_manage_dlg.h"
#include "panel/model/panel_log.h"
#include "platform/registry.h"
#include "tests/support/service_lists.h"
#include "tests/support/wall_rig.h"
#include "tests/support/xvfb.h"

using namespace orv;
using namespace orv::panel;

namespace {

QString g_dir;

bool Save(QWidget& widget, const char* name) {
    widget.show();
    QApplication::processEvents();
    const QString path = g_dir + "/" + name + ".png";
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", path.toUtf8().constData());
    return ok;
}

// Lets queued calls from the receive thread arrive.
void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Waits (at most 30 s) until `done`, letting queued calls arrive.
bool SettleUntil(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 30000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// The main dialog against the whole wall. The first call builds the 2 x 2
// wall and places three of the four monitors; both choose zone template 2,
// which the service does not keep. `whileShown` runs with the dialog on the
// screen.
bool MainDialog(orv::testing::WallRig& rig, Language language, const char* name,
                const std::function<bool(CKalmiroDlg&)>& whileShown = {}) {
    CKalmiroDlg dialog(language, "/dev/null");
    dialog.SetMessageShower(
        [](const QString& text) { std::printf("message: %s\n", text.toUtf8().constData()); });
    if (!dialog.Start("127.0.0.1", rig.ControlPort())) return false;
    dialog.resize(1100, 720);
    dialog.show();
    auto* create = dialog.findChild<QPushButton*>("1006");
    auto* reset = dialog.findChild<QPushButton*>("1036");
    if (create->isEnabled()) {
        create->click();
        if (!SettleUntil([&] { return reset->isEnabled(); })) {
            std::fprintf(stderr, "the service did not build the wall\n");
            return false;
        }
        const auto& tiles = dialog.Editor().Strip().Tiles();
        for (std::size_t i = 0; i + 1 < tiles.size() && i < 3; ++i)
            dialog.PlaceMonitor(tiles[i].monitorId, static_cast<std::int32_t>(i + 1));
    }
    emit dialog.findChild<QComboBox*>("1024")->activated(2);
    Settle(500);
    return Save(dialog, name) && (!whileShown || whileShown(dialog));
}

// The simulated wall: each monitor placed in the dialog's wall with its
// picture at its place, taken once each has shown frames and all show the
// same frame (the simulator reads one adapter after the other while frames
// flow).
bool SimulatedWall(orv::testing::WallRig& rig, const CKalmiroDlg& dialog) {
    const PanelWall* wall = dialog.Editor().Shown();
    if (wall == nullptr) return false;
    std::vector<std::string> placed;
    std::string placement;
    for (const PanelCell& cell : wall->cells) {
        placed.push_back(rig.MonitorWithId(cell.monitorId));
        placement += " " + placed.back() + "=" + std::to_string(cell.column) + "," +
                     std::to_string(cell.row);
    }
    const std::int64_t since = orv::testing::NowMicros();
    if (placed.empty() || !rig.EachFlippedSince(placed, since, 3, std::chrono::seconds(60))) {
        std::fprintf(stderr, "the placed monitors show no frames: %s\n",
                     rig.Sim("flips 3").c_str());
        return false;
    }
    const std::string path = (g_dir + "/simulated-wall.png").toStdString();
    std::string answer;
    for (int i = 0; i < 20; ++i) {
        answer = rig.Sim("wall-png " + path + placement);
        std::set<std::string> frames;
        std::stringstream shown(answer.substr(answer.rfind(' ') + 1));
        for (std::string frame; std::getline(shown, frame, ',');) frames.insert(frame);
        if (frames.size() == 1) break;
    }
    std::printf("%s %s (%s)\n", answer.rfind("ok", 0) == 0 ? "wrote" : "could not write",
                path.c_str(), answer.c_str());
    return answer.rfind("ok", 0) == 0;
}

bool ServerListDialog() {
    std::uint16_t port = 0;
    {
        Poco::Net::DatagramSocket probe(Poco::Net::SocketAddress("127.0.0.1", 0));
        port = probe.address().port();
    }
    ServiceManageDlg dialog(Language::kEnglish, port, "/dev/null");
    dialog.SetMessageShower([](const QString&) {});
    dialog.resize(520, 300);
    Poco::Net::DatagramSocket sender(Poco::Net::SocketAddress("127.0.0.1", 0));
    const auto announcement = EncodeAnnouncement({1030, "127.0.0.1"});
    auto* list = dialog.findChild<QTreeWidget*>("1028");
    for (int i = 0; i < 100 && list->topLevelItemCount() == 0; ++i) {
        sender.sendTo(announcement.data(), static_cast<int>(announcement.size()),
                      Poco::Net::SocketAddress("127.0.0.1", port));
        Settle(50);
    }
    return Save(dialog, "server-list");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: panel-screenshots DIR\n");
        return 2;
    }
    // The wall's desktop is a private X server that the driver captures and
    // the windows are shown on, so the simulated wall shows the panel; without
    // Xvfb the windows are drawn offscreen and the wall shows the driver's
    // test pattern.
    std::unique_ptr<orv::testing::PrivateXvfb> xvfb;
    std::vector<std::string> source;
    if (orv::testing::PrivateXvfb::Installed())
        xvfb = std::make_unique<orv::testing::PrivateXvfb>("1920x1080x24");
    if (xvfb && !xvfb->Display().empty()) {
        setenv("DISPLAY", xvfb->Display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        source = {"--source", "x11:" + xvfb->Display()};
    } else {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    g_dir = argv[1];
    SetPanelLogQuiet(true);
    orv::testing::WallRig rig({ZENTRELLE, SIMULATOR, DISPLAY_DRIVER, FAKE_SYSTEMCTL}, "shots");
    // The panel finds the wall's desktop where the driver publishes it, and
    // the players beside the build's.
    setenv("ORV_RUNTIME_DIR", rig.Env().at("ORV_RUNTIME_DIR").c_str(), 1);
    const std::string path = std::filesystem::path(TESSIVAL).parent_path().string() + ":" +
                             (std::getenv("PATH") ? std::getenv("PATH") : "");
    setenv("PATH", path.c_str(), 1);
    if (!rig.StartSim() || !rig.StartService() || !rig.StartDriver(source, 5).Started() ||
        !orv::testing::WaitForFileContaining(
            rig.LogPath(), "VW Controller and service manager build", std::chrono::seconds(20))) {
        std::fprintf(stderr, "the wall did not start:\n%s\n", rig.Log().c_str());
        return 1;
    }
    // A monitor's id is logged before the service lists it.
    for (int i = 0; i < 100; ++i) {
        const auto lists = test::AskServiceLists(rig.ControlPort());
        if (lists && lists->monitors.size() == 4u) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    bool ok = MainDialog(rig, Language::kEnglish, "main-english");
    // The Chinese panel stays on the wall's desktop for the wall's picture,
    // with the video player in the top right zone.
    ok = MainDialog(rig, Language::kChinese, "main-chinese",
                    [&](CKalmiroDlg& dialog) {
                        if (xvfb) dialog.RunZoneCommand(ZoneCommand::kPlayVideo, 0.75, 0.25);
                        Settle(500);
                        const bool shown = SimulatedWall(rig, dialog);
                        if (xvfb) dialog.RunZoneCommand(ZoneCommand::kCloseApp, 0.75, 0.25);
                        return shown;
                    }) &&
         ok;
    ok = ServerListDialog() && ok;
    CSetMonitorId setId(8, Language::kEnglish);
    ok = Save(setId, "set-monitor-id") && ok;
    const auto registry = platform::Registry::Parse(
        "[Software\\ORVVideoWallInfo]\nPackageVersion=REG_SZ:0.3.0.1\n"
        "FirmwareVersion=REG_SZ:v 00.00.1300.0000\n");
    CAboutDialog about(Language::kChinese, registry);
    ok = Save(about, "about-chinese") && ok;
    msgbox::CPellandraDlg pellandra;
    ok = Save(pellandra, "pellandra") && ok;
    return ok ? 0 : 1;
}
