// The panel's one connection to the service's control channel.
//
// Connect greets (0x01, answer 2); the three start-up queries run on the
// caller's thread, each one request and its answer; Start then hands the
// connection's receive side to a receive thread, which cuts the byte stream
// into messages, decodes them and passes each to the sink. Requests are sent
// from the UI thread without waiting for an answer. Shutdown sends 0x5C
// when the connection is still up, then shuts the socket down so a receive
// blocked in it returns, and joins the receive thread: no thread is ever
// killed.
//
// Threads: the owner (the UI thread) calls everything; the receive thread
// ("kalmiro-recv") only receives and calls the sink, which must not call
// back into the connection and should post to the UI thread (the window does:
// a queued call). Sending (UI thread) and receiving (receive thread) use the
// two directions of the socket and share nothing else. `lost_` and
// `stopping_` are atomics; no locks.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/net/tcp.h"
#include "protocol/control/control_protocol.h"

namespace orv::panel {

class PanelConnection {
public:
    struct Sink {
        // One decoded service message (receive thread).
        std::function<void(control::ServiceMessage)> message;
        // The service closed the connection or a receive failed (receive
        // thread, once). Not called for the panel's own shutdown.
        std::function<void()> lost;
    };

    // How long a start-up query waits for its answer; a service that does
    // not answer fails the query instead of hanging the panel.
    static constexpr int kQueryTimeoutMs = 10000;

    PanelConnection() = default;
    ~PanelConnection();  // Shutdown
    PanelConnection(const PanelConnection&) = delete;
    PanelConnection& operator=(const PanelConnection&) = delete;

    // Connects to `host`:`port`, sends 0x01 and waits (at most
    // kQueryTimeoutMs) for the 4-byte answer 2. False on any failure, and the
    // connection stays closed.
    bool HelloExchange(const std::string& host, std::uint16_t port);
    bool Connected() const { return connection_ != nullptr && !lost_; }

    // The start-up queries (0x42, 0x40, 0x41), before Start. Nothing when the
    // send fails, no answer comes in time, or the answer's type byte is not
    // the request's or it does not decode.
    std::optional<control::EncodeModeReply> QueryEncodeMode();
    std::optional<control::WallList> QueryWalls();
    std::optional<control::MonitorList> QueryMonitors();

    // Starts the receive thread. Once only, after the queries.
    void Start(Sink sink);

    // One request, one send. False when it could not be sent (the caller
    // treats that as a lost connection unless it says otherwise), or when
    // the connection is closed.
    bool Send(const control::Request& request);

    // Records a lost connection seen by the owner: Shutdown sends no 0x5C.
    void MarkLost() { lost_ = true; }

    // 0x5C when still connected, then stops and joins the receive thread and
    // closes the socket. Returns within a few milliseconds whatever the
    // receive thread was doing. Idempotent.
    void Shutdown();

private:
    std::optional<control::ServiceMessage> Query(const control::Request& request);
    void ReceiveLoop(Sink sink);

    std::unique_ptr<net::TcpConnection> connection_;
    control::MessageCutter cutter_{control::Direction::kToPanel};  // owner, then receive thread
    std::thread receiver_;
    std::atomic<bool> lost_{false};
    std::atomic<bool> stopping_{false};
};

}  // namespace orv::panel
