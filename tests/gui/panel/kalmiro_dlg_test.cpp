// The main dialog on the offscreen platform against a fake control service:
// what the user does with the widgets reaches the service as the right
// requests, and what the service sends shows in the widgets.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "panel/app/kalmiro_dlg.h"
#include "panel/app/panel_mime.h"
#include "panel/app/panel_widgets.h"
#include "panel/model/panel_log.h"
#include "tests/support/fake_control_service.h"
#include "tests/support/panel_drag.h"

using namespace orv;
using namespace orv::panel;

using orv::test::CellCentre;
using orv::test::Drop;

class KalmiroDlgTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::FakeControlService> service_;
    std::unique_ptr<CKalmiroDlg> dialog_;
    QStringList messages_;

    // A panel started against the fake service; `withWall` gives the
    // service a built 2 x 2 wall 1.
    void StartPanel(bool withWall) {
        service_ = std::make_unique<test::FakeControlService>();
        if (withWall) {
            control::WallList walls;
            walls.selection = 1;
            walls.walls.push_back(control::PanelWallRecord(1, control::kPixelMode4K, 2, 2, 0, {}));
            service_->SetWalls(walls);
        }
        service_->SetMonitors({{{-1, -1, -1, 3}, {-1, -1, -1, 5}}});
        dialog_ = std::make_unique<CKalmiroDlg>(Language::kEnglish);
        dialog_->SetMessageShower([this](const QString& text) { messages_ << text; });
        QVERIFY(dialog_->Start("127.0.0.1", service_->Port()));
        dialog_->resize(1000, 700);
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
    }
    QPushButton* Button(const char* id) { return dialog_->findChild<QPushButton*>(id); }
    QComboBox* Combo(const char* id) { return dialog_->findChild<QComboBox*>(id); }

private slots:
    void init() {
        SetPanelLogQuiet(true);
        messages_.clear();
    }
    void cleanup() {
        dialog_.reset();
        service_.reset();
    }

    void DraggingAFreeTileOntoACellPlacesTheMonitor() {
        StartPanel(true);
        QCOMPARE(dialog_->Editor().Strip().Tiles().size(), std::size_t{2});
        QVERIFY(!dialog_->ClientListWnd()->TileRect(5).isEmpty());
        const std::size_t before = service_->Requests().size();  // 0x01 0x42 0x40 0x41

        QWidget* view = dialog_->findChild<QWidget*>("1500");
        QVERIFY(Drop(view, CellCentre(view, 1, 0), {DragSource::kStrip, 5}));
        QVERIFY(service_->WaitForRequests(before + 1));
        QCOMPARE(service_->Requests().back(),
                 control::Request(control::SetWallCells{1, {{5, 3, 1, 0}}}));
        QVERIFY(!dialog_->Editor().Strip().Find(5)->free);

        // Onto the occupied cell: the old monitor leaves first.
        QVERIFY(Drop(view, CellCentre(view, 1, 0), {DragSource::kStrip, 3}));
        QVERIFY(service_->WaitForRequests(before + 3));
        const auto requests = service_->Requests();
        QCOMPARE(requests[before + 1], control::Request(control::RemoveMonitor{1, 5}));
        QCOMPARE(requests[before + 2], control::Request(control::SetWallCells{1, {{3, 3, 1, 0}}}));

        // Back onto the strip frees it; a drop from another program is refused.
        QVERIFY(Drop(dialog_->ClientListWnd(), {5, 5}, {DragSource::kView, 3}));
        QVERIFY(service_->WaitForRequests(before + 4));
        QCOMPARE(service_->Requests().back(), control::Request(control::RemoveMonitor{1, 3}));
        QMimeData foreign;
        foreign.setText("strip:5");
        QDragEnterEvent enter(CellCentre(view, 0, 0), Qt::MoveAction, &foreign, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(view, &enter);
        QVERIFY(!enter.isAccepted());
    }

    void ATemplateShowsAndItsBorderMovesByDragging() {
        StartPanel(true);
        const std::size_t before = service_->Requests().size();
        emit Combo("1024")->activated(2);
        QVERIFY(service_->WaitForRequests(before + 1));
        QCOMPARE(service_->Requests().back(), control::Request(control::ZoneTemplate{1, 2}));
        QWidget* view = dialog_->findChild<QWidget*>("1500");
        const QPoint press(view->width() / 2, view->height() / 4);
        QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, press);
        QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, press + QPoint(40, 0));
        QCOMPARE(dialog_->Editor().Shown()->zones[0].x1, 0.625);  // a quarter of a cell
        QCOMPARE(dialog_->Editor().Shown()->zones[1].x1, 0.5);    // the lower half stays
    }

    void CreateSendsTheWallAndATooLargeMatrixIsRefused() {
        StartPanel(false);
        QVERIFY(!Button("1036")->isEnabled());
        const std::size_t before = service_->Requests().size();
        Combo("1056")->setCurrentIndex(2);  // 3 rows
        Combo("1057")->setCurrentIndex(3);  // 4 columns
        emit Combo("1057")->activated(3);
        QTest::mouseClick(Button("1006"), Qt::LeftButton);
        QCOMPARE(messages_, QStringList{QString::fromUtf8(
                                Text(StringId::kMatrixTooBig, Language::kEnglish).data())});
        QCOMPARE(service_->Requests().size(), before);

        Combo("1056")->setCurrentIndex(1);
        Combo("1057")->setCurrentIndex(1);
        emit Combo("1057")->activated(1);
        QTest::mouseClick(Button("1006"), Qt::LeftButton);
        QVERIFY(service_->WaitForRequests(before + 2));
        const auto requests = service_->Requests();
        QCOMPARE(requests[before], control::Request(control::AddWallEntry{1, 1}));
        QCOMPARE(requests[before + 1],
                 control::Request(control::CreateWall{
                     control::PanelWallRecord(1, control::kPixelMode4K, 2, 2, 0, {})}));
        QCOMPARE(std::get<control::CreateWall>(requests[before + 1]).wall.monitorWidth, 1920);

        QVERIFY(service_->Send(control::CreateResult{1}));
        QTRY_VERIFY(Button("1036")->isEnabled());
        QVERIFY(!Button("1006")->isEnabled());
    }

    void NoticesShowAndALostServiceClosesThePanel() {
        StartPanel(true);
        QVERIFY(service_->Send(control::MonitorChange{control::kMonitorArrived, 9}));
        QTRY_VERIFY(dialog_->Editor().Strip().Find(9) != nullptr);
        QVERIFY(service_->Send(control::CpuValue{42}));
        QTRY_COMPARE(dialog_->findChild<QLineEdit*>("1040")->text(), QString("42"));
        service_->CloseConnection();
        QTRY_VERIFY(!dialog_->isVisible());
        QCOMPARE(messages_, QStringList{"Server 127.0.0.1@ORVVW has been disconnected!"});
    }

    // The hidden controls kept from the first layout are there, and its two
    // buttons without a command send nothing: the next request is Save's.
    void TheHiddenLeftoversExistAndTheirButtonsSendNothing() {
        StartPanel(true);
        for (const char* id : {"1015", "1016", "1009", "1014"}) {
            const QWidget* w = dialog_->findChild<QWidget*>(id);
            QVERIFY2(w != nullptr && w->isHidden(), id);
        }
        const std::size_t before = service_->Requests().size();
        Button("1015")->click();
        Button("1016")->click();
        Button("1049")->click();
        QVERIFY(service_->WaitForRequests(before + 1));
        QCOMPARE(service_->Requests()[before], control::Request(control::SaveConfiguration{}));
        QVERIFY(dialog_->isVisible());
    }

    void ClosingSendsLeaving() {
        StartPanel(true);
        dialog_->close();
        QVERIFY(service_->WaitForRequests(5));
        QCOMPARE(service_->Requests()[4], control::Request(control::PanelLeaving{}));
    }

    void ALanguageChangeClosesForARestartButTheSameLanguageDoesNot() {
        StartPanel(true);
        dialog_->ApplyLanguageChoice(Language::kEnglish);
        QVERIFY(dialog_->isVisible());
        QVERIFY(!dialog_->RestartRequested());
        dialog_->ApplyLanguageChoice(Language::kChinese);
        QVERIFY(!dialog_->isVisible());
        QVERIFY(dialog_->RestartRequested());
    }

    void AServiceThatDoesNotGreetIsRefused() {
        service_ = std::make_unique<test::FakeControlService>();
        service_->SetGreeting({0x03, 0, 0, 0});
        dialog_ = std::make_unique<CKalmiroDlg>(Language::kChinese);
        dialog_->SetMessageShower([this](const QString& text) { messages_ << text; });
        QVERIFY(!dialog_->Start("127.0.0.1", service_->Port()));
        QCOMPARE(messages_, QStringList{"不能连接到ORV视频墙服务器！"});
    }
};

QTEST_MAIN(KalmiroDlgTest)
#include <kalmiro_dlg_test.moc>  // generated by AUTOMOC
