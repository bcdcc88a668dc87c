// CServiceBase: the service skeleton (status, state wrappers, event-log
// entries, control handler) over platform::ServiceDispatcher.
//
// One instance per process, published in a process-wide pointer that the
// service-main function and the control handler use.
//
// Threads: Run is called on the main thread and stays in the dispatcher's
// control loop; ServiceMain runs on the dispatcher's service-main thread and
// calls Start; the control handler (Stop, Pause, Continue, Shutdown, device
// events) runs on the main thread, one control at a time. Status reports may
// come from any of them; statusMutex_ (a leaf lock) guards the status.
#pragma once

#include <cstdint>
#include <string>

#include "common/thread_annotations.h"
#include "platform/device_watcher.h"
#include "platform/service_host.h"
#include "service/host/device_manager_host.h"

namespace orv::host {

class CServiceBase {
public:
    CServiceBase(std::string serviceName, IDeviceManagerHost* deviceManager,
                 IDeviceNotificationSource* deviceNotifications);
    virtual ~CServiceBase();
    CServiceBase(const CServiceBase&) = delete;
    CServiceBase& operator=(const CServiceBase&) = delete;

    // Publishes `service` and runs the dispatcher until the service stopped.
    // False (with the Windows error in `error`) when the dispatcher cannot run.
    static bool Run(CServiceBase& service, std::uint32_t& error);

    // The control handler (main thread). Always returns 0 (NO_ERROR).
    static std::uint32_t ServiceCtrlHandler(std::uint32_t control, std::uint32_t eventType,
                                            const void* eventData);

    // The state wrappers: report the pending state, run the hook, report the
    // final state; a hook fails by throwing a Windows error code (uint32_t).
    void Start(int argc, char** argv);
    void Stop();
    void Pause();
    void Continue();
    void Shutdown();

    const std::string& Name() const { return name_; }
    platform::ServiceStatus Status() const;

protected:
    virtual void OnStart(int argc, char** argv);
    virtual void OnStop();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();

    // Pending states take the next value of the process-wide check-point
    // counter; running and stopped carry check point 0 and wait hint 0.
    void SetServiceStatus(std::uint32_t state, std::uint32_t win32ExitCode = 0,
                          std::uint32_t waitHint = 0);
    void WriteEventLogEntry(const std::string& text, std::uint16_t type);
    // "<function> failed w/err 0x%08lx" as an error entry.
    void WriteErrorLogEntry(const std::string& function, std::uint32_t error);

    IDeviceManagerHost* DeviceManager() const { return deviceManager_; }

private:
    static void ServiceMain(int argc, char** argv);
    void OnDeviceEvent(std::uint32_t eventType, const platform::DeviceBroadcast& event);

    const std::string name_;
    IDeviceManagerHost* const deviceManager_;
    IDeviceNotificationSource* const deviceNotifications_;

    mutable Mutex statusMutex_;
    platform::ServiceStatus status_ GUARDED_BY(statusMutex_);
};

}  // namespace orv::host
