#include <chrono>
#include <optional>

#include "platform/event.h"

namespace orv::platform {
namespace {

using Clock = std::chrono::steady_clock;

// When a wait of `timeoutMs` started now ends (kInfinite: never).
std::optional<Clock::time_point> Deadline(std::uint32_t timeoutMs) {
    if (timeoutMs == kInfinite) return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

// One sleep on `cv`; false once `deadline` has passed.
bool WaitOnce(CondVar& cv, Mutex& mutex, std::optional<Clock::time_point> deadline)
    REQUIRES(mutex) {
    if (!deadline) {
        cv.Wait(mutex);
        return true;
    }
    return cv.WaitUntil(mutex, *deadline);
}

}  // namespace

Event::Event(ResetMode mode, bool initiallySet)
    : manual_(mode == ResetMode::kManual), signalled_(initiallySet) {}

void Event::Set() {
    {
        MutexLock lock(mutex_);
        signalled_ = true;
    }
    if (manual_)
        cv_.NotifyAll();
    else
        cv_.NotifyOne();
}

void Event::Reset() {
    MutexLock lock(mutex_);
    signalled_ = false;
}

bool Event::Wait(std::uint32_t timeoutMs) {
    const std::optional<Clock::time_point> deadline = Deadline(timeoutMs);
    MutexLock lock(mutex_);
    while (!signalled_)
        if (!WaitOnce(cv_, mutex_, deadline) && !signalled_) return false;
    if (!manual_) signalled_ = false;
    return true;
}

Semaphore::Semaphore(std::uint32_t initial, std::uint32_t maximum)
    : count_(initial > maximum ? maximum : initial), maximum_(maximum) {}

bool Semaphore::Release(std::uint32_t count) {
    {
        MutexLock lock(mutex_);
        if (count > maximum_ - count_) return false;
        count_ += count;
    }
    cv_.NotifyAll();
    return true;
}

bool Semaphore::Wait(std::uint32_t timeoutMs) {
    const std::optional<Clock::time_point> deadline = Deadline(timeoutMs);
    MutexLock lock(mutex_);
    while (count_ == 0)
        if (!WaitOnce(cv_, mutex_, deadline) && count_ == 0) return false;
    --count_;
    return true;
}

}  // namespace orv::platform
