#include "service/host/service_base.h"

#include <atomic>
#include <cstdio>

#include "platform/event_log.h"

namespace orv::host {
namespace {

using namespace orv::platform;

CServiceBase* g_service = nullptr;
// Check point of the next pending-state report.
std::atomic<std::uint32_t> g_checkPoint{1};

}  // namespace

CServiceBase::CServiceBase(std::string serviceName, IDeviceManagerHost* deviceManager,
                           IDeviceNotificationSource* deviceNotifications)
    : name_(std::move(serviceName)),
      deviceManager_(deviceManager),
      deviceNotifications_(deviceNotifications) {
    status_.serviceType = kServiceWin32OwnProcess;
    status_.currentState = kServiceStartPending;
    // Pause and continue are never offered.
    status_.controlsAccepted = kServiceAcceptStop | kServiceAcceptShutdown;
    g_service = this;
}

CServiceBase::~CServiceBase() {
    if (g_service == this) g_service = nullptr;
}

bool CServiceBase::Run(CServiceBase& service, std::uint32_t& error) {
    g_service = &service;
    error = ServiceDispatcher::Run(service.name_, &CServiceBase::ServiceMain, 0, nullptr);
    return error == kErrorSuccess;
}

void CServiceBase::ServiceMain(int argc, char** argv) {
    CServiceBase* service = g_service;
    if (service == nullptr) return;
    if (!ServiceDispatcher::RegisterControlHandler(
            service->name_, [](std::uint32_t control, std::uint32_t eventType, const void* data) {
                return ServiceCtrlHandler(control, eventType, data);
            }))
        return;  // start abandoned: nothing to report the failure to
    if (service->deviceNotifications_ != nullptr &&
        !service->deviceNotifications_->Register(
            kAdapterInterfaceClass,
            [](const DeviceBroadcast& event) { ServiceDispatcher::PostDeviceEvent(event); })) {
        // Without arrival and removal events the service cannot follow its
        // adapters: the start is abandoned.
        service->SetServiceStatus(kServiceStopped, kErrorGenFailure);
        return;
    }
    service->Start(argc, argv);
}

std::uint32_t CServiceBase::ServiceCtrlHandler(std::uint32_t control, std::uint32_t eventType,
                                               const void* eventData) {
    CServiceBase* service = g_service;
    if (service == nullptr) return 0;
    switch (control) {
        case kControlStop:
            service->Stop();
            break;
        case kControlPause:
            service->Pause();
            break;
        case kControlContinue:
            service->Continue();
            break;
        case kControlShutdown:
            service->Shutdown();
            break;
        case kControlDeviceEvent:
            if (eventData != nullptr)
                service->OnDeviceEvent(eventType, *static_cast<const DeviceBroadcast*>(eventData));
            break;
        default:
            break;
    }
    return 0;
}

void CServiceBase::OnDeviceEvent(std::uint32_t eventType, const DeviceBroadcast& event) {
    // Only device-interface broadcasts of the adapters' class are acted on.
    if (event.deviceType != kDbtDevtypDeviceInterface || event.classGuid != kAdapterInterfaceClass)
        return;
    if (deviceManager_ == nullptr) return;
    if (eventType == kDbtDeviceArrival)
        deviceManager_->USBAdapterPlugIn(event.name);
    else if (eventType == kDbtDeviceRemoveComplete)
        deviceManager_->USBAdapterPlugOut(event.name);
}

void CServiceBase::Start(int argc, char** argv) {
    try {
        SetServiceStatus(kServiceStartPending);
        OnStart(argc, argv);
        SetServiceStatus(kServiceRunning);
    } catch (std::uint32_t error) {
        WriteErrorLogEntry("Service Start", error);
        SetServiceStatus(kServiceStopped, error);
    } catch (...) {
        WriteEventLogEntry("Service failed to start.", kEventLogErrorType);
        SetServiceStatus(kServiceStopped);
    }
}

void CServiceBase::Stop() {
    const std::uint32_t originalState = Status().currentState;
    try {
        SetServiceStatus(kServiceStopPending);
        OnStop();
        if (deviceNotifications_ != nullptr) deviceNotifications_->Unregister();
        SetServiceStatus(kServiceStopped);
    } catch (std::uint32_t error) {
        WriteErrorLogEntry("Service Stop", error);
        SetServiceStatus(originalState);
    } catch (...) {
        WriteEventLogEntry("Service failed to stop.", kEventLogErrorType);
        SetServiceStatus(originalState);
    }
}

void CServiceBase::Pause() {
    try {
        SetServiceStatus(kServicePausePending);
        OnPause();
        SetServiceStatus(kServicePaused);
    } catch (std::uint32_t error) {
        WriteErrorLogEntry("Service Pause", error);
        SetServiceStatus(kServiceRunning);
    } catch (...) {
        WriteEventLogEntry("Service failed to pause.", kEventLogErrorType);
        SetServiceStatus(kServiceRunning);
    }
}

void CServiceBase::Continue() {
    try {
        SetServiceStatus(kServiceContinuePending);
        OnContinue();
        SetServiceStatus(kServiceRunning);
    } catch (std::uint32_t error) {
        WriteErrorLogEntry("Service Continue", error);
        SetServiceStatus(kServicePaused);
    } catch (...) {
        WriteEventLogEntry("Service failed to resume.", kEventLogErrorType);
        SetServiceStatus(kServicePaused);
    }
}

void CServiceBase::Shutdown() {
    // On system shutdown the service only reports that it stopped: OnStop
    // does not run.
    try {
        OnShutdown();
        SetServiceStatus(kServiceStopped);
    } catch (std::uint32_t error) {
        WriteErrorLogEntry("Service Shutdown", error);
    } catch (...) {
        WriteEventLogEntry("Service failed to shut down.", kEventLogErrorType);
    }
}

void CServiceBase::OnStart(int, char**) {}
void CServiceBase::OnStop() {}
void CServiceBase::OnPause() {}
void CServiceBase::OnContinue() {}
void CServiceBase::OnShutdown() {}

platform::ServiceStatus CServiceBase::Status() const {
    MutexLock lock(statusMutex_);
    return status_;
}

void CServiceBase::SetServiceStatus(std::uint32_t state, std::uint32_t win32ExitCode,
                                    std::uint32_t waitHint) {
    ServiceStatus report;
    {
        MutexLock lock(statusMutex_);
        status_.currentState = state;
        status_.win32ExitCode = win32ExitCode;
        const bool settled = state == kServiceRunning || state == kServiceStopped;
        status_.waitHint = settled ? 0 : waitHint;
        status_.checkPoint = settled ? 0 : g_checkPoint.fetch_add(1);
        report = status_;
    }
    ServiceDispatcher::SetServiceStatus(report);
}

void CServiceBase::WriteEventLogEntry(const std::string& text, std::uint16_t type) {
    EventLog::Write(name_, text, type);
}

void CServiceBase::WriteErrorLogEntry(const std::string& function, std::uint32_t error) {
    char text[260];
    std::snprintf(text, sizeof text, "%s failed w/err 0x%08lx", function.c_str(),
                  static_cast<unsigned long>(error));
    WriteEventLogEntry(text, kEventLogErrorType);
}

}  // namespace orv::host
