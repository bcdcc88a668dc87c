// Service control on Linux, shaped like the service control manager the
// service host was designed around.
//
// ServiceDispatcher is the control loop that the program's main thread stays
// in for the life of the service. It runs the service-main function on a
// thread of its own, then delivers control requests to the registered handler
// one at a time, on the main thread:
//   - SIGTERM and SIGINT become kControlStop (read from a signalfd, never
//     handled inside a signal handler);
//   - device events posted by a device watcher (PostDeviceEvent, any thread)
//     become kControlDeviceEvent with the DeviceBroadcast as event data.
// Status reports go to systemd through sd_notify (READY, STOPPING, STATUS)
// when NOTIFY_SOCKET is set; started from a prompt they change nothing but the
// loop. Run returns once the service has reported kServiceStopped and the
// service-main thread has ended.
//
// ScmClient drives systemd units through the systemctl program (ORV_SYSTEMCTL
// replaces it in tests): open the manager, create/open/delete a unit, query,
// start and stop it, with Windows error numbers from LastError(). Creating
// the service also installs the udev rule that lets it open the USB adapters
// (UdevRulePath(), then "udevadm control --reload" and a replay of the USB
// add events so adapters already plugged in get it; ORV_UDEVADM replaces
// udevadm); deleting it removes the rule.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_watcher.h"
#include "platform/error.h"

namespace orv::platform {

// Service states, controls and types with their Windows numbers.
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServiceContinuePending = 5;
inline constexpr std::uint32_t kServicePausePending = 6;
inline constexpr std::uint32_t kServicePaused = 7;

inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlPause = 2;
inline constexpr std::uint32_t kControlContinue = 3;
inline constexpr std::uint32_t kControlShutdown = 5;
inline constexpr std::uint32_t kControlDeviceEvent = 11;

inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr std::uint32_t kServiceAcceptStop = 0x1;
inline constexpr std::uint32_t kServiceAcceptShutdown = 0x4;

struct ServiceStatus {
    std::uint32_t serviceType = kServiceWin32OwnProcess;
    std::uint32_t currentState = kServiceStartPending;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

// Control handler: (control, event type, event data). For kControlDeviceEvent
// the data points to a DeviceBroadcast valid for the duration of the call.
using ControlHandler = std::function<std::uint32_t(std::uint32_t, std::uint32_t, const void*)>;
using ServiceMainFunction = std::function<void(int argc, char** argv)>;

class ServiceDispatcher {
public:
    // The control loop (main thread). Returns 0 once the service stopped, or
    // a Windows error number when the loop cannot be set up (signals cannot be
    // redirected: the service is not run at all).
    static ErrorCode Run(const std::string& serviceName, ServiceMainFunction serviceMain, int argc,
                         char** argv);

    // From the service-main thread: installs the handler. False when no
    // dispatcher is running for that name.
    static bool RegisterControlHandler(const std::string& serviceName, ControlHandler handler);

    // Any thread: reports the status (sd_notify when under systemd). When the
    // state is kServiceStopped the control loop ends once the service-main
    // thread has returned.
    static bool SetServiceStatus(const ServiceStatus& status);

    // Any thread: queues a device event for the handler. False when no
    // dispatcher is running.
    static bool PostDeviceEvent(const DeviceBroadcast& event);
};

// The systemd unit name of a service: lower case, blanks as '-', ".service".
std::string UnitName(const std::string& serviceName);

struct ServiceStatusProcess {
    std::uint32_t currentState = kServiceStopped;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;  // milliseconds
};

class ScmClient {
public:
    // Each call returns false on failure, with the reason in LastError().
    bool OpenManager();                                // systemctl usable
    bool OpenService(const std::string& serviceName);  // unit file known
    bool CreateService(const std::string& serviceName,
                       const std::string& programPath);  // unit, udev rule, enable
    bool DeleteService();                                // disable, remove unit and rule
    bool QueryStatus(ServiceStatusProcess& status);
    bool StartService();
    bool StopService();  // ControlService(STOP): fails 1062 when not active

    ErrorCode LastError() const { return lastError_; }

private:
    bool Fail(ErrorCode code) {
        lastError_ = code;
        return false;
    }

    std::string unit_;
    std::string serviceName_;
    ErrorCode lastError_ = kErrorSuccess;
};

// Runs the systemctl program with `args`; its exit status (127 when it could
// not be started), its standard output in `output` when not null.
int RunSystemctl(const std::vector<std::string>& args, std::string* output = nullptr);

}  // namespace orv::platform
