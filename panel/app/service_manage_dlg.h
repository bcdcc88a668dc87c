// ServiceManageDlg (133), the server list: services that announce
// themselves on UDP appear as rows (name, address, port); Login greets the
// selected one and, when it answers, ends the dialog with it chosen so the
// main dialog can run against it. Refresh searches again; Language changes
// the language (the program then starts again).
//
// UI thread; the discovery thread's events are posted to it.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "panel/client/server_discovery.h"
#include "panel/model/panel_discovery.h"
#include "panel/model/panel_strings.h"

namespace orv::panel {

class ServiceManageDlg : public QDialog {
public:
    ServiceManageDlg(Language language, std::uint16_t discoveryPort,
                     std::filesystem::path languageFile = std::string(kLanguageFileName),
                     std::chrono::milliseconds attemptTimeout = ServerDiscovery::kAttemptTimeout,
                     QWidget* parent = nullptr);
    ~ServiceManageDlg() override;

    void SetMessageShower(std::function<void(const QString&)> shower) {
        shower_ = std::move(shower);
    }
    // The server Login reached (after the dialog was accepted).
    const std::optional<Announcement>& Chosen() const { return chosen_; }
    bool RestartRequested() const { return restart_; }
    const ServerList& Servers() const { return servers_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Found(const Announcement& announcement);
    void SearchEnded();
    void StartSearch();
    void Login();
    void ShowText(const QString& text);
    void SetButtons(bool enabled);
    QString Tr(StringId id) const;

    Language language_;
    std::filesystem::path languageFile_;
    std::function<void(const QString&)> shower_;
    QTreeWidget* list_;
    QPushButton* login_;
    QPushButton* refresh_;
    QPushButton* quit_;
    QPushButton* languageButton_;
    ServerList servers_;
    std::optional<Announcement> chosen_;
    bool restart_ = false;
    std::unique_ptr<ServerDiscovery> discovery_;  // last: stopped first
};

}  // namespace orv::panel
