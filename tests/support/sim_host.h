// The host end of the simulated bus for the simulator's tests: a connection
// to one adapter socket, written through the bus helpers directly.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/adapter/packets.h"
#include "protocol/bus/bus_frame.h"

namespace orv::sim::test {

// Every wait is bounded so a fault fails the test instead of hanging it; the
// bound is far above what a loaded machine needs.
inline constexpr int kGenerousMs = 5000;

class Host {
public:
    explicit Host(const std::string& socketPath) : fd_(bus::ConnectTo(socketPath)) {}
    ~Host() {
        if (fd_ >= 0) close(fd_);
    }
    bool Connected() const { return fd_ >= 0; }

    // The next frame the device sends; false on time-out or close.
    bool Next(bus::FrameHeader& h, std::vector<std::uint8_t>& payload,
              int timeoutMs = kGenerousMs) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        return bus::RecvFrame(fd_, h, payload, nullptr) == bus::IoResult::kOk;
    }

    // The next IN transfer on `endpoint`; transfers on other endpoints are kept.
    bool ReadIn(std::uint8_t endpoint, adapter::Packet& out, int timeoutMs = kGenerousMs) {
        auto& queue = queued_[endpoint];
        if (!queue.empty()) {
            out = std::move(queue.front());
            queue.pop_front();
            return true;
        }
        bus::FrameHeader h;
        std::vector<std::uint8_t> payload;
        while (Next(h, payload, timeoutMs)) {
            if (h.kind != bus::FrameKind::kIn) continue;
            if (h.endpoint == endpoint) {
                out = payload;
                return true;
            }
            queued_[h.endpoint].push_back(payload);
        }
        return false;
    }

    bool Out(std::uint8_t endpoint, bytes::ConstBytes packet) {
        return bus::SendFrame(fd_, bus::FrameKind::kOut, endpoint, packet);
    }
    bool Send(bus::FrameKind kind, std::uint8_t endpoint, bytes::ConstBytes payload) {
        return bus::SendFrame(fd_, kind, endpoint, payload);
    }

    // Writes on 0x02 and reads the reply on 0x82; empty on time-out.
    adapter::Packet Exchange(const adapter::Packet& request, int timeoutMs = kGenerousMs) {
        adapter::Packet reply;
        if (!Out(adapter::kPipeOutCommands, request) ||
            !ReadIn(adapter::kPipeInReply, reply, timeoutMs))
            reply.clear();
        return reply;
    }

    // The next notification on 0x81 that is not a keep-alive.
    std::optional<adapter::Notification> NextNotification(int timeoutMs = kGenerousMs) {
        adapter::Packet p;
        while (ReadIn(adapter::kPipeInNotify, p, timeoutMs)) {
            auto n = adapter::ParseNotification(p);
            if (n && !(n->kind == adapter::kNotifyFrameAck && n->status == adapter::kAckIgnore))
                return n;
        }
        return std::nullopt;
    }

private:
    int fd_;
    std::map<std::uint8_t, std::deque<adapter::Packet>> queued_;
};

}  // namespace orv::sim::test
