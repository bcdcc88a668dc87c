#include "panel/app/kalmiro_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <thread>

#include "panel/app/kalmiro_dlg.h"
#include "panel/app/service_manage_dlg.h"
#include "panel/model/panel_log.h"
#include "panel/model/panel_strings.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/service_host.h"

namespace orv::panel {
namespace {

constexpr const char* kInstanceLock = "ORVVWCPL";
constexpr const char* kServiceProcess = "zentrelle";
constexpr const char* kServiceName = "ORV Video Wall Manager";

QString Tr(StringId id, Language language) {
    const std::string_view text = Text(id, language);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

bool StartServiceIfStopped() {
    platform::ScmClient scm;
    if (!scm.OpenManager()) {
        PanelLog("OpenSCManager failed (%u)", scm.LastError());
        return false;
    }
    if (!scm.OpenService(kServiceName)) {
        PanelLog("OpenService failed (%u)", scm.LastError());
        return false;
    }
    platform::ServiceStatusProcess status;
    if (!scm.QueryStatus(status)) {
        PanelLog("QueryServiceStatusEx failed (%u)", scm.LastError());
        return false;
    }
    if (status.currentState != platform::kServiceStopped &&
        status.currentState != platform::kServiceStopPending) {
        PanelLog("Cannot start the service because it is already running");
        return false;
    }
    using Clock = std::chrono::steady_clock;
    auto lastAdvance = Clock::now();
    std::uint32_t checkPoint = status.checkPoint;
    while (status.currentState == platform::kServiceStopPending) {
        const auto wait = std::clamp<std::uint32_t>(status.waitHint / 10, 1000, 10000);
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        if (!scm.QueryStatus(status)) {
            PanelLog("QueryServiceStatusEx failed (%u)", scm.LastError());
            return false;
        }
        if (status.checkPoint > checkPoint) {
            checkPoint = status.checkPoint;
            lastAdvance = Clock::now();
        } else if (Clock::now() - lastAdvance > std::chrono::milliseconds(status.waitHint)) {
            PanelLog("Timeout waiting for service to stop");
            return false;
        }
    }
    if (!scm.StartService()) {
        PanelLog("StartService failed (%u)", scm.LastError());
        return false;
    }
    PanelLog("Service start pending...");
    return true;
}

int RunKalmiro(int argc, char** argv) {
    QApplication app(argc, argv);
    // Every window runs modally; closing one is not the end of the program.
    QApplication::setQuitOnLastWindowClosed(false);
    auto lock = platform::SingleInstanceLock::Acquire(kInstanceLock);
    if (lock == nullptr) return 0;  // another instance runs: end silently

    const LanguageAtStart start = ReadLanguageAtStart(std::string(kLanguageFileName));
    if (start.writeFailed) PanelLog("cannot write %s", std::string(kLanguageFileName).c_str());
    const Language language = start.language;

    if (!platform::IsProcessRunning(kServiceProcess)) {
        const StringId message =
            StartServiceIfStopped() ? StringId::kServiceRestarting : StringId::kServiceMissing;
        QMessageBox::information(nullptr, Tr(StringId::kCaption, language), Tr(message, language));
        return 0;
    }
    bool restart = false;
    std::string host = "127.0.0.1";
    std::uint16_t port = platform::ControlPort();
    for (;;) {
        CKalmiroDlg dialog(language);
        if (!dialog.Start(host, port)) return 1;
        dialog.exec();
        restart = dialog.RestartRequested();
        if (!dialog.BackRequested()) break;
        ServiceManageDlg servers(language, platform::DiscoveryPort());
        servers.exec();
        restart = servers.RestartRequested();
        if (!servers.Chosen()) break;
        // The main dialog runs against the server the list reached.
        host = servers.Chosen()->address;
        port = servers.Chosen()->port;
    }
    if (restart) {
        // The new instance must find the lock free.
        lock.reset();
        if (!QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                     QCoreApplication::arguments().mid(1))) {
            PanelLog("cannot start %s again",
                     QCoreApplication::applicationFilePath().toUtf8().constData());
        }
    }
    return 0;
}

}  // namespace orv::panel
