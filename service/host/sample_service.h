// CSampleService: the video-wall service.
//
// OnStart queues the service worker, which logs "Service start.", runs the
// device manager's start-up order and then, every 10 seconds until the
// stopping flag is set, makes sure the companion service runs. OnStop logs
// "Service stop.", runs the device manager's stop order, waits 2 seconds,
// sets the stopping flag and waits for the worker's stopped event; because the
// worker sleeps in 10-second steps a stop takes up to about 12 seconds.
//
// Threads: the worker thread ("orv-svc-worker") is owned by the service,
// started by OnStart and joined by OnStop (or the destructor). OnStart and
// OnStop run on the dispatcher's threads (service main, control handler).
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/event.h"
#include "service/host/service_base.h"

namespace orv::host {

inline constexpr const char* kServiceName = "ORV Video Wall Manager";
inline constexpr const char* kAssistantServiceName = "Zentrelle Assistant";

struct ServiceTiming {
    std::chrono::milliseconds workerStartDelay{20};
    std::chrono::milliseconds workerStep{10000};
    std::chrono::milliseconds stopSettle{2000};
};

class CSampleService : public CServiceBase {
public:
    CSampleService(std::string serviceName, IDeviceManagerHost* deviceManager,
                   IDeviceNotificationSource* deviceNotifications, ServiceTiming timing = {});
    ~CSampleService() override;

protected:
    void OnStart(int argc, char** argv) override;
    void OnStop() override;

private:
    void ServiceWorkerThread();

    const ServiceTiming timing_;
    std::atomic<int> stopping_{0};
    platform::Event stoppedEvent_{platform::Event::ResetMode::kManual, false};
    std::thread worker_;
};

// Starts the companion service when it is stopped (or waits for a pending
// stop to end first). Messages go to standard output only.
void EnsureAssistantRunning();

}  // namespace orv::host
