// The service's end of the display-driver channel.
//
// COvwCommDriver listens on the driver port (127.0.0.1 unless the registry
// value DriverListenAllInterfaces is 1), accepts one driver at a time,
// answers its greeting (and re-sends the panel's mode value), and carries
// the requests with which the wall model creates and drops the views of its
// walls. COvwUSBDongle is the list of views the connected driver knows, with
// the driver's latest answers. COvwWallView is one view: the wall's shared
// memory, the driver's four events and the view's frame dispatch.
//
// Threads:
//   "orv-driver"  the channel's worker (accept, greeting, receive, answers;
//                 drops the view list when the driver is lost)
//   callers of CreateView / PlugOut (the wall model), with ListLock() held;
//   each view's frame thread and completion worker (service/frame).
// Locks, in the order they may nest:
//   listMutex_ (the view list; held by CreateView / PlugOut callers for the
//   whole request and by the worker while it destroys the list)
//     -> wall::WallLayoutLock (unlinking a view from its grid)
//     -> sendMutex_ (every send on the driver connection; a leaf)
// Answers go from the worker to the waiting caller through the dongle's
// answer fields and its auto-reset answer event.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "common/thread_annotations.h"
#include "platform/event.h"
#include "platform/named_event.h"
#include "platform/net/tcp.h"
#include "platform/shared_memory.h"
#include "protocol/driver/driver_protocol.h"
#include "service/frame/frame_dispatch.h"
#include "service/wall/wall_grid.h"

namespace orv::driver {

// The registry value (DWORD, under Software\ORVVideoWallControlSet) that
// makes the channel listen on every interface instead of the loopback one.
inline constexpr char kListenAllValue[] = "DriverListenAllInterfaces";

class COvwWallView {
public:
    // Creates and maps the view's shared memory (three attempts, 10 ms
    // apart), zeroed. nullptr, logged, on failure.
    static std::unique_ptr<COvwWallView> Create(int viewId, const ViewGeometry& geometry);
    ~COvwWallView();  // drops the view: unlinks, stops and joins the frame threads
    COvwWallView(const COvwWallView&) = delete;
    COvwWallView& operator=(const COvwWallView&) = delete;

    // Opens the driver's four events and starts the frame dispatch. False,
    // logged, when an event does not exist: the view is then unusable.
    bool Open();

    int ViewId() const { return viewId_; }
    const ShareLayout& Layout() const { return layout_; }
    frame::CFrameDispatch* Frames() const { return frames_.get(); }
    // Links view and grid to each other (nullptr unlinks).
    void LinkGrid(wall::WallGrid* grid) REQUIRES(wall::WallLayoutLock);
    void SetIdle(bool idle) {
        if (frames_) frames_->SetIdle(idle);
    }

private:
    COvwWallView(int viewId, const ShareLayout& layout,
                 std::unique_ptr<platform::SharedMemory> memory);

    const int viewId_;
    const ShareLayout layout_;
    std::unique_ptr<platform::SharedMemory> memory_;
    std::array<std::unique_ptr<platform::NamedEvent>, 4> events_;
    std::unique_ptr<frame::CFrameDispatch> frames_;
    wall::WallGrid* grid_ GUARDED_BY(wall::WallLayoutLock) = nullptr;
};

class COvwCommDriver;

class COvwUSBDongle {
public:
    static constexpr std::uint32_t kAnswerWaitMs = 3000;

    explicit COvwUSBDongle(COvwCommDriver& channel) : channel_(channel) {}
    // Drops every view, last first, and sets the answer event.
    ~COvwUSBDongle();

    // Asks the driver for the view of wall `viewId`. The driver's non-zero
    // result when it accepted and the view is running, else 0.
    int CreateView(int viewId, int width, int height, int columns, int rows);
    // Asks the driver to drop view `viewId`; the drop result (non-zero =
    // dropped, the view is destroyed), 0 when there is no such view.
    int PlugOut(int viewId);
    COvwWallView* ViewById(int viewId) const;
    std::size_t ViewCount() const { return views_.size(); }

    // Worker thread: an answer or notice from the driver.
    void OnMessage(const Message& m);

private:
    COvwCommDriver& channel_;
    std::list<std::unique_ptr<COvwWallView>> views_;
    platform::Event answerEvent_{platform::Event::ResetMode::kAuto};
    std::atomic<int> lastViewId_{0};
    std::atomic<int> createResult_{0};
    std::atomic<int> dropResult_{0};
};

struct DriverChannelOptions {
    std::uint16_t port = 2000;
    bool allInterfaces = false;
    // The driver was lost: tells the panel, or, when none is connected,
    // destroys wall 1. Called on the worker thread, no lock held.
    std::function<void()> driverLost;
};

// The options of the service: ORV_DRIVER_PORT, the registry opt-in.
DriverChannelOptions ServiceDriverChannelOptions();

class COvwCommDriver {
public:
    static constexpr std::size_t kReceiveBufferSize = 1024 * 1024;

    // Listens and starts the worker; without a listening socket (logged)
    // no thread runs and no driver can connect.
    explicit COvwCommDriver(DriverChannelOptions options);
    ~COvwCommDriver();  // Stop
    COvwCommDriver(const COvwCommDriver&) = delete;
    COvwCommDriver& operator=(const COvwCommDriver&) = delete;

    // Closes both sockets, joins the worker, drops every view. Idempotent.
    void Stop();

    bool Listening() const { return listener_ != nullptr; }
    std::uint16_t Port() const { return listener_ ? listener_->Port() : 0; }
    // Set once the first driver completed its greeting; never cleared.
    bool DriverConnected() const { return driverConnected_ != 0; }
    // Whether a driver connection is open now (cleared when it is lost).
    bool DriverPresent() const {
        MutexLock lock(sendMutex_);
        return connection_ != nullptr;
    }
    // Stores the panel's mode value and sends it when a driver is connected.
    void SetModeValue(int value);

    // The view list lock; CreateView and PlugOut run under it.
    Mutex& ListLock() RETURN_CAPABILITY(listMutex_) { return listMutex_; }
    // The view list of the connected driver; nullptr when none is connected.
    COvwUSBDongle* Dongle() REQUIRES(listMutex_) { return dongle_.get(); }

    // Sends one message when a driver is connected; always reports success.
    bool Send(const Encoded& message);

private:
    void Worker();
    // One connection, from accept to loss.
    void Serve(net::TcpConnection& connection, std::vector<std::uint8_t>& buffer);
    void DropViewList();

    const DriverChannelOptions options_;
    std::unique_ptr<net::TcpListener> listener_;
    std::atomic<int> stop_{0};
    std::atomic<int> driverConnected_{0};
    std::atomic<int> modeValue_{1};

    Mutex listMutex_;
    std::unique_ptr<COvwUSBDongle> dongle_ GUARDED_BY(listMutex_);

    mutable Mutex sendMutex_ ACQUIRED_AFTER(listMutex_);
    net::TcpConnection* connection_ GUARDED_BY(sendMutex_) = nullptr;

    std::thread worker_;
};

}  // namespace orv::driver
