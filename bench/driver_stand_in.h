// A stand-in for the service's end of the driver channel, for benchmarks of
// the display driver: listens on an ephemeral loopback port, greets the
// driver that connects, creates one view, and then takes each frame the
// driver offers (copying its packets once, as the service copies them into
// its adapters' buffers) and releases the half at once. So what is measured
// against it is the driver's own work.
//
// One thread uses it. Every wait but the accept has a time-out.
#pragma once

#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/named_event.h"
#include "platform/net/tcp.h"
#include "platform/shared_memory.h"
#include "protocol/driver/driver_protocol.h"

namespace orv::bench {

class DriverStandIn {
public:
    using Clock = std::chrono::steady_clock;

    // False (and `error`) when no loopback port can be had.
    bool Listen(std::string* error) {
        listener_ = net::TcpListener::Listen(0, false, error);
        return listener_ != nullptr;
    }
    std::uint16_t Port() const { return listener_->Port(); }

    // Accepts the driver, greets it, sends CALG `calg` and creates view 1 of
    // `g`. False when a step fails or the driver does not answer within
    // `timeoutMs`. The accept itself waits for a driver to connect: a
    // benchmark bounds its whole run with an alarm.
    bool Connect(const driver::ViewGeometry& g, std::int32_t calg, int timeoutMs) {
        connection_ = listener_->Accept();
        if (!connection_ || !Next(timeoutMs)) return false;  // hello
        connection_->Send(driver::EncodeHelloReply().Span());
        connection_->Send(driver::EncodeCalgValue(calg).Span());
        const auto layout = driver::LayoutFor(g);
        if (!layout) return false;
        layout_ = *layout;
        memory_ = platform::SharedMemory::Create(driver::ShareBufferName(1), layout_.size);
        if (!memory_) return false;
        connection_->Send(driver::EncodeCreateView(1, static_cast<std::int32_t>(g.width),
                                                   static_cast<std::int32_t>(g.height),
                                                   static_cast<std::int32_t>(g.columns),
                                                   static_cast<std::int32_t>(g.rows))
                              .Span());
        if (!Next(timeoutMs)) return false;  // the answer
        for (std::size_t i = 0; i < 4; ++i) {
            events_[i] = platform::NamedEvent::Open(driver::kEventNames[i]);
            if (!events_[i]) return false;
        }
        return true;
    }

    // Waits for the next half (at most `timeoutMs`), copies its packets once
    // and releases it. The time spent copying; nothing on time-out.
    std::optional<Clock::duration> ServeFrame(std::uint32_t timeoutMs) {
        if (events_[half_ == 1 ? driver::kEventHalf1Ready : driver::kEventHalf2Ready]->Wait(
                timeoutMs) != platform::kWaitObject0)
            return std::nullopt;
        const auto t0 = Clock::now();
        const bytes::ConstBytes bytes =
            memory_->Bytes().subspan(layout_.HalfOffset(half_), layout_.half);
        std::uint16_t count = 0;
        driver::ReadSlotCount(bytes, layout_, count);
        for (std::uint32_t i = 0; i < count; ++i) {
            driver::FrameSlot slot;
            if (driver::ReadFrameSlot(bytes, layout_, i, slot) == driver::SlotCheck::kOk)
                std::memcpy(adapterBuffer_.data(), slot.packet.data(), slot.packet.size());
        }
        const auto spent = Clock::now() - t0;
        events_[half_ == 1 ? driver::kEventHalf1Released : driver::kEventHalf2Released]->Set();
        half_ = 3 - half_;
        return spent;
    }

    // Drops the view and waits for the answer (at most `timeoutMs`).
    void Drop(int timeoutMs) {
        connection_->Send(driver::EncodeDropView(1).Span());
        Next(timeoutMs);
    }

private:
    // The next message from the driver; false on time-out or a closed
    // connection.
    bool Next(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        driver::Message m;
        while (cutter_.Next(m) != driver::MessageCutter::Step::kMessage) {
            if (Clock::now() >= deadline) return false;
            if (!connection_->WaitReadable(100)) continue;
            std::uint8_t buffer[256];
            const long n = connection_->Receive(buffer);
            if (n <= 0) return false;
            cutter_.Append({buffer, static_cast<std::size_t>(n)});
        }
        return true;
    }

    std::unique_ptr<net::TcpListener> listener_;
    std::unique_ptr<net::TcpConnection> connection_;
    driver::MessageCutter cutter_{driver::Direction::kToService};
    driver::ShareLayout layout_;
    std::unique_ptr<platform::SharedMemory> memory_;
    std::array<std::unique_ptr<platform::NamedEvent>, 4> events_;
    std::vector<std::uint8_t> adapterBuffer_ = std::vector<std::uint8_t>(driver::kMaxPacketSize);
    int half_ = 1;
};

}  // namespace orv::bench
