// A stand-in for the service's end of the control channel, for the panel's
// tests: listens on a free loopback port, accepts one panel at a time,
// answers the greeting and the three start-up queries with the answers the
// test set, records every request it receives in order, and sends whatever
// the test asks it to.
//
// Threads: one server thread ("fake-control") accepts and receives; the
// test's thread calls everything else. `mutex_` guards the answers, the
// record and the connection pointer; sends to the panel happen under it
// (the server thread never sends while holding it for long: answers are one
// send each).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "common/thread_annotations.h"
#include "platform/net/tcp.h"
#include "protocol/control/control_protocol.h"
#include "tests/support/eventually.h"

namespace orv::test {

class FakeControlService {
public:
    FakeControlService() {
        listener_ = net::TcpListener::Listen(0, false);
        if (listener_) thread_ = std::thread([this] { Serve(); });
    }
    ~FakeControlService() {
        listener_->Stop();
        {
            MutexLock lock(mutex_);
            stopping_ = true;
            if (connection_) connection_->Interrupt();
        }
        if (thread_.joinable()) thread_.join();
    }

    std::uint16_t Port() const { return listener_->Port(); }

    // What the start-up queries get. The greeting answer is raw bytes so a
    // test can make it wrong.
    void SetGreeting(std::vector<std::uint8_t> bytes) {
        MutexLock lock(mutex_);
        greeting_ = std::move(bytes);
    }
    void SetEncodeMode(std::int32_t mode) {
        MutexLock lock(mutex_);
        encode_ = mode;
    }
    void SetWalls(control::WallList walls) {
        MutexLock lock(mutex_);
        walls_ = std::move(walls);
    }
    void SetMonitors(control::MonitorList monitors) {
        MutexLock lock(mutex_);
        monitors_ = std::move(monitors);
    }
    // Answers the next 0x40 with these bytes instead.
    void SetWallAnswerBytes(std::vector<std::uint8_t> bytes) {
        MutexLock lock(mutex_);
        wallAnswer_ = std::move(bytes);
    }

    std::vector<control::Request> Requests() {
        MutexLock lock(mutex_);
        return requests_;
    }
    // Waits until `count` requests have arrived.
    bool WaitForRequests(std::size_t count) {
        return Eventually([&] { return Requests().size() >= count; });
    }
    bool Connected() {
        MutexLock lock(mutex_);
        return connection_ != nullptr && !closed_;
    }
    bool PeerClosed() {
        MutexLock lock(mutex_);
        return peerClosed_;
    }

    // Sends raw bytes (several messages at once, a message cut short...).
    bool SendBytes(const std::vector<std::uint8_t>& bytes) {
        MutexLock lock(mutex_);
        return connection_ != nullptr && connection_->Send(bytes);
    }
    bool Send(const control::ServiceMessage& message) {
        return SendBytes(control::EncodeServiceMessage(message));
    }
    // Ends the connection as a service that goes away would.
    void CloseConnection() {
        MutexLock lock(mutex_);
        closed_ = true;
        if (connection_) connection_->Interrupt();
    }

private:
    void Serve() {
        while (auto accepted = listener_->Accept()) {
            net::TcpConnection* connection = accepted.get();
            {
                MutexLock lock(mutex_);
                if (stopping_) return;
                connection_ = std::move(accepted);
                closed_ = false;
                peerClosed_ = false;
            }
            control::MessageCutter cutter(control::Direction::kToService);
            std::vector<std::uint8_t> buffer(64 * 1024);
            std::vector<std::uint8_t> message;
            control::Refusal refusal;
            for (;;) {
                const long n = connection->Receive(buffer);
                if (n <= 0) break;
                cutter.Append(bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(n)));
                while (cutter.Next(message, refusal) == control::MessageCutter::Step::kMessage) {
                    auto decoded = control::DecodeRequest(message);
                    if (decoded.value) Answer(*decoded.value);
                }
            }
            MutexLock lock(mutex_);
            peerClosed_ = true;
            if (stopping_) return;
        }
    }

    void Answer(const control::Request& request) {
        MutexLock lock(mutex_);
        requests_.push_back(request);
        std::vector<std::uint8_t> answer;
        if (std::holds_alternative<control::Hello>(request)) {
            answer = greeting_;
        } else if (std::holds_alternative<control::GetEncodeMode>(request)) {
            answer = control::EncodeServiceMessage(control::EncodeModeReply{encode_});
        } else if (std::holds_alternative<control::GetWalls>(request)) {
            answer = wallAnswer_ ? *wallAnswer_ : control::EncodeServiceMessage(walls_);
        } else if (std::holds_alternative<control::GetMonitors>(request)) {
            answer = control::EncodeServiceMessage(monitors_);
        }
        if (!answer.empty() && connection_) (void)connection_->Send(answer);
    }

    std::unique_ptr<net::TcpListener> listener_;
    std::thread thread_;
    Mutex mutex_;
    std::unique_ptr<net::TcpConnection> connection_ GUARDED_BY(mutex_);
    bool stopping_ GUARDED_BY(mutex_) = false;
    bool closed_ GUARDED_BY(mutex_) = false;
    bool peerClosed_ GUARDED_BY(mutex_) = false;
    std::vector<std::uint8_t> greeting_ GUARDED_BY(mutex_) = {0x02, 0, 0, 0};
    std::int32_t encode_ GUARDED_BY(mutex_) = control::kEncodeCpu;
    control::WallList walls_ GUARDED_BY(mutex_);
    control::MonitorList monitors_ GUARDED_BY(mutex_);
    std::optional<std::vector<std::uint8_t>> wallAnswer_ GUARDED_BY(mutex_);
    std::vector<control::Request> requests_ GUARDED_BY(mutex_);
};

}  // namespace orv::test
