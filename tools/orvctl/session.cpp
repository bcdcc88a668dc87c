#include "tools/orvctl/session.h"

#include <chrono>
#include <cstdio>

namespace orv::orvctl {
namespace {

using namespace orv::control;
using Clock = std::chrono::steady_clock;

// Bytes taken from the socket per receive; the cutter joins them.
constexpr std::size_t kReceiveChunk = 64 * 1024;

std::string Hex(std::uint8_t type) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", type);
    return text;
}

SessionError Fail(Failure failure, std::string message) {
    return {failure, std::move(message)};
}

}  // namespace

Session::Session(std::unique_ptr<net::TcpConnection> connection, int timeoutMs)
    : connection_(std::move(connection)), timeoutMs_(timeoutMs), receiveBuffer_(kReceiveChunk) {}

Session::~Session() = default;

std::unique_ptr<Session> Session::Open(const std::string& host, std::uint16_t port, int timeoutMs,
                                       SessionError& error) {
    const std::string where = host + ":" + std::to_string(port);
    std::string why;
    auto connection = net::TcpConnection::Connect(host, port, &why, timeoutMs);
    if (!connection) {
        error =
            Fail(Failure::kUnreachable, "cannot connect to the service at " + where + ": " + why);
        return nullptr;
    }
    std::unique_ptr<Session> session(new Session(std::move(connection), timeoutMs));
    if (!session->Ask(Hello{}, type::kHelloReply, error)) {
        error.message = "greeting the service at " + where + ": " + error.message;
        return nullptr;
    }
    return session;
}

bool Session::Send(const Request& request, SessionError& error) {
    const std::vector<std::uint8_t> bytes = EncodeRequest(request);
    if (connection_->Send(bytes)) return true;
    error = Fail(Failure::kClosed, "sending " + Hex(bytes.empty() ? 0 : bytes[0]) +
                                       " failed: the connection to the service is gone");
    return false;
}

std::optional<ServiceMessage> Session::Await(std::uint8_t type, SessionError& error) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        ServiceMessage message;
        switch (Next(static_cast<int>(std::max<std::int64_t>(left.count(), 0)), message, error)) {
            case Got::kFailed:
                error.message = "waiting for the answer " + Hex(type) + ": " + error.message;
                return std::nullopt;
            case Got::kQuiet: {
                std::string partial;
                if (cutter_.Buffered() > 0) partial = " (" + cutter_.DropPartial().reason + ")";
                error = Fail(Failure::kTimeout, "no answer " + Hex(type) + " within " +
                                                    std::to_string(timeoutMs_) + " ms" + partial);
                return std::nullopt;
            }
            case Got::kMessage: {
                const std::uint8_t got =
                    std::visit([](const auto& m) { return std::uint8_t{m.kType}; }, message);
                if (got == type) return message;
                break;  // a notice, or an answer nobody waits for
            }
        }
    }
}

std::optional<ServiceMessage> Session::Ask(const Request& request, std::uint8_t answerType,
                                           SessionError& error) {
    if (!Send(request, error)) return std::nullopt;
    return Await(answerType, error);
}

Session::Got Session::Next(int waitMs, ServiceMessage& message, SessionError& error) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        std::vector<std::uint8_t> bytes;
        Refusal refusal;
        switch (cutter_.Next(bytes, refusal)) {
            case MessageCutter::Step::kMessage: {
                Decoded<ServiceMessage> decoded = DecodeServiceMessage(bytes);
                if (!decoded.value) {
                    error = Fail(Failure::kMalformed,
                                 "malformed message from the service: " + decoded.refusal.reason);
                    return Got::kFailed;
                }
                message = std::move(*decoded.value);
                return Got::kMessage;
            }
            case MessageCutter::Step::kRefused:
                error = Fail(Failure::kMalformed,
                             "malformed message from the service: " + refusal.reason);
                return Got::kFailed;
            case MessageCutter::Step::kNeedMore:
                break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || !connection_->WaitReadable(static_cast<int>(left))) return Got::kQuiet;
        const long n = connection_->Receive(receiveBuffer_);
        if (n > 0) {
            cutter_.Append(bytes::ConstBytes(receiveBuffer_).first(static_cast<std::size_t>(n)));
            continue;
        }
        std::string how = n == 0 ? "the service closed the connection" : "the connection failed";
        if (cutter_.Buffered() > 0)
            how += " in the middle of a message: " + cutter_.DropPartial().reason;
        error = Fail(Failure::kClosed, how);
        return Got::kFailed;
    }
}

void Session::Leave() {
    SessionError ignored;
    (void)Send(PanelLeaving{}, ignored);
}

}  // namespace orv::orvctl
