// The main dialog on the offscreen platform against the whole wall:
// zentrelle, the adapter simulator (two adapters of two 1920 x 1080
// monitors) and the display-driver stand-in, on private ports and folders.
// Drags start from the strip's tiles and the view's cells as the user starts
// them; what they do reaches the service, which lists it (asked on a
// connection of the test's own: the service serves one panel at a time and
// keeps its lists across connections) and shows it on the simulated
// monitors.
//
// Starting the wall is the slow part, so one wall serves every function;
// they run in order, each leaving the wall as the next one expects it.
#include <signal.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "panel/app/kalmiro_dlg.h"
#include "panel/app/panel_mime.h"
#include "panel/app/panel_widgets.h"
#include "panel/model/panel_log.h"
#include "tests/support/eventually.h"
#include "tests/support/panel_drag.h"
#include "tests/support/service_lists.h"
#include "tests/support/wall_rig.h"

using namespace orv;
using namespace orv::panel;
using orv::test::CellCentre;
using orv::test::Drop;
using orv::test::ServiceLists;
using orv::test::StartDrag;
using namespace std::chrono_literals;

namespace {

constexpr std::pair<int, int> kFree{-1, -1};

}  // namespace

class KalmiroWallTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<orv::testing::WallRig> rig_;
    std::unique_ptr<CKalmiroDlg> dialog_;
    QStringList messages_;
    std::vector<std::int32_t> ids_;  // the monitors' ids, as the strip first showed them

    void StartPanel() {
        dialog_ = std::make_unique<CKalmiroDlg>(Language::kEnglish, rig_->Root() + "/Language.ini");
        dialog_->SetMessageShower([this](const QString& text) { messages_ << text; });
        QVERIFY(dialog_->Start("127.0.0.1", rig_->ControlPort()));
        dialog_->resize(1000, 700);
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
    }
    // Closes the panel and asks the service for its lists.
    std::optional<ServiceLists> Lists() {
        dialog_.reset();
        return test::AskServiceLists(rig_->ControlPort());
    }
    QWidget* View() { return dialog_->SplitWnd(); }
    CClientListWnd* Strip() { return dialog_->ClientListWnd(); }
    QPushButton* Button(const char* id) { return dialog_->findChild<QPushButton*>(id); }
    // Drags the free tile of `id` from the strip onto cell (column, row).
    bool TileToCell(std::int32_t id, int column, int row) {
        auto drag = StartDrag(Strip(), Strip()->TileRect(id).center());
        return drag && Drop(View(), CellCentre(View(), column, row), *drag->data);
    }
    // Drags the cell at (column, row) onto `target` at `point`.
    bool CellTo(int column, int row, QWidget* target, QPoint point) {
        auto drag = StartDrag(View(), CellCentre(View(), column, row));
        return drag && Drop(target, point, *drag->data);
    }
    // The requests of these types reached the service in this order since
    // `logFrom` (its log names each request's type).
    bool Logged(std::size_t logFrom, std::initializer_list<const char*> types) {
        return test::Eventually([&] {
            const std::string log = rig_->Log();
            std::size_t at = logFrom;
            for (const char* type : types) {
                at = log.find(std::string("Data type:") + type + ".", at);
                if (at == std::string::npos) return false;
            }
            return true;
        });
    }
    // The monitor with `id` flipped frames after `since`.
    bool ShowsFrames(std::int32_t id, std::int64_t since) {
        const std::string monitor = rig_->MonitorWithId(id);
        return !monitor.empty() && rig_->EachFlippedSince({monitor}, since, 3, 60s);
    }

private slots:
    void initTestCase() {
        SetPanelLogQuiet(true);
        rig_ = std::make_unique<orv::testing::WallRig>(
            orv::testing::WallPrograms{ZENTRELLE, SIMULATOR, DISPLAY_DRIVER, FAKE_SYSTEMCTL},
            "kalwall");
        QVERIFY(rig_->StartSim());
        QVERIFY2(rig_->StartService(), rig_->Log().c_str());
        // A few frames a second are plenty and leave the machine's cores to
        // the service and the simulator.
        QVERIFY(rig_->StartDriver({}, 5).Started());
        QVERIFY(orv::testing::WaitForFileContaining(
            rig_->LogPath(), "VW Controller and service manager build", 20s));
        // A monitor's id is logged before the service lists it.
        QVERIFY(test::Eventually([&] {
            const auto lists = Lists();
            return lists && lists->monitors.size() == 4u;
        }));
    }
    void cleanupTestCase() {
        dialog_.reset();
        rig_.reset();
    }
    void init() { messages_.clear(); }

    void TheStripShowsTheMonitorsAndCreateBuildsA4KWall() {
        StartPanel();
        const auto& tiles = dialog_->Editor().Strip().Tiles();
        QCOMPARE(tiles.size(), std::size_t{4});
        for (const PanelMonitor& tile : tiles) {
            QVERIFY(tile.free);
            QVERIFY(!Strip()->TileRect(tile.monitorId).isEmpty());
            ids_.push_back(tile.monitorId);
        }
        QVERIFY(!Button("1036")->isEnabled());
        QTest::mouseClick(Button("1006"), Qt::LeftButton);  // 2 x 2 "4K" as the dialog starts
        QTRY_VERIFY_WITH_TIMEOUT(Button("1036")->isEnabled(), 20000);  // the service built it
        QVERIFY(!Button("1006")->isEnabled());
        QVERIFY(messages_.isEmpty());

        const auto lists = Lists();
        QVERIFY(lists);
        QCOMPARE(lists->walls.walls.size(), std::size_t{1});
        const control::WallRecord& wall = lists->walls.walls[0];
        QCOMPARE(wall.pixelMode, control::kPixelMode4K);
        QCOMPARE(std::pair(wall.columns, wall.rows), std::pair(2, 2));
        QCOMPARE(std::pair(wall.monitorWidth, wall.monitorHeight), std::pair(1920, 1080));
        QCOMPARE(std::pair(wall.totalWidth, wall.totalHeight), std::pair(3840, 2160));
    }

    // Tiles dragged onto cells, onto an occupied cell, cells swapped and one
    // dragged back: the service places and frees the monitors, and placed
    // monitors show the desktop's frames.
    void DragsPlaceMoveSwapAndFreeMonitors() {
        QCOMPARE(ids_.size(), std::size_t{4});
        const std::int32_t a = ids_[0], b = ids_[1], c = ids_[2];
        StartPanel();
        QVERIFY(dialog_->Editor().Shown() != nullptr);  // the service's wall, found again

        // The drag a free tile starts carries the panel's own type, with the
        // tile's picture held where it was pressed; a placed cell's drag
        // says it comes from the view.
        const QRect tile = Strip()->TileRect(a);
        auto drag = StartDrag(Strip(), tile.center());
        QVERIFY(drag);
        QCOMPARE(drag->data->formats(), QStringList{kMonitorMimeType});
        QCOMPARE(ReadMonitorMime(drag->data.get()), DraggedMonitor({DragSource::kStrip, a}));
        QCOMPARE(drag->hotSpot, tile.center() - tile.topLeft());
        QCOMPARE(drag->picture, tile.size());

        const std::int64_t placedAt = orv::testing::NowMicros();
        QVERIFY(Drop(View(), CellCentre(View(), 0, 0), *drag->data));
        QVERIFY(TileToCell(b, 1, 0));
        QVERIFY(!dialog_->Editor().Strip().Find(a)->free);
        auto cell = StartDrag(View(), CellCentre(View(), 1, 0));
        QVERIFY(cell);
        QCOMPARE(ReadMonitorMime(cell->data.get()), DraggedMonitor({DragSource::kView, b}));
        // A placed tile starts no drag.
        QVERIFY(!StartDrag(Strip(), Strip()->TileRect(a).center()));
        auto lists = Lists();
        QVERIFY(lists);
        QCOMPARE(lists->Place(a), std::pair(0, 0));
        QCOMPARE(lists->Place(b), std::pair(1, 0));
        QCOMPARE(lists->Monitor(b)->cellIndex, 3);
        QVERIFY2(ShowsFrames(a, placedAt), rig_->Sim("flips 3").c_str());
        QVERIFY2(ShowsFrames(b, placedAt), rig_->Sim("flips 3").c_str());

        // Onto the occupied cell: the old monitor leaves first (0x5A), then
        // the cells go (0x59).
        StartPanel();
        std::size_t logFrom = rig_->Log().size();
        QVERIFY(TileToCell(c, 0, 0));
        QVERIFY(Logged(logFrom, {"0x5a", "0x59"}));
        QVERIFY(dialog_->Editor().Strip().Find(a)->free);
        lists = Lists();
        QVERIFY(lists);
        QCOMPARE(lists->Place(c), std::pair(0, 0));
        QCOMPARE(lists->Place(a), kFree);

        // c swaps with b, then b (now at 0, 0) goes back to the strip.
        StartPanel();
        logFrom = rig_->Log().size();
        QVERIFY(CellTo(0, 0, View(), CellCentre(View(), 1, 0)));
        QVERIFY(Logged(logFrom, {"0x5b"}));
        QVERIFY(CellTo(0, 0, Strip(), Strip()->TileRect(a).center()));
        QVERIFY(dialog_->Editor().Strip().Find(b)->free);
        const std::int64_t movedAt = orv::testing::NowMicros();
        lists = Lists();
        QVERIFY(lists);
        QCOMPARE(lists->Place(c), std::pair(1, 0));
        QCOMPARE(lists->Place(b), kFree);
        QVERIFY2(ShowsFrames(c, movedAt), rig_->Sim("flips 3").c_str());
    }

    // Renaming a free monitor to an unused id (1), to a free monitor's id
    // (3, they exchange), and to a placed monitor's id (2, refused).
    void SetMonitorIdResults() {
        QCOMPARE(ids_.size(), std::size_t{4});
        const std::int32_t a = ids_[0], b = ids_[1], c = ids_[2];
        StartPanel();
        const auto& strip = dialog_->Editor().Strip();
        dialog_->ChangeMonitorId(a, "77");
        QTRY_VERIFY(strip.Find(77) != nullptr && strip.Find(a) == nullptr);

        const auto position = [&](std::int32_t id) {
            for (std::size_t i = 0; i < strip.Tiles().size(); ++i)
                if (strip.Tiles()[i].monitorId == id) return static_cast<int>(i);
            return -1;
        };
        const int at77 = position(77), atB = position(b);
        dialog_->ChangeMonitorId(77, QString::number(b));
        QTRY_COMPARE(position(b), at77);
        QCOMPARE(position(77), atB);

        dialog_->ChangeMonitorId(77, QString::number(c));
        QTRY_COMPARE(
            messages_,
            QStringList{QString::fromUtf8(Text(StringId::kIdRunning, Language::kEnglish).data())});
        QVERIFY(strip.Find(77) != nullptr);

        const auto lists = Lists();
        QVERIFY(lists);
        QVERIFY(lists->Monitor(77) != nullptr);
        QVERIFY(lists->Monitor(a) == nullptr);
        QCOMPARE(lists->Place(c), std::pair(1, 0));
    }

    // The service's notices of a monitor leaving and coming back (0x57), and
    // of an adapter leaving with its monitors (0x5D).
    void UnpluggedMonitorsLeaveTheStripAndTheirCells() {
        QCOMPARE(ids_.size(), std::size_t{4});
        const std::int32_t c = ids_[2];
        StartPanel();
        QVERIFY(dialog_->Editor().Shown()->CellOf(c) != nullptr);
        const std::string where = rig_->MonitorWithId(c);
        const std::string plug =
            where.substr(0, where.find(':')) + " " + where.substr(where.find(':') + 1);
        QCOMPARE(rig_->Sim("unplug " + plug).substr(0, 2), std::string("ok"));
        const auto& strip = dialog_->Editor().Strip();
        QTRY_VERIFY_WITH_TIMEOUT(strip.Find(c) == nullptr, 10000);
        QVERIFY(dialog_->Editor().Shown()->CellOf(c) == nullptr);
        QCOMPARE(rig_->Sim("plug " + plug).substr(0, 2), std::string("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(strip.Find(c) != nullptr, 20000);
        QVERIFY(strip.Find(c)->free);
        QCOMPARE(strip.Tiles().size(), std::size_t{4});

        // An adapter leaving takes both its monitors in one notice (0x5D).
        QCOMPARE(rig_->Sim("detach a1").substr(0, 2), std::string("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(strip.Tiles().size(), std::size_t{2}, 10000);
        QCOMPARE(rig_->Sim("attach a1").substr(0, 2), std::string("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(strip.Tiles().size(), std::size_t{4}, 30000);
    }

    void ResetDestroysTheWallAndANewOneCanBeBuilt() {
        StartPanel();
        QVERIFY(Button("1036")->isEnabled());
        QTest::mouseClick(Button("1036"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Button("1006")->isEnabled(), 20000);  // 0x63
        QVERIFY(!Button("1036")->isEnabled());
        QVERIFY(dialog_->Editor().Shown() == nullptr);
        for (const PanelMonitor& tile : dialog_->Editor().Strip().Tiles()) QVERIFY(tile.free);
        auto lists = Lists();
        QVERIFY(lists);
        QCOMPARE(lists->walls.walls.size(), std::size_t{0});
        for (const auto& e : lists->monitors) QCOMPARE(std::pair(e.column, e.row), kFree);

        // And a wall can be built again, and placed.
        StartPanel();
        QTest::mouseClick(Button("1006"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Button("1036")->isEnabled(), 20000);
        QVERIFY(TileToCell(ids_[3], 1, 1));
        lists = Lists();
        QVERIFY(lists);
        QCOMPARE(lists->walls.walls.size(), std::size_t{1});
        QCOMPARE(lists->Place(ids_[3]), std::pair(1, 1));
    }

    // The driver lost: the service drops the wall and tells the panel
    // (0x51), which resets; without a driver the service builds no wall
    // (0x61 with 0): message 115.
    void ALostDriverResetsAndCreateThenFails() {
        StartPanel();
        QVERIFY(Button("1036")->isEnabled());
        rig_->Driver()->Signal(SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(Button("1006")->isEnabled(), 20000);
        QVERIFY(!Button("1036")->isEnabled());
        QVERIFY(messages_.isEmpty());
        QTest::mouseClick(Button("1006"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(messages_.size(), 1, 20000);
        QCOMPARE(messages_[0],
                 QString::fromUtf8(Text(StringId::kCreateFailed, Language::kEnglish).data()));
        QTRY_VERIFY_WITH_TIMEOUT(Button("1006")->isEnabled(), 20000);
    }

    // Closing says goodbye (0x5C) and does not wait for the receive thread.
    void ClosingSaysGoodbyeAndEndsAtOnce() {
        StartPanel();
        const std::size_t logFrom = rig_->Log().size();
        QElapsedTimer timer;
        timer.start();
        dialog_->close();
        // About 1.1 s is what a user may wait for the window to go, however
        // the receive thread is blocked.
        QVERIFY2(timer.elapsed() < 1100, QByteArray::number(timer.elapsed()));
        QVERIFY(Logged(logFrom, {"0x5c"}));
        dialog_.reset();
    }

    // Last: the service is gone after it.
    void KillingTheServiceClosesThePanelWithTheDisconnectMessage() {
        StartPanel();
        rig_->Service()->Signal(SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog_->isVisible(), 10000);
        QCOMPARE(messages_, QStringList{"Server 127.0.0.1@ORVVW has been disconnected!"});
    }
};

QTEST_MAIN(KalmiroWallTest)
#include <kalmiro_wall_test.moc>  // generated by AUTOMOC
