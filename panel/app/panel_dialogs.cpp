#include "panel/app/panel_dialogs.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QUrl>
#include <QVBoxLayout>

#include "panel/model/panel_log.h"
#include "platform/registry.h"

namespace orv::panel {
namespace {

QString Tr(StringId id, Language language) {
    const std::string_view text = Text(id, language);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("IDOK");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("IDCANCEL");
    for (QAbstractButton* b : buttons->buttons()) {
        if (auto* push = qobject_cast<QPushButton*>(b)) push->setAutoDefault(false);
    }
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

constexpr const char* kFeedbackPage = "https://orv-videowall.example/support";

}  // namespace

// ---------------------------------------------------------------- Set Monitor ID
CSetMonitorId::CSetMonitorId(std::int32_t monitorId, Language language, QWidget* parent)
    : QDialog(parent), edit_(new QLineEdit(QString::number(monitorId), this)) {
    setObjectName("139");
    setWindowTitle(Tr(StringId::kSetMonitorIdTitle, language));
    edit_->setObjectName("1048");
    edit_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit_));
    auto* buttons = OkCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
}

void CSetMonitorId::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();  // swallowed: only the buttons close the dialog
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

// ---------------------------------------------------------------- photo wall
CPhotoWallConfigPage::CPhotoWallConfigPage(QWidget* parent)
    : QDialog(parent), folder_(new QLineEdit(this)), interval_(new QLineEdit("1", this)) {
    setObjectName("135");
    setWindowTitle("Photo Wall Configure Page");
    folder_->setObjectName("1044");
    folder_->setReadOnly(true);
    interval_->setObjectName("1045");
    interval_->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), interval_));
    auto* browse = new QPushButton("...", this);
    browse->setObjectName("1046");
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString folder =
            QFileDialog::getExistingDirectory(this, "Please select the photo folder", Folder());
        if (!folder.isEmpty()) folder_->setText(folder);
    });
    auto* buttons = OkCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_);
    folderRow->addWidget(browse);
    auto* intervalRow = new QHBoxLayout;
    intervalRow->addWidget(interval_);
    intervalRow->addWidget(new QLabel("seconds", this));
    auto* layout = new QFormLayout(this);
    layout->addRow("Choose folder:", folderRow);
    layout->addRow("Display interval time:", intervalRow);
    layout->addRow(buttons);
}

unsigned CPhotoWallConfigPage::Interval() const {
    return interval_->text().toUInt();
}

void CPhotoWallConfigPage::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

// ---------------------------------------------------------------- language
CLanguagesSettings::CLanguagesSettings(Language current, std::filesystem::path languageFile,
                                       QWidget* parent)
    : QDialog(parent),
      combo_(new QComboBox(this)),
      file_(std::move(languageFile)),
      chosen_(current) {
    setObjectName("140");
    setWindowTitle(Tr(StringId::kLanguageTitle, current));
    combo_->setObjectName("1055");
    combo_->addItem(Tr(StringId::kEnglishName, current));
    combo_->addItem(Tr(StringId::kChineseName, current));
    combo_->setCurrentIndex(current == Language::kEnglish ? 0 : 1);
    auto* buttons = OkCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { Accept(); });
    auto* layout = new QFormLayout(this);
    layout->addRow(Tr(StringId::kLanguageLabel, current), combo_);
    layout->addRow(buttons);
}

void CLanguagesSettings::Accept() {
    chosen_ = LanguageFromChoice(combo_->currentText().toStdString());
    if (!WriteLanguageFile(file_, chosen_)) {
        PanelLog("cannot write %s", file_.string().c_str());
    }
    accept();
}

// ---------------------------------------------------------------- hyperlink
CHyperLink::CHyperLink(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, QColor(0, 0, 255));
    p.setColor(QPalette::Window, QColor(240, 240, 240));
    setPalette(p);
    setAttribute(Qt::WA_Hover);
}

void CHyperLink::SetHover(bool hover) {
    QFont f = font();
    f.setUnderline(hover);
    setFont(f);
    if (hover) {
        setCursor(Qt::PointingHandCursor);
    } else {
        unsetCursor();
    }
}

void CHyperLink::enterEvent(QEnterEvent* event) {
    SetHover(true);
    QLabel::enterEvent(event);
}

void CHyperLink::leaveEvent(QEvent* event) {
    SetHover(false);
    QLabel::leaveEvent(event);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
    const QString target = target_.isEmpty() ? text() : target_;
    if (opener_) {
        opener_(target);
    } else {
        QDesktopServices::openUrl(QUrl(target));
    }
}

// ---------------------------------------------------------------- About
CAboutDialog::CAboutDialog(Language language, const platform::Registry& registry, QWidget* parent)
    : QDialog(parent) {
    setObjectName("146");
    setWindowTitle(Tr(StringId::kAboutTitle, language));
    // The template's texts, kept when the registry has no value.
    const bool english = language == Language::kEnglish;
    auto* software = new QLabel(english ? "0.2.9.18" : "", this);
    software->setObjectName("1067");
    auto* firmware = new QLabel(english ? "v 00.00.1200.0000" : "", this);
    firmware->setObjectName("1069");
    std::string value;
    if (registry.ReadString({platform::kInfoKey, platform::kInfoKeyWow}, "PackageVersion", value) ==
        platform::kErrorSuccess) {
        software->setText(QString::fromStdString(value));
    }
    if (registry.ReadString({platform::kInfoKey, platform::kInfoKeyWow}, "FirmwareVersion",
                            value) == platform::kErrorSuccess) {
        firmware->setText(QString::fromStdString(value));
    }
    auto* link = new CHyperLink(Tr(StringId::kFeedback, language), this);
    link->setObjectName("1068");
    link->SetTarget(kFeedbackPage);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QFormLayout(this);
    layout->addRow(Tr(StringId::kSoftwareVersion, language), software);
    layout->addRow(Tr(StringId::kFirmwareVersion, language), firmware);
    layout->addRow(link);
    layout->addRow(buttons);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName("100");
    setWindowTitle("About Kalmiro");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Kalmiro, Version 1.0", this));
    layout->addWidget(buttons);
}

}  // namespace orv::panel
