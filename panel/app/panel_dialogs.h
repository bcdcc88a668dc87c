// The panel's small dialogs: Set Monitor ID, the language choice, the About
// box with the installed versions, the program's own About box, and the
// hyperlink label the About box uses.
//
// UI thread only. Each control's object name is its dialog id.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <filesystem>
#include <functional>

#include "panel/model/panel_strings.h"

namespace orv::platform {
class Registry;
}

namespace orv::panel {

// "Set Monitor ID" (139): an edit (1048) that takes digits only, OK and
// Cancel. Enter and Escape do not close it: only the buttons do.
class CSetMonitorId : public QDialog {
public:
    CSetMonitorId(std::int32_t monitorId, Language language, QWidget* parent = nullptr);
    QString Digits() const { return edit_->text(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLineEdit* edit_;
};

// "Change language" (140): combo 1055 with the two languages named in the
// current one. OK writes the language file for the choice.
class CLanguagesSettings : public QDialog {
public:
    CLanguagesSettings(Language current, std::filesystem::path languageFile,
                       QWidget* parent = nullptr);
    // The language of the entry chosen (valid after OK).
    Language Chosen() const { return chosen_; }

private:
    void Accept();

    QComboBox* combo_;
    std::filesystem::path file_;
    Language chosen_;
};

// A label that looks and acts like a link: blue on the dialog grey,
// underlined with the hand cursor while the mouse is over it; a click opens
// its target (its own text when no target is set).
class CHyperLink : public QLabel {
public:
    CHyperLink(const QString& text, QWidget* parent = nullptr);
    void SetTarget(const QString& target) { target_ = target; }
    // How a click opens the target: the desktop's URL handler unless a test
    // records it.
    void SetOpener(std::function<void(const QString&)> opener) { opener_ = std::move(opener); }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void SetHover(bool hover);

    QString target_;
    std::function<void(const QString&)> opener_;
};

// "About" (146): the installed package (1067) and firmware (1069) versions
// from the registry, and the feedback link (1068).
class CAboutDialog : public QDialog {
public:
    CAboutDialog(Language language, const platform::Registry& registry, QWidget* parent = nullptr);
};

// "Photo Wall Configure Page" (135): the pictures' folder (1044, read-only,
// chosen with "..." 1046) and the seconds per picture (1045, digits only).
// Enter and Escape do not close it.
class CPhotoWallConfigPage : public QDialog {
public:
    explicit CPhotoWallConfigPage(QWidget* parent = nullptr);
    QString Folder() const { return folder_->text(); }
    void SetFolder(const QString& folder) { folder_->setText(folder); }
    unsigned Interval() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLineEdit* folder_;
    QLineEdit* interval_;
};

// "About Kalmiro" (100): the program and its version.
class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace orv::panel
