#include "service/host/zentrelle.h"

#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/diag.h"
#include "platform/paths.h"
#include "platform/service_host.h"
#include "service/host/sample_service.h"
#include "service/log/logger.h"

namespace orv::host {

using namespace orv::platform;

CommandAction ParseCommandLine(int argc, const char* const* argv) {
    if (argc < 2 || argv[1] == nullptr) return CommandAction::kRunService;
    const char* arg = argv[1];
    if (arg[0] != '-' && arg[0] != '/') return CommandAction::kRunService;
    if (strcasecmp(arg + 1, "install") == 0) return CommandAction::kInstall;
    if (strcasecmp(arg + 1, "remove") == 0) return CommandAction::kRemove;
    return CommandAction::kIgnore;
}

void InstallService() {
    const std::string program = ProgramPath();
    if (program.empty()) {
        std::printf("GetModuleFileName failed w/err 0x%08lx\n",
                    static_cast<unsigned long>(kErrorInsufficientBuffer));
        return;
    }
    ScmClient scm;
    if (!scm.OpenManager()) {
        std::printf("OpenSCManager failed w/err 0x%08lx\n",
                    static_cast<unsigned long>(scm.LastError()));
        return;
    }
    if (!scm.CreateService(kServiceName, program)) {
        std::printf("CreateService failed w/err 0x%08lx\n",
                    static_cast<unsigned long>(scm.LastError()));
        return;
    }
    std::printf("%s is installed.\n", kServiceName);
}

void UninstallService() {
    ScmClient scm;
    if (!scm.OpenManager()) {
        std::printf("OpenSCManager failed w/err 0x%08lx\n",
                    static_cast<unsigned long>(scm.LastError()));
        return;
    }
    if (!scm.OpenService(kServiceName)) {
        std::printf("OpenService failed w/err 0x%08lx\n",
                    static_cast<unsigned long>(scm.LastError()));
        return;
    }
    if (scm.StopService()) {
        std::printf("Stopping %s.", kServiceName);
        std::fflush(stdout);
        ServiceStatusProcess status;
        std::this_thread::sleep_for(std::chrono::seconds(1));
        while (scm.QueryStatus(status) && status.currentState == kServiceStopPending) {
            std::printf(".");
            std::fflush(stdout);
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        if (status.currentState == kServiceStopped)
            std::printf("\n%s is stopped.\n", kServiceName);
        else
            std::printf("\n%s failed to stop.\n", kServiceName);
    }
    if (!scm.DeleteService()) {
        std::printf("DeleteService failed w/err 0x%08lx\n",
                    static_cast<unsigned long>(scm.LastError()));
        return;
    }
    std::printf("%s is removed.\n", kServiceName);
}

int ZentrelleMain(int argc, char** argv, IDeviceManagerHost* deviceManager,
                  IDeviceNotificationSource* deviceNotifications) {
    // Line-buffered so that messages reach a pipe or the journal at once.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    switch (ParseCommandLine(argc, argv)) {
        case CommandAction::kInstall:
            InstallService();
            return 0;
        case CommandAction::kRemove:
            UninstallService();
            return 0;
        case CommandAction::kIgnore:
            return 0;
        case CommandAction::kRunService:
            break;
    }
    // What the platform layer refuses or skips goes to the service log.
    platform::SetDiagnosticSink([](const char* line) {
        orv::log::Logger::Instance().Log({orv::log::kServiceChannel, line, 0});
    });
    std::printf("Parameters:\n");
    std::printf(" -install  to install the service.\n");
    std::printf(" -remove   to remove the service.\n");

    CSampleService service(kServiceName, deviceManager, deviceNotifications);
    std::uint32_t error = 0;
    if (!CServiceBase::Run(service, error))
        std::printf("Service failed to run w/err 0x%08lx\n", static_cast<unsigned long>(error));
    // Lines still queued would be lost with the process: write them first.
    orv::log::Logger::Instance().Flush();
    return 0;
}

}  // namespace orv::host
