#include "panel/client/panel_connection.h"

#include <chrono>
#include <vector>

#include "panel/model/panel_log.h"
#include "platform/thread_name.h"

namespace orv::panel {
namespace {

// A receive takes what is there, up to this much; the cutter joins pieces.
constexpr std::size_t kReceiveChunk = 64 * 1024;

template <typename T>
std::optional<T> As(std::optional<control::ServiceMessage> message) {
    if (!message) return std::nullopt;
    if (auto* value = std::get_if<T>(&*message)) return std::move(*value);
    return std::nullopt;
}

}  // namespace

PanelConnection::~PanelConnection() {
    Shutdown();
}

bool PanelConnection::HelloExchange(const std::string& host, std::uint16_t port) {
    std::string error;
    connection_ = net::TcpConnection::Connect(host, port, &error);
    if (connection_ == nullptr) {
        PanelLog("cannot connect to %s:%u: %s", host.c_str(), port, error.c_str());
        return false;
    }
    if (!As<control::HelloReply>(Query(control::Hello{}))) {
        PanelLog("%s:%u did not answer the greeting with 2", host.c_str(), port);
        connection_.reset();
        return false;
    }
    lost_ = false;
    return true;
}

std::optional<control::ServiceMessage> PanelConnection::Query(const control::Request& request) {
    if (!Send(request)) return std::nullopt;
    // Every answer carries its request's type, but for the greeting's.
    const std::uint8_t type = std::holds_alternative<control::Hello>(request)
                                  ? control::type::kHelloReply
                                  : std::visit([](const auto& r) { return r.kType; }, request);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kQueryTimeoutMs);
    std::vector<std::uint8_t> buffer(kReceiveChunk);
    std::vector<std::uint8_t> message;
    control::Refusal refusal;
    for (;;) {
        switch (cutter_.Next(message, refusal)) {
            case control::MessageCutter::Step::kMessage: {
                if (message[control::kOffType] != type) {
                    PanelLog("answer to 0x%02X starts with 0x%02X", type,
                             message[control::kOffType]);
                    return std::nullopt;
                }
                auto decoded = control::DecodeServiceMessage(message);
                if (!decoded.value) {
                    PanelLog("answer refused: %s", decoded.refusal.reason.c_str());
                    return std::nullopt;
                }
                return std::move(decoded.value);
            }
            case control::MessageCutter::Step::kRefused:
                PanelLog("answer to 0x%02X refused: %s", type, refusal.reason.c_str());
                return std::nullopt;
            case control::MessageCutter::Step::kNeedMore:
                break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !connection_->WaitReadable(static_cast<int>(left.count()))) {
            PanelLog("no answer to 0x%02X within %d ms", type, kQueryTimeoutMs);
            return std::nullopt;
        }
        const long n = connection_->Receive(buffer);
        if (n <= 0) return std::nullopt;
        cutter_.Append(bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(n)));
    }
}

std::optional<control::EncodeModeReply> PanelConnection::QueryEncodeMode() {
    return As<control::EncodeModeReply>(Query(control::GetEncodeMode{}));
}

std::optional<control::WallList> PanelConnection::QueryWalls() {
    return As<control::WallList>(Query(control::GetWalls{}));
}

std::optional<control::MonitorList> PanelConnection::QueryMonitors() {
    return As<control::MonitorList>(Query(control::GetMonitors{}));
}

bool PanelConnection::Send(const control::Request& request) {
    if (!Connected()) return false;
    const std::vector<std::uint8_t> bytes = control::EncodeRequest(request);
    if (bytes.empty()) {
        PanelLog("request too long to send");
        return false;
    }
    return connection_->Send(bytes);
}

void PanelConnection::Start(Sink sink) {
    if (connection_ == nullptr || receiver_.joinable()) return;
    receiver_ = std::thread([this, sink = std::move(sink)] { ReceiveLoop(sink); });
}

void PanelConnection::ReceiveLoop(Sink sink) {
    platform::SetCurrentThreadName("kalmiro-recv");
    std::vector<std::uint8_t> buffer(kReceiveChunk);
    std::vector<std::uint8_t> message;
    control::Refusal refusal;
    while (!stopping_) {
        const long n = connection_->Receive(buffer);
        if (stopping_) return;
        if (n <= 0) {
            // 0 is the service closing the connection (the panel's own
            // shutdown was ruled out above); a blocked receive never returns
            // 0 otherwise.
            PanelLog("the service closed the connection (%ld)", n);
            lost_ = true;
            if (sink.lost) sink.lost();
            return;
        }
        cutter_.Append(bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(n)));
        for (;;) {
            const auto step = cutter_.Next(message, refusal);
            if (step == control::MessageCutter::Step::kNeedMore) break;
            if (step == control::MessageCutter::Step::kRefused) {
                PanelLog("service bytes dropped: %s", refusal.reason.c_str());
                continue;
            }
            auto decoded = control::DecodeServiceMessage(message);
            if (!decoded.value) {
                PanelLog("service message refused: %s", decoded.refusal.reason.c_str());
                continue;
            }
            if (sink.message) sink.message(std::move(*decoded.value));
        }
    }
}

void PanelConnection::Shutdown() {
    if (connection_ == nullptr) return;
    if (Connected()) (void)Send(control::PanelLeaving{});
    stopping_ = true;
    connection_->Interrupt();
    if (receiver_.joinable()) receiver_.join();
    connection_.reset();
}

}  // namespace orv::panel
