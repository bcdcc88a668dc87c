// The seams between the service host and the components it starts.
//
// The host drives the device manager through IDeviceManagerHost (start-up
// order, stop order, adapter arrival and removal) and receives device
// arrivals and removals through an IDeviceNotificationSource. main() hands the
// concrete objects to the host; a program built without them passes nullptr
// and the host skips those steps (and says so in the log).
#pragma once

#include <functional>
#include <string>

#include "platform/device_watcher.h"

namespace orv::host {

class IDeviceManagerHost {
public:
    virtual ~IDeviceManagerHost() = default;
    // Start-up order: keep-awake, wall object, virtual controller, present
    // adapters, restore. Runs on the service worker thread.
    virtual void Start() = 0;
    // Stop order. Runs on the control-handler (main) thread inside OnStop.
    virtual void Stop() = 0;
    // Adapter arrival and removal, on the control-handler thread. Results:
    // plug-in 1 handled or ignored / 0 failed; plug-out 1 removed / 0 unknown.
    virtual int USBAdapterPlugIn(const std::string& devicePath) = 0;
    virtual int USBAdapterPlugOut(const std::string& devicePath) = 0;
};

class IDeviceNotificationSource {
public:
    virtual ~IDeviceNotificationSource() = default;
    using Sink = std::function<void(const platform::DeviceBroadcast&)>;
    // Starts reporting arrivals and removals of devices of `interfaceClass`
    // to `sink` (from a thread of the source's own). False when it cannot.
    [[nodiscard]] virtual bool Register(const platform::Guid& interfaceClass, Sink sink) = 0;
    // Stops reporting; returns when no call of the sink is under way.
    virtual void Unregister() = 0;
};

}  // namespace orv::host
