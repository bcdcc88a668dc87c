// SimUsb: the usb::Interface backend for the simulated USB bus.
//
// The device path is the Unix stream socket of a simulated adapter
// (platform::BusDir()/<name>.sock). Open connects to it; Initialize waits for
// the device's DESC frame (the first frame it sends, within 5 s), takes the
// interface settings from it and starts the reader thread. Host operations
// become frames: SETALT, RESET, ABORT, FLUSH and OUT (protocol/bus/bus_frame.h).
//
// IN transfers: the reader thread ("orv-simusb") receives every IN frame and
// queues it on its endpoint (InPipes: oldest first, partial reads keep the
// rest, at most 64 MiB unread per endpoint before the reader waits). A read
// waits for its endpoint's queue at most the pipe's transfer time-out, which
// really elapses, else fails with 121. FlushPipe drops what is queued on the
// pipe; AbortPipe ends reads waiting on it with 995.
//
// Device gone: when the device closes the connection or sends anything but
// well-formed IN frames after its DESC (reported through platform::Diagnostic),
// the connection is closed and every
// waiting and later transfer fails with 1167. A write that times out leaves a
// partly written frame on the stream, so it also closes the connection: that
// write fails with 121, later ones with 1167.
//
// Time-outs: a pipe time-out of N ms lasts N * `timeoutUnit` (1 ms by default;
// tests pass a smaller unit so that 3000 "ms" pass quickly).
//
// Threads: as usb::Interface. The reader thread is started by Initialize and
// joined by Free (or the destructor). Locks: sendMutex_ (serialises frames to
// the socket; held while sending, which may block up to the pipe time-out,
// and taken by nothing else but Free) and the InPipes mutex; never nested.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "common/thread_annotations.h"
#include "platform/usb/in_pipes.h"
#include "platform/usb/setting_table.h"
#include "platform/usb/usb_interface.h"
#include "protocol/bus/bus_frame.h"

namespace orv::usb {

// The settings of a DESC frame in the USB layer's terms (endpoint types are
// the low two bits of the frame's type byte, as in bmAttributes).
std::vector<SettingDescriptor> SettingsFromBus(const std::vector<bus::SettingDescriptor>& settings);

class SimUsb final : public Interface {
public:
    explicit SimUsb(std::chrono::microseconds timeoutUnit = std::chrono::milliseconds(1));
    ~SimUsb() override;
    SimUsb(const SimUsb&) = delete;
    SimUsb& operator=(const SimUsb&) = delete;

    [[nodiscard]] bool Open(const std::string& devicePath) override;
    [[nodiscard]] bool Initialize() override;
    [[nodiscard]] bool QueryInterfaceSettings(std::uint8_t alternateIndex,
                                              InterfaceDescriptor& descriptor) override;
    [[nodiscard]] bool SetCurrentAlternateSetting(std::uint8_t alternateSetting) override;
    [[nodiscard]] bool QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                                 PipeInformation& pipe) override;
    [[nodiscard]] bool ResetPipe(std::uint8_t pipeId) override;
    [[nodiscard]] bool SetPipePolicy(std::uint8_t pipeId, PipePolicy policy,
                                     std::uint32_t value) override;
    [[nodiscard]] bool ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer,
                                std::uint32_t bufferLength, std::uint32_t& transferred) override;
    [[nodiscard]] bool WritePipe(std::uint8_t pipeId, const std::uint8_t* buffer,
                                 std::uint32_t length, std::uint32_t& transferred) override;
    [[nodiscard]] bool AbortPipe(std::uint8_t pipeId) override;
    [[nodiscard]] bool FlushPipe(std::uint8_t pipeId) override;
    void Free() override;

private:
    enum class State { kIdle, kOpen, kReady, kFreed };

    // True in state kReady; else sets 6 (or 1167 once the device is gone).
    bool Usable() const;
    // Sends one frame; on failure closes the connection and sets 1167 (or
    // 121 when the send timed out after `timeoutMs`).
    bool Send(bus::FrameKind kind, std::uint8_t endpoint, bytes::ConstBytes payload,
              std::uint32_t timeoutMs) EXCLUDES(sendMutex_);
    void DeviceGone();
    void ReaderThread();

    const std::chrono::microseconds timeoutUnit_;
    std::atomic<State> state_{State::kIdle};
    std::atomic<bool> gone_{false};
    std::string path_;  // set by Open, for diagnostics
    // The connection. Set by Open, closed by Free (under sendMutex_) after the
    // reader has been joined; shutdown() by DeviceGone from any thread.
    int socket_ = -1;
    SettingTable settings_;
    InPipes in_;
    Mutex sendMutex_;
    std::uint32_t sendTimeoutMs_ GUARDED_BY(sendMutex_) = 0;  // the socket's send time-out
    std::thread reader_;
};

}  // namespace orv::usb
