// InPipes: the IN transfers a device has sent and no read has taken yet, one
// queue per IN endpoint (0x80..0x8F), shared by the SimUsb and FakeUsb
// backends.
//
// A read takes the oldest transfer of its endpoint. When the reader's buffer
// is smaller than that transfer, it gets the first bytes and the rest stays at
// the head of the queue for the next read on the endpoint (the partial-read
// behaviour of WinUSB): nothing overruns the buffer and nothing is lost.
//
// Queue policy: Push blocks while the endpoint already holds `byteLimit`
// bytes or more, so a device cannot grow the host's memory without bound; it
// resumes when reads, a flush or Close make room.
//
// Threads: Push from the backend's reader thread (or a test), Pop from any
// host thread, the rest from any thread. One internal mutex, a leaf lock;
// nothing is called while it is held.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "common/thread_annotations.h"
#include "platform/error.h"
#include "platform/usb/setting_table.h"

namespace orv::usb {

class InPipes {
public:
    explicit InPipes(std::size_t byteLimit) : byteLimit_(byteLimit) {}

    // Queues one transfer for IN endpoint `pipeId`. Blocks while the endpoint
    // is full. False (transfer dropped) once Close has been called.
    [[nodiscard]] bool Push(std::uint8_t pipeId, std::vector<std::uint8_t> data);

    // Takes the oldest transfer of `pipeId` into `buffer`, waiting at most
    // `timeout` (nothing: no limit). Returns 0 with `transferred` set, or
    // 121 on time-out, 995 when Abort ended the wait, or the code given to
    // Close.
    [[nodiscard]] platform::ErrorCode Pop(std::uint8_t pipeId, std::uint8_t* buffer,
                                          std::uint32_t size, std::uint32_t& transferred,
                                          std::optional<std::chrono::microseconds> timeout);

    // Ends the reads waiting on `pipeId` with 995.
    void Abort(std::uint8_t pipeId);
    // Drops what is queued on `pipeId`.
    void Flush(std::uint8_t pipeId);
    // Every waiting and later Pop fails with `code`, every later Push is
    // refused. The first call decides the code.
    void Close(platform::ErrorCode code);

private:
    struct Queue {
        std::deque<std::vector<std::uint8_t>> transfers;
        std::size_t headOffset = 0;  // bytes of transfers.front() already read
        std::size_t bytes = 0;       // unread bytes queued
        std::uint64_t aborts = 0;    // Abort calls so far
    };
    static std::size_t Index(std::uint8_t pipeId) { return pipeId & 0x0F; }

    const std::size_t byteLimit_;
    Mutex mutex_;
    CondVar changed_;
    std::array<Queue, 16> queues_ GUARDED_BY(mutex_);
    platform::ErrorCode closed_ GUARDED_BY(mutex_) = 0;
};

// A backend's ReadPipe once the pipe passed its setting checks: refuses an
// OUT pipe or a missing buffer (87), then takes the oldest transfer within
// the pipe's time-out in units of `unit`. Failures set the thread's last
// error.
[[nodiscard]] bool ReadQueuedTransfer(InPipes& in, const SettingTable& settings,
                                      std::chrono::microseconds unit, std::uint8_t pipeId,
                                      std::uint8_t* buffer, std::uint32_t bufferLength,
                                      std::uint32_t& transferred);

}  // namespace orv::usb
