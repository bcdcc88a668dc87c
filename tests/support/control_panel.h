// A panel's end of the control channel for integration tests: sends
// requests over TCP and cuts what the service sends back into messages,
// keeping the notices that come before an awaited answer.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

#include "platform/net/tcp.h"
#include "protocol/control/control_protocol.h"

namespace orv::testing {

// One panel connection: sends requests, cuts what comes back into messages.
class Panel {
public:
    using Bytes = std::vector<std::uint8_t>;

    explicit Panel(std::uint16_t port) {
        for (int i = 0; i < 100 && !conn_; ++i) {
            conn_ = orv::net::TcpConnection::Connect("127.0.0.1", port);
            if (!conn_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    bool Connected() const { return conn_ != nullptr; }
    bool SendRaw(const Bytes& bytes) { return conn_->Send(bytes); }
    bool Send(const control::Request& request) { return SendRaw(control::EncodeRequest(request)); }

    // The next whole message, raw; nothing on time-out or close.
    std::optional<Bytes> NextRaw(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        Bytes message;
        control::Refusal refusal;
        for (;;) {
            const auto step = cutter_.Next(message, refusal);
            if (step == control::MessageCutter::Step::kMessage) return message;
            EXPECT_NE(step, control::MessageCutter::Step::kRefused) << refusal.reason;
            if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
            if (!conn_->WaitReadable(50)) continue;
            std::array<std::uint8_t, 65536> buffer{};
            const long n = conn_->Receive(buffer);
            if (n <= 0) return std::nullopt;
            cutter_.Append(orv::bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(n)));
        }
    }
    // The next message of type T (its raw bytes in `raw`); notices that come
    // first are kept in `notices`.
    template <typename T>
    std::optional<T> Next(Bytes* raw = nullptr,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            auto bytes = NextRaw(std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()));
            if (!bytes) return std::nullopt;
            auto decoded = control::DecodeServiceMessage(*bytes);
            EXPECT_TRUE(decoded.value) << decoded.refusal.reason;
            if (!decoded.value) return std::nullopt;
            if (const T* v = std::get_if<T>(&*decoded.value)) {
                if (raw) *raw = *bytes;
                return *v;
            }
            notices.push_back(*decoded.value);
        }
        return std::nullopt;
    }
    template <typename T>
    std::optional<T> Ask(const control::Request& request, Bytes* raw = nullptr) {
        if (!Send(request)) return std::nullopt;
        return Next<T>(raw);
    }
    std::vector<control::MonitorEntry> Monitors() {
        auto list = Ask<control::MonitorList>(control::GetMonitors{});
        EXPECT_TRUE(list);
        return list ? list->entries : std::vector<control::MonitorEntry>{};
    }
    std::optional<control::WallList> Walls(Bytes* raw = nullptr) {
        return Ask<control::WallList>(control::GetWalls{}, raw);
    }
    void Close() { conn_.reset(); }

    std::vector<control::ServiceMessage> notices;

private:
    std::unique_ptr<orv::net::TcpConnection> conn_;
    control::MessageCutter cutter_{control::Direction::kToPanel};
};

// A monitor's id is logged before the service's monitor list has it: waits
// (up to 10 s) until a panel that comes and goes finds `monitors` listed.
inline bool WaitUntilListed(std::uint16_t port, std::size_t monitors) {
    for (int i = 0; i < 100; ++i) {
        Panel probe(port);
        if (probe.Connected() && probe.Monitors().size() == monitors) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

}  // namespace orv::testing
