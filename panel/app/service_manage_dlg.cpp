#include "panel/app/service_manage_dlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QVBoxLayout>

#include "panel/app/panel_dialogs.h"
#include "panel/client/panel_connection.h"
#include "panel/model/panel_log.h"

namespace orv::panel {

ServiceManageDlg::ServiceManageDlg(Language language, std::uint16_t discoveryPort,
                                   std::filesystem::path languageFile,
                                   std::chrono::milliseconds attemptTimeout, QWidget* parent)
    : QDialog(parent),
      language_(language),
      languageFile_(std::move(languageFile)),
      list_(new QTreeWidget(this)),
      login_(new QPushButton("Login", this)),
      refresh_(new QPushButton("Refresh", this)),
      quit_(new QPushButton("Quit", this)),
      languageButton_(new QPushButton(Tr(StringId::kMenuLanguage), this)) {
    setObjectName("133");
    setWindowTitle(Tr(StringId::kCaption));
    list_->setObjectName("1028");
    list_->setColumnCount(3);
    list_->setHeaderLabels(
        {Tr(StringId::kColumnServerName), Tr(StringId::kColumnAddress), Tr(StringId::kColumnPort)});
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->header()->setSectionResizeMode(QHeaderView::Stretch);
    login_->setObjectName("IDOK");
    refresh_->setObjectName("1029");
    quit_->setObjectName("1035");
    languageButton_->setObjectName("1054");
    for (QPushButton* b : {login_, refresh_, quit_, languageButton_}) b->setAutoDefault(false);
    // A user name and a password no command uses.
    for (const char* id : {"1031", "1032"}) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(id);
        edit->setVisible(false);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(login_);
    buttons->addWidget(refresh_);
    buttons->addWidget(quit_);
    buttons->addWidget(languageButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);

    connect(login_, &QPushButton::clicked, this, [this] { Login(); });
    connect(refresh_, &QPushButton::clicked, this, [this] {
        servers_.Clear();
        list_->clear();
        StartSearch();
        ShowText(Tr(StringId::kSearching));
    });
    connect(quit_, &QPushButton::clicked, this, &QDialog::reject);
    connect(languageButton_, &QPushButton::clicked, this, [this] {
        CLanguagesSettings dialog(language_, languageFile_, this);
        if (dialog.exec() == QDialog::Accepted && dialog.Chosen() != language_) {
            restart_ = true;
            reject();
        }
    });

    discovery_ = std::make_unique<ServerDiscovery>(
        discoveryPort,
        ServerDiscovery::Events{[this](Announcement a) {
                                    QMetaObject::invokeMethod(
                                        this, [this, a = std::move(a)] { Found(a); },
                                        Qt::QueuedConnection);
                                },
                                [this] {
                                    QMetaObject::invokeMethod(
                                        this, [this] { SearchEnded(); }, Qt::QueuedConnection);
                                }},
        attemptTimeout);
    StartSearch();
}

ServiceManageDlg::~ServiceManageDlg() {
    discovery_->Stop();
}

QString ServiceManageDlg::Tr(StringId id) const {
    const std::string_view text = Text(id, language_);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void ServiceManageDlg::SetButtons(bool enabled) {
    login_->setEnabled(enabled);
    refresh_->setEnabled(enabled);
    quit_->setEnabled(enabled);
}

void ServiceManageDlg::StartSearch() {
    SetButtons(false);
    discovery_->RequestSearch();
}

void ServiceManageDlg::Found(const Announcement& announcement) {
    if (!servers_.Add(announcement)) return;
    list_->addTopLevelItem(
        new QTreeWidgetItem({"ORVVW", QString::fromStdString(announcement.address),
                             QString::number(announcement.port)}));
}

void ServiceManageDlg::SearchEnded() {
    SetButtons(true);
    ShowText(Tr(StringId::kNoServerFound));
}

void ServiceManageDlg::Login() {
    const QTreeWidgetItem* row = list_->currentItem();
    const QString address = row ? row->text(1) : QString();
    const QString port = row ? row->text(2) : QString();
    if (address.isEmpty() || port.isEmpty()) {
        ShowText(Tr(StringId::kSelectServer));
        return;
    }
    PanelConnection connection;
    const bool ok =
        connection.HelloExchange(address.toStdString(), static_cast<std::uint16_t>(port.toUInt()));
    connection.Shutdown();
    ShowText(QString::fromStdString(
        LoginResultText(address.toStdString(), port.toStdString(), ok, language_)));
    if (!ok) return;
    chosen_ = Announcement{static_cast<std::uint16_t>(port.toUInt()), address.toStdString()};
    accept();
}

void ServiceManageDlg::ShowText(const QString& text) {
    PanelLog("message: %s", text.toUtf8().constData());
    if (shower_) {
        shower_(text);
        return;
    }
    QMessageBox::information(this, Tr(StringId::kCaption), text);
}

void ServiceManageDlg::closeEvent(QCloseEvent* event) {
    discovery_->Stop();
    QDialog::closeEvent(event);
}

}  // namespace orv::panel
