// TCP for the service's channels (the display-driver channel, the control
// channel) and their peers, on Poco::Net.
//
// TcpListener listens on one port, on the loopback address unless asked for
// every interface. Accept blocks until a peer connects or Stop is called.
// TcpConnection is one connected stream: Receive blocks until bytes arrive,
// the peer closes, or Interrupt is called from another thread; Send writes
// every byte or fails, and never raises SIGPIPE. Poco's exceptions stay in
// here: every operation returns a result.
//
// Threads: one thread accepts (or receives, or sends) at a time per object;
// Stop / Interrupt may be called from any other thread and only wake the
// blocked call; the owner joins the blocked thread before destroying the
// object, which closes the socket. No locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/bytes.h"

namespace orv::net {

class TcpConnection {
public:
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Connects to `host`:`port` (a client: the driver stand-in, orvctl,
    // tests), waiting at most `timeoutMs` when it is above 0, else as long as
    // the system does. nullptr when it cannot; `error` (optional) says why.
    static std::unique_ptr<TcpConnection> Connect(const std::string& host, std::uint16_t port,
                                                  std::string* error = nullptr, int timeoutMs = 0);

    // Bytes received (> 0); 0 when the peer closed or Interrupt was called;
    // -1 when the receive failed.
    long Receive(bytes::MutBytes buffer);
    // Waits at most `timeoutMs` for something to receive. True when Receive
    // would not block (bytes, close or failure).
    bool WaitReadable(int timeoutMs);
    // True when every byte was sent.
    bool Send(bytes::ConstBytes data);
    // Wakes a Receive blocked in another thread; later receives return 0.
    void Interrupt();
    // The peer's address as "a.b.c.d:port".
    std::string Peer() const;

private:
    struct Impl;
    explicit TcpConnection(std::unique_ptr<Impl> impl);
    friend class TcpListener;
    std::unique_ptr<Impl> impl_;
};

class TcpListener {
public:
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Listens on `port` (0: any free port) of 127.0.0.1, or of every
    // interface when `allInterfaces`. Accepted connections have TCP_NODELAY
    // on. nullptr when the socket cannot be made, bound or listened on.
    static std::unique_ptr<TcpListener> Listen(std::uint16_t port, bool allInterfaces,
                                               std::string* error = nullptr);

    // The next connection; nullptr when Stop was called or accept failed.
    std::unique_ptr<TcpConnection> Accept();
    // Wakes a blocked Accept; later accepts return nullptr at once.
    void Stop();
    std::uint16_t Port() const;

private:
    struct Impl;
    explicit TcpListener(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace orv::net
