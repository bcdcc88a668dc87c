// In-process synchronisation objects with the semantics of the kernel objects
// the service was designed around.
//
// Event: auto-reset (a successful Wait takes the signal, so one Set releases
// exactly one waiter) or manual-reset (stays signalled until Reset, releasing
// every waiter). Semaphore: a counter with a maximum and timed waits.
//
// Any thread. Each object has its own internal lock, never held across calls
// out of the object.
#pragma once

#include <cstdint>
#include <memory>

#include "common/thread_annotations.h"

namespace orv::platform {

// Wait time meaning "no limit".
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
public:
    enum class ResetMode { kAuto, kManual };

    explicit Event(ResetMode mode = ResetMode::kAuto, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event was (or became) signalled within `timeoutMs`
    // milliseconds (kInfinite: no limit); false on time-out. For an
    // auto-reset event a true result consumes the signal.
    bool Wait(std::uint32_t timeoutMs = kInfinite);

private:
    Mutex mutex_;
    CondVar cv_;
    const bool manual_;
    bool signalled_ GUARDED_BY(mutex_);
};

class Semaphore {
public:
    Semaphore(std::uint32_t initial, std::uint32_t maximum);
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Adds `count`; false (nothing added) when that would pass the maximum.
    bool Release(std::uint32_t count = 1);
    // Takes one unit; false when none became available within `timeoutMs`.
    bool Wait(std::uint32_t timeoutMs = kInfinite);

private:
    Mutex mutex_;
    CondVar cv_;
    std::uint32_t count_ GUARDED_BY(mutex_);
    const std::uint32_t maximum_;
};

}  // namespace orv::platform
