// COvwCommUI: the service's end of the control channel.
//
// It listens on the control port (127.0.0.1, or every interface when the
// registry value ControlListenAllInterfaces is 1), serves one panel at a
// time (a second one waits in the listen backlog until the first leaves),
// and keeps the control channel's picture of the wall: the wall records the
// panel created with their cells, the monitor list the panel sees, and the
// selection value. These belong to the service, not to a connection: a panel
// that reconnects finds them unchanged.
//
// Every request is handled in two steps on the server thread: first the
// lists are updated and the queries this object can answer are answered;
// then the wall object builds, places, saves or destroys, and its answers
// (0x61, 0x63) go out. The wall object also sends its notices (0x57, 0x5D,
// 0x51) through here, from device threads and the driver channel's worker.
//
// The byte stream is cut into requests by their known lengths
// (MessageCutter), so requests merged or split by TCP are served whole; a
// request that the decoder refuses (too short, too long, a count that does
// not match its bytes, an unknown type) is logged and ignored. A partial
// request whose rest does not come within the quiet time-out is dropped the
// same way.
//
// Threads:
//   "orv-control"  the server thread (owned: Connect starts it, Disconnect
//                  ends and joins it): accept, receive, both steps
//   device threads and the driver's worker: the IPanelNotices calls
//   any thread: Connected, the IWallRecords calls (the wall object)
// Locks, in the order they may nest (after the wall object's notice lock and
// WallLayoutLock, see service/wall/ui.h):
//   sendMutex_ (held for every compose-and-send, so messages never
//   interleave and an answer agrees with the notices around it; a send
//   blocks while the panel does not read, until Disconnect wakes it)
//     -> listMutex_ (the wall records, the monitor list, the selection)
//     -> connMutex_ (the connection pointer; a leaf, so that Disconnect can
//        wake a blocked send)
// The connection is replaced or cleared only with sendMutex_ held, so a
// sender's pointer stays valid for its send.
// No call into the wall object is made with either lock held.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "common/thread_annotations.h"
#include "platform/net/tcp.h"
#include "protocol/control/control_protocol.h"
#include "service/wall/ui.h"

namespace orv::control {

// The registry value (DWORD, under Software\ORVVideoWallControlSet) that
// makes the control channel listen on every interface, for remote panels.
inline constexpr char kControlListenAllValue[] = "ControlListenAllInterfaces";

struct ControlChannelOptions {
    std::uint16_t port = 1030;
    bool allInterfaces = false;
    // How long the rest of a partial request may take before it is dropped.
    std::chrono::milliseconds partialTimeout{2000};
};

// The options of the service: ORV_CONTROL_PORT, the registry opt-in.
ControlChannelOptions ServiceControlChannelOptions();

class COvwCommUI final : public wall::IControlChannel {
public:
    // Lists empty, selection 0, encode mode 1. Nothing runs until Connect.
    COvwCommUI(wall::COvwUI& ui, ControlChannelOptions options);
    ~COvwCommUI() override;  // Disconnect
    COvwCommUI(const COvwCommUI&) = delete;
    COvwCommUI& operator=(const COvwCommUI&) = delete;

    // Listens and starts the server thread: 1; 0 (logged) when the port
    // cannot be listened on.
    int Connect();
    // Sets the stop flag, wakes the thread blocked in accept or receive,
    // joins it and closes the sockets: 1. Idempotent.
    int Disconnect();
    void Stop() override { Disconnect(); }

    std::uint16_t Port() const { return listener_ ? listener_->Port() : 0; }
    // Set while a panel connection is open.
    bool Connected() const { return connected_; }

    // IWallRecords (the wall object, any thread).
    std::vector<std::vector<wall::CellPlacement>> Walls() const override;
    std::vector<int> RemoveWall(int wallId) override;
    std::vector<wall::WallDescription> Descriptions() const override;
    void AddRestoredWall(const wall::WallDescription& wall) override;
    void SetSelection(int selection) override;

    // IPanelNotices (device threads, the driver channel's worker).
    void MonitorChanged(bool arrived, int monitorId, bool tell) override;
    void MonitorsRemoved(const std::vector<int>& monitorIds) override;
    bool DriverLost() override;

private:
    // A wall record as the channel keeps it: the panel's description (wall
    // id always 1) and its cells.
    struct WallEntry {
        WallRecord record;
        std::int32_t cellCount = 0;  // as the last 0x59 gave it
        std::vector<MonitorEntry> cells;
    };

    void TcpTransThread();
    // One panel connection until it ends; false when the receive failed.
    bool Serve(net::TcpConnection& connection, std::vector<std::uint8_t>& buffer);
    void Handle(const Request& request);
    // This object's step for a request that changes or reads the lists.
    void OwnStep(const Request& request);
    // The wall object's step.
    void WallStep(const Request& request);
    void ChangeId(const ChangeMonitorId& request);
    // Publishes (or, with nullptr, withdraws) the panel connection.
    void SetConnection(net::TcpConnection* connection) EXCLUDES(sendMutex_);

    // Sends `message` when a panel is connected; false when none is or the
    // send failed (the connection is then treated as gone).
    bool SendLocked(const ServiceMessage& message) REQUIRES(sendMutex_);
    bool Send(const ServiceMessage& message) EXCLUDES(sendMutex_);
    WallEntry* WallById(std::int32_t wallId) REQUIRES(listMutex_);
    MonitorEntry* MonitorEntryById(std::int32_t monitorId) REQUIRES(listMutex_);

    wall::COvwUI& ui_;
    const ControlChannelOptions options_;
    std::unique_ptr<net::TcpListener> listener_;
    std::atomic<int> stop_{0};
    std::atomic<bool> connected_{false};
    std::atomic<std::int32_t> encodeMode_{kEncodeGpu};

    Mutex sendMutex_;
    mutable Mutex listMutex_ ACQUIRED_AFTER(sendMutex_);
    Mutex connMutex_ ACQUIRED_AFTER(sendMutex_, listMutex_);
    net::TcpConnection* connection_ GUARDED_BY(connMutex_) = nullptr;

    std::vector<WallEntry> walls_ GUARDED_BY(listMutex_);
    std::vector<MonitorEntry> monitors_ GUARDED_BY(listMutex_);
    std::int32_t selection_ GUARDED_BY(listMutex_) = 0;

    std::thread thread_;
};

}  // namespace orv::control
