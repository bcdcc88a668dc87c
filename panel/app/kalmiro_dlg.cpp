#include "panel/app/kalmiro_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QProcess>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <chrono>
#include <thread>

#include "panel/app/panel_dialogs.h"
#include "panel/app/panel_widgets.h"
#include "panel/app/zone_windows.h"
#include "panel/model/panel_log.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace orv::panel {
namespace {

constexpr const char* kServerName = "ORVVW";
// How long Launch looks for a started program's window: 30 x 100 ms.
constexpr int kWindowSearches = 30;
constexpr std::chrono::milliseconds kWindowSearchPause{100};

QComboBox* Combo(QWidget* parent, const char* id, const QStringList& items) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(id);
    combo->addItems(items);
    return combo;
}

QPushButton* Button(QWidget* parent, const char* id, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(id);
    button->setAutoDefault(false);
    return button;
}

std::int32_t PixelModeOf(const QString& text) {
    if (text == "4K") return control::kPixelMode4K;
    if (text == "2K") return control::kPixelMode2K;
    return control::kPixelMode1080P;
}

}  // namespace

CKalmiroDlg::CKalmiroDlg(Language language, std::filesystem::path languageFile, QWidget* parent)
    : QDialog(parent), language_(language), languageFile_(std::move(languageFile)) {
    setObjectName("102");
    setWindowTitle(Tr(StringId::kDialogCaption));
    BuildControls();
    RefreshControls();
}

CKalmiroDlg::~CKalmiroDlg() {
    connection_.Shutdown();
}

QString CKalmiroDlg::Tr(StringId id) const {
    const std::string_view text = Text(id, language_);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void CKalmiroDlg::BuildControls() {
    auto* settings = new QGroupBox(Tr(StringId::kGroupSettings), this);
    settings->setObjectName("1010");
    auto* grid = new QGridLayout(settings);

    QStringList digits;
    for (int i = 1; i <= 9; ++i) digits << QString::number(i);
    wallCombo_ = Combo(settings, "1005", {});
    pixelCombo_ = Combo(settings, "1052", {"1080P", "4K"});  // sorted, as the list box keeps it
    rowCombo_ = Combo(settings, "1056", digits);
    columnCombo_ = Combo(settings, "1057", digits);
    widthEdit_ = new QLineEdit(settings);
    widthEdit_->setObjectName("1021");
    widthEdit_->setEnabled(false);
    heightEdit_ = new QLineEdit(settings);
    heightEdit_->setObjectName("1022");
    heightEdit_->setEnabled(false);
    createButton_ = Button(settings, "1006", Tr(StringId::kCreate));
    resetButton_ = Button(settings, "1036", Tr(StringId::kReset));
    saveButton_ = Button(settings, "1049", Tr(StringId::kSaveConfiguration));
    bezelEdit_ = new QLineEdit("0", settings);
    bezelEdit_->setObjectName("1047");
    auto* bezelApply = Button(settings, "1050", Tr(StringId::kApply));

    // Created hidden; their commands work when invoked.
    QStringList templates{Tr(StringId::kTemplateNone)};
    for (int i = 1; i <= kTemplateCount; ++i)
        templates << QString("%1 %2").arg(Tr(StringId::kTemplateName)).arg(i);
    templateCombo_ = Combo(settings, "1024", templates);
    encodeCombo_ = Combo(settings, "1051", {"CPU", "GPU"});
    cpuEdit_ = new QLineEdit("0", settings);  // the service's 0x44 value
    cpuEdit_->setObjectName("1040");
    cpuEdit_->setEnabled(false);
    threadEdit_ = new QLineEdit("1", settings);
    threadEdit_->setObjectName("1012");
    threadEdit_->setValidator(new QIntValidator(0, 99, threadEdit_));
    // An emptied field shows 4, as the thread number's own default.
    connect(threadEdit_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.isEmpty()) threadEdit_->setText("4");
    });
    auto* threadApply = Button(settings, "1007", Tr(StringId::kApply));
    auto* back = Button(settings, "1043", "Back");
    connect(back, &QPushButton::clicked, this, [this] {
        back_ = true;
        close();
    });
    addButton_ = Button(settings, "1038", "+");
    removeButton_ = Button(settings, "1039", "-");
    // Kept from the dialog's first layout: two buttons without a command, a
    // text that names a resolution and a split mode and is never updated,
    // and a line.
    auto* destroy = Button(settings, "1015", "Destroy");
    auto* destroyAll = Button(settings, "1016", "Destroy all view");
    auto* placeholder = new QLabel("1920*1080  2*2", settings);
    placeholder->setObjectName("1009");
    auto* placeholderLine = new QFrame(settings);
    placeholderLine->setObjectName("1014");
    placeholderLine->setFrameShape(QFrame::HLine);
    for (QWidget* hidden : std::initializer_list<QWidget*>{
             encodeCombo_, cpuEdit_, threadEdit_, threadApply, back, addButton_, removeButton_,
             destroy, destroyAll, placeholder, placeholderLine}) {
        hidden->setVisible(false);
    }

    auto label = [&](StringId id, const char* name) {
        auto* l = new QLabel(Tr(id), settings);
        l->setObjectName(name);
        return l;
    };
    grid->addWidget(label(StringId::kWallListLabel, "1001"), 0, 0);
    grid->addWidget(wallCombo_, 0, 1);
    grid->addWidget(saveButton_, 0, 2);
    grid->addWidget(label(StringId::kPixelsLabel, "pixels"), 0, 3);
    grid->addWidget(pixelCombo_, 0, 4);
    grid->addWidget(label(StringId::kRowLabel, "row"), 1, 0);
    grid->addWidget(rowCombo_, 1, 1);
    grid->addWidget(label(StringId::kColumnLabel, "column"), 1, 2);
    grid->addWidget(columnCombo_, 1, 3);
    grid->addWidget(label(StringId::kWidthLabel, "width"), 2, 0);
    grid->addWidget(widthEdit_, 2, 1);
    grid->addWidget(label(StringId::kHeightLabel, "height"), 2, 2);
    grid->addWidget(heightEdit_, 2, 3);
    grid->addWidget(createButton_, 1, 4);
    grid->addWidget(resetButton_, 2, 4);
    grid->addWidget(new QLabel(Tr(StringId::kBezelLabel), settings), 3, 0);
    grid->addWidget(bezelEdit_, 3, 1);
    grid->addWidget(bezelApply, 3, 2);
    // Shown, unlike the original's hidden combo: the zone programs need a
    // way to a template.
    grid->addWidget(new QLabel(Tr(StringId::kZoneTemplatesLabel), settings), 3, 3);
    grid->addWidget(templateCombo_, 3, 4);

    auto* topology = new QGroupBox(Tr(StringId::kTopologyGroup), this);
    topology->setObjectName("1013");
    auto* topologyLayout = new QVBoxLayout(topology);
    topologyLayout->setContentsMargins(10, 20, 10, 10);
    split_ = new CSplitWnd(*this, topology);
    split_->setMinimumSize(480, 270);
    topologyLayout->addWidget(split_);

    auto* line = new QFrame(this);
    line->setObjectName("1000");
    line->setFrameShape(QFrame::HLine);
    auto* stripLabel = new QLabel(Tr(StringId::kConnectedMonitors), this);
    stripLabel->setObjectName("1008");
    strip_ = new CClientListWnd(*this, this);
    strip_->setMinimumHeight(120);

    auto* menuBar = new QMenuBar(this);
    QMenu* menu = menuBar->addMenu(Tr(StringId::kMenuSettings));
    QAction* languageAction = menu->addAction(Tr(StringId::kMenuLanguage));
    languageAction->setObjectName("32777");
    connect(languageAction, &QAction::triggered, this, [this] {
        CLanguagesSettings dialog(language_, languageFile_, this);
        if (dialog.exec() == QDialog::Accepted) ApplyLanguageChoice(dialog.Chosen());
    });
    QAction* aboutAction = menu->addAction(Tr(StringId::kMenuAbout));
    aboutAction->setObjectName("32780");
    connect(aboutAction, &QAction::triggered, this,
            [this] { CAboutDialog(language_, platform::Registry::Load(), this).exec(); });
    // The window system's menu is not the program's to extend here; the
    // program's own About box sits in the same menu.
    QAction* aboutProgram = menu->addAction(Tr(StringId::kAboutMenu));
    aboutProgram->setObjectName("16");
    connect(aboutProgram, &QAction::triggered, this, [this] { CAboutDlg(this).exec(); });

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar);
    layout->addWidget(settings);
    layout->addWidget(topology, 1);
    layout->addWidget(stripLabel);
    layout->addWidget(line);
    layout->addWidget(strip_);

    rowCombo_->setCurrentIndex(1);
    columnCombo_->setCurrentIndex(1);
    pixelCombo_->setCurrentText("4K");
    auto matrixChanged = [this] {
        editor_.SetMatrix(columnCombo_->currentText().toInt(), rowCombo_->currentText().toInt());
        editor_.SetPixelMode(PixelModeOf(pixelCombo_->currentText()));
        RefreshControls();
    };
    connect(rowCombo_, &QComboBox::activated, this, matrixChanged);
    connect(columnCombo_, &QComboBox::activated, this, matrixChanged);
    connect(pixelCombo_, &QComboBox::activated, this, matrixChanged);
    connect(createButton_, &QPushButton::clicked, this, [this, matrixChanged] {
        matrixChanged();
        Run(editor_.Create());
    });
    connect(resetButton_, &QPushButton::clicked, this, [this] { Run(editor_.Reset()); });
    connect(saveButton_, &QPushButton::clicked, this, [this] { Run(editor_.Save()); });
    connect(addButton_, &QPushButton::clicked, this, [this] { Run(editor_.AddWall()); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { Run(editor_.RemoveWall()); });
    connect(wallCombo_, &QComboBox::activated, this,
            [this](int index) { Run(editor_.ChooseWall(index)); });
    connect(templateCombo_, &QComboBox::activated, this,
            [this](int index) { Run(editor_.ChooseZoneTemplate(index)); });
    connect(encodeCombo_, &QComboBox::activated, this,
            [this] { Run(editor_.ChooseEncode(encodeCombo_->currentText().toStdString())); });
    connect(threadApply, &QPushButton::clicked, this, [this] {
        bool ok = false;
        const int value = threadEdit_->text().toInt(&ok);
        Run(editor_.ApplyThreadNumber(ok ? std::optional<int>(value) : std::nullopt));
    });
    connect(bezelApply, &QPushButton::clicked, this,
            [this] { Run(editor_.ApplyBezel(bezelEdit_->text().toFloat())); });
}

bool CKalmiroDlg::Start(const std::string& host, std::uint16_t port) {
    serverAddress_ = host;
    if (!connection_.HelloExchange(host, port)) {
        ShowMessage(StringId::kCannotConnect);
        return false;
    }
    const auto encode = connection_.QueryEncodeMode();
    const auto walls = encode ? connection_.QueryWalls() : std::nullopt;
    const auto monitors = walls ? connection_.QueryMonitors() : std::nullopt;
    if (!monitors) {
        ShowMessage(StringId::kQueryFailed);
        return false;
    }
    editor_.ApplyEncodeMode(*encode);
    editor_.ApplyWallList(*walls);
    editor_.ApplyMonitorList(*monitors);
    // The receive thread posts; the model and the widgets change on this
    // thread only. Queued calls to a destroyed dialog are dropped, and the
    // thread is joined before the dialog goes.
    connection_.Start({[this](control::ServiceMessage m) {
                           QMetaObject::invokeMethod(
                               this, [this, m = std::move(m)] { OnServiceMessage(m); },
                               Qt::QueuedConnection);
                       },
                       [this] {
                           QMetaObject::invokeMethod(
                               this, [this] { ConnectionLost(); }, Qt::QueuedConnection);
                       }});
    RefreshControls();
    return true;
}

void CKalmiroDlg::Run(const Outcome& outcome) {
    CloseWindows(outcome.closeWindows);
    for (const control::Request& request : outcome.requests) {
        if (connection_.Send(request)) continue;
        if (outcome.quietOnSendFailure) break;
        ConnectionLost();
        return;
    }
    if (outcome.message) ShowMessage(*outcome.message);
    RefreshControls();
}

void CKalmiroDlg::OnServiceMessage(const control::ServiceMessage& message) {
    if (closing_) return;
    Run(editor_.Handle(message));
}

void CKalmiroDlg::ConnectionLost() {
    if (closing_) return;
    connection_.MarkLost();
    ShowText(QString::fromStdString(DisconnectMessage(language_, serverAddress_, kServerName)));
    close();
}

void CKalmiroDlg::ShowMessage(StringId id) {
    ShowText(Tr(id));
}

void CKalmiroDlg::ShowText(const QString& text) {
    PanelLog("message: %s", text.toUtf8().constData());
    if (shower_) {
        shower_(text);
        return;
    }
    QMessageBox::information(this, Tr(StringId::kCaption), text);
}

void CKalmiroDlg::PlaceMonitor(std::int32_t monitorId, std::int32_t cellIndex) {
    Run(editor_.PlaceMonitor(monitorId, cellIndex));
}

void CKalmiroDlg::DropCell(std::int32_t monitorId, std::int32_t cellIndex) {
    Run(editor_.DropCell(monitorId, cellIndex));
}

void CKalmiroDlg::ReturnToStrip(std::int32_t monitorId) {
    Run(editor_.ReturnToStrip(monitorId));
}

void CKalmiroDlg::MoveZoneBorder(BorderKind kind, Point press, Point release, Size client) {
    if (editor_.MoveZoneBorder(kind, press, release, client)) split_->update();
}

ZoneWindows* CKalmiroDlg::WallWindows() {
    // The driver publishes the wall's desktop once it captures it; read it
    // again until then.
    if (wallWindows_ != nullptr) return wallWindows_.get();
    desktop_ = ReadWallDesktop(std::filesystem::path(platform::RuntimeDir()) /
                               std::string(kWallDesktopFileName));
    if (!desktop_) {
        PanelLog("the wall's desktop is not published; no program is placed");
        return nullptr;
    }
    wallWindows_ = ZoneWindows::Open(desktop_->display);
    return wallWindows_.get();
}

void CKalmiroDlg::CloseWindows(const std::vector<std::uint64_t>& windows) {
    if (windows.empty()) return;
    ZoneWindows* x = WallWindows();
    if (x == nullptr) return;
    for (std::uint64_t w : windows) (void)x->Close(w);
}

bool CKalmiroDlg::Launch(std::size_t index, const QString& program, const QStringList& arguments) {
    ZoneWindows* x = WallWindows();
    const PanelWall* wall = editor_.Shown();
    if (x == nullptr || wall == nullptr || index >= wall->apps.size()) return false;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The zone programs are X11 programs on the wall's display, whatever
    // the panel itself runs on.
    env.insert("DISPLAY", QString::fromStdString(desktop_->display));
    env.insert("QT_QPA_PLATFORM", "xcb");
    process.setProcessEnvironment(env);
    process.setProgram(program);
    process.setArguments(arguments);
    if (!process.startDetached()) {
        PanelLog("cannot start %s", program.toUtf8().constData());
        return false;
    }
    // The program needs a moment for its window; look for it a few times
    // rather than once after a fixed wait, which a loaded machine misses.
    const std::string name = QFileInfo(program).fileName().toStdString();
    std::optional<ProgramWindow> found;
    for (int i = 0; i < kWindowSearches && !found; ++i) {
        std::this_thread::sleep_for(kWindowSearchPause);
        found = x->Find(name, editor_.ProcessesInUse(index));
    }
    if (!found) {
        PanelLog("no window of %s yet", name.c_str());
        return false;
    }
    if (!x->Place(found->window, MapZone(wall->apps[index].rect, desktop_->area)) ||
        !x->SendPlay(found->window)) {
        (void)x->Close(found->window);
        return false;
    }
    editor_.MarkAppRunning(index, found->processId, found->window);
    return true;
}

void CKalmiroDlg::RunZoneCommand(ZoneCommand command, double fx, double fy) {
    if (command == ZoneCommand::kCloseApp) {
        if (const auto window = editor_.CloseAppAt(fx, fy)) CloseWindows({*window});
        return;
    }
    if (command == ZoneCommand::kOpenApp) {
        const auto target = editor_.OpenAppTarget(fx, fy);
        if (!target || editor_.Shown()->apps[target->index].running) return;
        if (WallWindows() == nullptr) return;
        const QString program = programAsker_
                                    ? programAsker_()
                                    : QFileDialog::getOpenFileName(this, QString(), QString(),
                                                                   "Application program(*)");
        if (!program.isEmpty()) (void)Launch(target->index, program, {});
        return;
    }
    const auto target = editor_.PlayerTarget(fx, fy);
    if (!target) return;
    CloseWindows(target->closeWindows);
    auto player = [](const char* name) {
        const QString beside =
            QStandardPaths::findExecutable(name, {QCoreApplication::applicationDirPath()});
        return beside.isEmpty() ? QStandardPaths::findExecutable(name) : beside;
    };
    if (command == ZoneCommand::kPlayVideo) {
        const QString program = player("tessival");
        if (program.isEmpty() || !Launch(target->index, program, {})) {
            ShowMessage(StringId::kVideoAppFailed);
        }
        return;
    }
    std::optional<PhotoWallChoice> choice;
    if (photoWallAsker_) {
        choice = photoWallAsker_();
    } else {
        CPhotoWallConfigPage page(this);
        if (page.exec() == QDialog::Accepted)
            choice = PhotoWallChoice{page.Folder(), page.Interval()};
    }
    if (!choice) return;
    if (choice->folder.isEmpty()) {
        ShowMessage(StringId::kNoPhotoFolder);
        return;
    }
    const QString program = player("lumbrae");
    if (program.isEmpty() ||
        !Launch(target->index, program,
                {"--folder", choice->folder, "--interval", QString::number(choice->interval)})) {
        ShowMessage(StringId::kPhotoAppFailed);
    }
}

void CKalmiroDlg::ApplyLanguageChoice(Language chosen) {
    if (chosen == language_) return;
    restart_ = true;
    close();
}

void CKalmiroDlg::ChangeMonitorId(std::int32_t oldId, const QString& digits) {
    Run(editor_.ChangeMonitorId(oldId, digits.toStdString()));
}

void CKalmiroDlg::RefreshControls() {
    const EditState& state = editor_.State();
    wallCombo_->clear();
    for (const PanelWall& wall : editor_.Walls()) wallCombo_->addItem(QString::number(wall.id));
    wallCombo_->setCurrentIndex(editor_.CurrentIndex());
    rowCombo_->setCurrentIndex(editor_.Rows() - 1);
    columnCombo_->setCurrentIndex(editor_.Columns() - 1);
    const int pixel = editor_.PixelMode() == control::kPixelMode4K ? pixelCombo_->findText("4K")
                      : editor_.PixelMode() == control::kPixelMode2K
                          ? pixelCombo_->findText("2K")
                          : pixelCombo_->findText("1080P");
    pixelCombo_->setCurrentIndex(std::max(pixel, 0));
    widthEdit_->setText(QString::number(editor_.MonitorSize().width));
    heightEdit_->setText(QString::number(editor_.MonitorSize().height));
    templateCombo_->setCurrentIndex(editor_.TemplateChoice());
    cpuEdit_->setText(QString::number(editor_.CpuValue()));
    encodeCombo_->setCurrentText(editor_.EncodeMode() == control::kEncodeGpu ? "GPU" : "CPU");
    threadEdit_->setText(QString::number(editor_.ThreadField()));
    createButton_->setEnabled(state.create);
    resetButton_->setEnabled(state.reset);
    rowCombo_->setEnabled(state.matrix);
    columnCombo_->setEnabled(state.matrix);
    pixelCombo_->setEnabled(state.matrix);
    templateCombo_->setEnabled(state.zoneTemplate);
    addButton_->setEnabled(state.addWall);
    removeButton_->setEnabled(state.removeWall);
    split_->update();
    strip_->update();
}

void CKalmiroDlg::closeEvent(QCloseEvent* event) {
    closing_ = true;
    connection_.Shutdown();
    QDialog::closeEvent(event);
}

}  // namespace orv::panel
