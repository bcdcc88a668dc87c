// The panel's main dialog: the settings controls, the topology view and the
// monitor strip over the model (WallEditor) and the connection to the
// service (PanelConnection).
//
// Start connects and greets, runs the start-up queries and starts the
// receive thread, whose messages are posted to the UI thread (queued calls
// on this dialog) and applied to the model there; nothing but the UI thread
// touches the model or the widgets. Every command runs the model, sends the
// requests of its Outcome, shows its message and repaints. A failed send or
// a lost connection shows the disconnect message and closes the dialog.
// Closing shuts the connection down (0x5C, then the receive thread is
// woken and joined).
//
// Each control's object name is its dialog id ("1006" for Create), so tests
// and screen readers find it.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "panel/client/panel_connection.h"
#include "panel/model/panel_strings.h"
#include "panel/model/wall_editor.h"

namespace orv::panel {

class CSplitWnd;
class CClientListWnd;
class ZoneWindows;

enum class ZoneCommand { kOpenApp, kCloseApp, kPlayPhotoWall, kPlayVideo };

class CKalmiroDlg : public QDialog {
public:
    // `languageFile`: where the language dialog writes the choice.
    explicit CKalmiroDlg(Language language,
                         std::filesystem::path languageFile = std::string(kLanguageFileName),
                         QWidget* parent = nullptr);
    ~CKalmiroDlg() override;

    // Connects to the service and loads its walls and monitors. False after
    // showing message 119 or 111; the caller then ends the program.
    bool Start(const std::string& host, std::uint16_t port);

    // How messages are shown; a modal message box unless a test records
    // them instead.
    void SetMessageShower(std::function<void(const QString&)> shower) {
        shower_ = std::move(shower);
    }

    // A language other than the current one was chosen: the dialog closes
    // and the program should start again (RestartFlag).
    bool RestartRequested() const { return restart_; }
    // Back (1043, hidden) was pressed: the dialog closed and the server list
    // should run.
    bool BackRequested() const { return back_; }
    void ApplyLanguageChoice(Language chosen);

    const WallEditor& Editor() const { return editor_; }
    Language UiLanguage() const { return language_; }
    CSplitWnd* SplitWnd() const { return split_; }
    CClientListWnd* ClientListWnd() const { return strip_; }

    // --- from the two child windows
    void PlaceMonitor(std::int32_t monitorId, std::int32_t cellIndex);
    void DropCell(std::int32_t monitorId, std::int32_t cellIndex);
    void ReturnToStrip(std::int32_t monitorId);
    void MoveZoneBorder(BorderKind kind, Point press, Point release, Size client);
    void ChangeMonitorId(std::int32_t oldId, const QString& digits);
    // A zone program command at (fx, fy), fractions of the shown wall. The
    // programs run on the wall's desktop (zone_apps.h); the players are
    // looked for next to this program, then on the PATH.
    void RunZoneCommand(ZoneCommand command, double fx, double fy);

    // How the photo wall's settings and Open App's program are asked for;
    // the dialogs unless a test answers instead. Empty: cancelled.
    struct PhotoWallChoice {
        QString folder;
        unsigned interval = 1;
    };
    void SetPhotoWallAsker(std::function<std::optional<PhotoWallChoice>()> asker) {
        photoWallAsker_ = std::move(asker);
    }
    void SetProgramAsker(std::function<QString()> asker) { programAsker_ = std::move(asker); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void Run(const Outcome& outcome);
    void OnServiceMessage(const control::ServiceMessage& message);
    void ConnectionLost();
    void ShowMessage(StringId id);
    void ShowText(const QString& text);
    // Starts `program` on the wall's desktop for record `index` of the shown
    // wall and places its window on the zone. False when it was not placed.
    bool Launch(std::size_t index, const QString& program, const QStringList& arguments);
    void CloseWindows(const std::vector<std::uint64_t>& windows);
    ZoneWindows* WallWindows();
    void RefreshControls();
    QString Tr(StringId id) const;

    Language language_;
    WallEditor editor_;
    PanelConnection connection_;
    std::filesystem::path languageFile_;
    bool closing_ = false;
    bool restart_ = false;
    bool back_ = false;
    std::string serverAddress_ = "127.0.0.1";
    std::function<void(const QString&)> shower_;
    std::function<std::optional<PhotoWallChoice>()> photoWallAsker_;
    std::function<QString()> programAsker_;
    std::optional<WallDesktop> desktop_;
    std::unique_ptr<ZoneWindows> wallWindows_;

    QComboBox* wallCombo_ = nullptr;       // 1005
    QComboBox* pixelCombo_ = nullptr;      // 1052
    QComboBox* rowCombo_ = nullptr;        // 1056
    QComboBox* columnCombo_ = nullptr;     // 1057
    QLineEdit* widthEdit_ = nullptr;       // 1021
    QLineEdit* heightEdit_ = nullptr;      // 1022
    QPushButton* createButton_ = nullptr;  // 1006
    QPushButton* resetButton_ = nullptr;   // 1036
    QPushButton* saveButton_ = nullptr;    // 1049
    QComboBox* templateCombo_ = nullptr;   // 1024, hidden
    QComboBox* encodeCombo_ = nullptr;     // 1051, hidden
    QLineEdit* cpuEdit_ = nullptr;         // 1040, hidden
    QLineEdit* threadEdit_ = nullptr;      // 1012, hidden
    QPushButton* addButton_ = nullptr;     // 1038, hidden
    QPushButton* removeButton_ = nullptr;  // 1039, hidden
    QLineEdit* bezelEdit_ = nullptr;       // 1047
    CSplitWnd* split_ = nullptr;           // 1500
    CClientListWnd* strip_ = nullptr;      // 1501
};

}  // namespace orv::panel
