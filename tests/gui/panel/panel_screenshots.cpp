// panel-screenshots DIR: writes pictures of the panel's windows into DIR so
// they can be looked at: the main dialog in English and Chinese with a 2 x 2
// wall, placed monitors and a zone template, the server list with one
// server, Set Monitor ID, About and Pellandra. The panel runs against the
// fake control service, on whatever Qt platform is chosen (offscreen in
// scripts/screenshots).
#include <Poco/Net/DatagramSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <cstdio>

#include "msgbox/pellandra_dlg.h"
#include "panel/app/kalmiro_dlg.h"
#include "panel/app/panel_dialogs.h"
#include "panel/app/service_manage_dlg.h"
#include "panel/model/panel_log.h"
#include "platform/registry.h"
#include "tests/support/fake_control_service.h"

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

bool MainDialog(Language language, const char* name) {
    test::FakeControlService service;
    control::WallList walls;
    walls.selection = 1;
    walls.walls.push_back(
        control::PanelWallRecord(1, control::kPixelMode4K, 2, 2, 2, TemplateZones(2)));
    service.SetWalls(walls);
    service.SetMonitors({{{1, 0, 0, 3},
                          {2, 0, 1, 5},
                          {3, 1, 0, 7},
                          {-1, -1, -1, 8},
                          {-1, -1, -1, 11},
                          {-1, -1, -1, 12}}});
    CKalmiroDlg dialog(language, "/dev/null");
    dialog.SetMessageShower([](const QString&) {});
    if (!dialog.Start("127.0.0.1", service.Port())) return false;
    dialog.resize(1100, 720);
    dialog.PlaceMonitor(8, 4);
    Settle(100);
    return Save(dialog, name);
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
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: panel-screenshots DIR\n");
        return 2;
    }
    g_dir = argv[1];
    SetPanelLogQuiet(true);
    bool ok = MainDialog(Language::kEnglish, "main-english");
    ok = MainDialog(Language::kChinese, "main-chinese") && ok;
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
