// One greeted control-channel connection, as orvctl uses it: send requests,
// wait for the answer of a type, or take whatever the service sends next.
//
// Everything received goes through a MessageCutter and the decoder: bytes
// that do not make a known message end the session with a kMalformed error,
// never a crash. Answers and notices arrive interleaved; Await skips the
// messages of other types (notices) while it waits.
//
// One thread owns a Session. No locks. Calls block at most the session's
// time-out (Next at most the wait it is given).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/tcp.h"
#include "protocol/control/control_protocol.h"

namespace orv::orvctl {

enum class Failure {
    kUnreachable,  // no connection could be made
    kTimeout,      // no whole answer within the time-out
    kClosed,       // the service closed the connection or it failed
    kMalformed,    // bytes that are not a valid message
};

struct SessionError {
    Failure failure = Failure::kClosed;
    std::string message;  // one line, e.g. "no answer to 0x40 within 3000 ms"
};

class Session {
public:
    // Connects to host:port and greets (0x01, answered 02 00 00 00), each
    // within `timeoutMs`. nullptr with `error` set when that fails.
    static std::unique_ptr<Session> Open(const std::string& host, std::uint16_t port, int timeoutMs,
                                         SessionError& error);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sends one request in one piece.
    bool Send(const control::Request& request, SessionError& error);

    // The next message of type `type`, within the time-out; messages of
    // other types received meanwhile are dropped.
    std::optional<control::ServiceMessage> Await(std::uint8_t type, SessionError& error);

    // Sends `request` and awaits the answer of `answerType`.
    std::optional<control::ServiceMessage> Ask(const control::Request& request,
                                               std::uint8_t answerType, SessionError& error);

    enum class Got { kMessage, kQuiet, kFailed };
    // The next message within `waitMs`: kMessage with `message` set, kQuiet
    // when nothing whole arrived in that time, kFailed with `error` set.
    Got Next(int waitMs, control::ServiceMessage& message, SessionError& error);

    // Says goodbye (0x5C) as the panel does before it closes; a failure
    // there changes nothing.
    void Leave();

private:
    Session(std::unique_ptr<net::TcpConnection> connection, int timeoutMs);

    std::unique_ptr<net::TcpConnection> connection_;
    int timeoutMs_;
    control::MessageCutter cutter_{control::Direction::kToPanel};
    std::vector<std::uint8_t> receiveBuffer_;
};

}  // namespace orv::orvctl
