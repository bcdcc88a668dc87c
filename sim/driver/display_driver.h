// orv-display-driver as a library: the display driver's end of the driver
// channel.
//
// Connects to the service's driver port over TCP (again every 500 ms while it
// cannot, and after a lost connection), greets, and answers the service's
// messages: it keeps the mode value (96) and the CALG value (98), creates a
// view on request 16 (opens the view's shared memory and starts its
// ViewProducer, then answers 16 with result 1, or 0 when the view cannot be
// served) and drops it on request 17 (stops the producer first, then answers
// 17). The four named events are created at Start, before any view can be
// asked for, and live as long as the driver; every view resets them first.
// One view at a time: the events carry no view id, so a second view could not
// be paced apart from the first, and is refused.
//
// Threads: "drv-conn", started by Start and joined by Stop (and the
// destructor): the connection, its messages and the view's lifetime; the
// view's own threads (view_producer.h). Stats and Counts from any thread.
// Locks: countsMutex_ only, a leaf held to update or copy the counters.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "common/thread_annotations.h"
#include "platform/event.h"
#include "platform/named_event.h"
#include "protocol/driver/driver_protocol.h"
#include "sim/driver/driver_options.h"
#include "sim/driver/statistics.h"
#include "sim/driver/view_producer.h"

namespace orv::net {
class TcpConnection;
}

namespace orv::driver {

struct DriverCounts {
    std::uint64_t connections = 0;  // greetings answered by the service
    std::uint64_t viewsCreated = 0;
    std::uint64_t viewsRefused = 0;
    std::uint64_t viewsDropped = 0;  // on request 17 or with the connection
    std::int32_t mode = -1;          // the latest values; -1 before any
    std::int32_t calg = -1;
};

class DisplayDriver {
public:
    explicit DisplayDriver(DriverOptions options);
    ~DisplayDriver();
    DisplayDriver(const DisplayDriver&) = delete;
    DisplayDriver& operator=(const DisplayDriver&) = delete;

    // Creates the four events and starts the connection thread. False (and
    // `error`) when an event cannot be made.
    bool Start(std::string* error);
    // Stops the view, closes the connection and joins. Blocks for at most a
    // frame's encoding and one 50 ms wait.
    void Stop();

    const Statistics& Stats() const { return stats_; }
    DriverCounts Counts() const;

private:
    void ConnectionThread();
    void Serve(net::TcpConnection& connection);
    // False when the answer cannot be sent (the connection is gone).
    bool Handle(const Message& m, net::TcpConnection& connection);
    bool CreateView(const Message& m);
    void DropView();

    const DriverOptions options_;
    std::array<std::unique_ptr<platform::NamedEvent>, 4> events_;
    Statistics stats_;
    std::unique_ptr<ViewProducer> view_;  // connection thread only

    mutable Mutex countsMutex_;
    DriverCounts counts_ GUARDED_BY(countsMutex_);

    std::atomic<bool> stop_{false};
    platform::Event stopped_{platform::Event::ResetMode::kManual};
    std::thread thread_;
};

}  // namespace orv::driver
