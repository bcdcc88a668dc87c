#include "service/host/sample_service.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "platform/event_log.h"
#include "platform/thread_name.h"
#include "service/log/logger.h"

namespace orv::host {

using namespace orv::platform;
using orv::log::ServiceLog;

CSampleService::CSampleService(std::string serviceName, IDeviceManagerHost* deviceManager,
                               IDeviceNotificationSource* deviceNotifications, ServiceTiming timing)
    : CServiceBase(std::move(serviceName), deviceManager, deviceNotifications), timing_(timing) {}

CSampleService::~CSampleService() {
    // A worker that was never stopped (the process is going away without a
    // stop request) is told to finish and joined, never left running.
    stopping_ = 1;
    if (worker_.joinable()) worker_.join();
}

void CSampleService::OnStart(int, char**) {
    WriteEventLogEntry("Dravonel in OnStart", kEventLogInformationType);
    try {
        worker_ = std::thread([this] { ServiceWorkerThread(); });
    } catch (const std::system_error& e) {
        throw static_cast<std::uint32_t>(FromErrno(e.code().value()));
    }
}

void CSampleService::ServiceWorkerThread() {
    platform::SetCurrentThreadName("orv-svc-worker");
    std::this_thread::sleep_for(timing_.workerStartDelay);
    ServiceLog("Service start.\n");
    if (IDeviceManagerHost* manager = DeviceManager())
        manager->Start();
    else
        ServiceLog("No device manager in this program: adapters are not followed.\n");
    while (!stopping_) {
        std::this_thread::sleep_for(timing_.workerStep);
        EnsureAssistantRunning();
    }
    stoppedEvent_.Set();
}

void CSampleService::OnStop() {
    ServiceLog("Service stop.\n");
    if (IDeviceManagerHost* manager = DeviceManager()) manager->Stop();
    std::this_thread::sleep_for(timing_.stopSettle);
    WriteEventLogEntry("Dravonel in OnStop", kEventLogInformationType);
    stopping_ = 1;
    if (!stoppedEvent_.Wait(kInfinite)) throw static_cast<std::uint32_t>(kErrorGenFailure);
    if (worker_.joinable()) worker_.join();
}

void EnsureAssistantRunning() {
    ScmClient scm;
    if (!scm.OpenManager()) {
        std::printf("OpenSCManager failed (%d)\n", static_cast<int>(scm.LastError()));
        return;
    }
    if (!scm.OpenService(kAssistantServiceName)) {
        std::printf("OpenService failed (%d)\n", static_cast<int>(scm.LastError()));
        return;
    }
    ServiceStatusProcess status;
    if (!scm.QueryStatus(status)) {
        std::printf("QueryServiceStatusEx failed (%d)\n", static_cast<int>(scm.LastError()));
        return;
    }
    if (status.currentState != kServiceStopped && status.currentState != kServiceStopPending) {
        std::printf("Cannot start the service because it is already running\n");
        return;
    }

    using Clock = std::chrono::steady_clock;
    auto lastProgress = Clock::now();
    std::uint32_t oldCheckPoint = status.checkPoint;
    while (status.currentState == kServiceStopPending) {
        const std::uint32_t wait = std::clamp<std::uint32_t>(status.waitHint / 10, 1000, 10000);
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        if (!scm.QueryStatus(status)) {
            std::printf("QueryServiceStatusEx failed (%d)\n", static_cast<int>(scm.LastError()));
            return;
        }
        if (status.checkPoint > oldCheckPoint) {
            lastProgress = Clock::now();
            oldCheckPoint = status.checkPoint;
        } else if (status.currentState == kServiceStopPending &&
                   Clock::now() - lastProgress > std::chrono::milliseconds(status.waitHint)) {
            std::printf("Timeout waiting for service to stop\n");
            return;
        }
    }

    if (scm.StartService())
        std::printf("Service start pending...\n");
    else
        std::printf("StartService failed (%d)\n", static_cast<int>(scm.LastError()));
}

}  // namespace orv::host
