#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <string>
#include <thread>

#include "common/thread_annotations.h"
#include "platform/posix/wakeable_wait.h"
#include "platform/service_host.h"
#include "platform/thread_name.h"

namespace orv::platform {
namespace {

// The one dispatcher of the process. mutex guards every field; it is never
// held while the handler or the service-main function runs.
struct Dispatcher {
    Mutex mutex;
    bool running GUARDED_BY(mutex) = false;
    std::string serviceName GUARDED_BY(mutex);
    ControlHandler handler GUARDED_BY(mutex);
    std::deque<DeviceBroadcast> deviceEvents GUARDED_BY(mutex);
    // A stop signal arrived before the handler.
    bool stopRequested GUARDED_BY(mutex) = false;
    bool stopped GUARDED_BY(mutex) = false;    // the service reported kServiceStopped
    bool mainEnded GUARDED_BY(mutex) = false;  // the service-main thread returned
    // Nudged when something above changed; set while Run runs.
    posix::WakeableWait* wake GUARDED_BY(mutex) = nullptr;
};

Dispatcher& TheDispatcher() {
    static Dispatcher d;
    return d;
}

void Wake(Dispatcher& d) REQUIRES(d.mutex) {
    if (d.wake != nullptr) d.wake->Wake();
}

void Notify(const ServiceStatus& s) {
    char text[96];
    switch (s.currentState) {
        case kServiceRunning:
            std::snprintf(text, sizeof text, "READY=1\nSTATUS=Running");
            break;
        case kServiceStopPending:
            std::snprintf(text, sizeof text, "STOPPING=1\nSTATUS=Stop pending (check point %u)",
                          s.checkPoint);
            break;
        case kServiceStopped:
            std::snprintf(text, sizeof text, "STATUS=Stopped (exit code %u)", s.win32ExitCode);
            break;
        default:
            std::snprintf(text, sizeof text, "STATUS=State %u (check point %u)", s.currentState,
                          s.checkPoint);
            break;
    }
    sd_notify(0, text);  // does nothing when NOTIFY_SOCKET is not set
}

}  // namespace

ErrorCode ServiceDispatcher::Run(const std::string& serviceName, ServiceMainFunction serviceMain,
                                 int argc, char** argv) {
    Dispatcher& d = TheDispatcher();

    // Stop requests arrive as signals. Block them before any thread starts so
    // that every thread inherits the mask and only the signalfd sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigset_t previousMask;
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, &previousMask) != 0) return kErrorGenFailure;
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    posix::WakeableWait wake(posix::WakeableWait::WakeKind::kConsumed);
    if (signalFd < 0 || !wake.Ok()) {
        const ErrorCode err = FromErrno(errno);
        if (signalFd >= 0) close(signalFd);
        pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        return err;
    }
    {
        MutexLock lock(d.mutex);
        d.running = true;
        d.handler = nullptr;
        d.deviceEvents.clear();
        d.stopRequested = d.stopped = d.mainEnded = false;
        d.serviceName = serviceName;
        d.wake = &wake;
    }

    std::thread serviceMainThread([&] {
        SetCurrentThreadName("orv-svc-main");
        serviceMain(argc, argv);
        MutexLock lock(d.mutex);
        d.mainEnded = true;
        Wake(d);
    });

    for (;;) {
        const posix::WakeableWait::Readiness r = wake.Wait({signalFd});
        if (r.failed) break;
        if (r.ready[0]) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) == sizeof info) {
                MutexLock lock(d.mutex);
                d.stopRequested = true;
            }
        }

        // Deliver what is pending, one control at a time, outside the lock.
        for (;;) {
            ControlHandler handler;
            std::uint32_t control = 0;
            DeviceBroadcast event;
            {
                MutexLock lock(d.mutex);
                if (d.stopped || !d.handler) break;
                handler = d.handler;
                if (d.stopRequested) {
                    d.stopRequested = false;
                    control = kControlStop;
                } else if (!d.deviceEvents.empty()) {
                    event = std::move(d.deviceEvents.front());
                    d.deviceEvents.pop_front();
                    control = kControlDeviceEvent;
                } else {
                    break;
                }
            }
            if (control == kControlStop)
                handler(kControlStop, 0, nullptr);
            else
                handler(kControlDeviceEvent, event.eventType, &event);
        }

        MutexLock lock(d.mutex);
        // The loop ends when the service has stopped, or when service main
        // returned without ever registering a handler (start abandoned).
        if (d.stopped || (d.mainEnded && !d.handler)) break;
    }

    serviceMainThread.join();
    {
        MutexLock lock(d.mutex);
        d.running = false;
        d.handler = nullptr;
        d.deviceEvents.clear();
        d.wake = nullptr;
    }
    close(signalFd);
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    return kErrorSuccess;
}

bool ServiceDispatcher::RegisterControlHandler(const std::string& serviceName,
                                               ControlHandler handler) {
    Dispatcher& d = TheDispatcher();
    MutexLock lock(d.mutex);
    if (!d.running || d.serviceName != serviceName) return false;
    d.handler = std::move(handler);
    Wake(d);  // a stop that came in before the handler is delivered now
    return true;
}

bool ServiceDispatcher::SetServiceStatus(const ServiceStatus& status) {
    Notify(status);
    Dispatcher& d = TheDispatcher();
    MutexLock lock(d.mutex);
    if (!d.running) return false;
    if (status.currentState == kServiceStopped) {
        d.stopped = true;
        Wake(d);
    }
    return true;
}

bool ServiceDispatcher::PostDeviceEvent(const DeviceBroadcast& event) {
    Dispatcher& d = TheDispatcher();
    MutexLock lock(d.mutex);
    if (!d.running || d.stopped) return false;
    d.deviceEvents.push_back(event);
    Wake(d);
    return true;
}

}  // namespace orv::platform
