#include <chrono>

#include "platform/event.h"

namespace orv::platform {
namespace {

// Waits on `cv` until `ready()` holds or the time-out passes.
template <typename Pred>
bool WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               std::uint32_t timeoutMs, Pred ready) {
    if (timeoutMs == kInfinite) {
        cv.wait(lock, ready);
        return true;
    }
    return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

}  // namespace

Event::Event(ResetMode mode, bool initiallySet)
    : manual_(mode == ResetMode::kManual), signalled_(initiallySet) {}

void Event::Set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    if (manual_)
        cv_.notify_all();
    else
        cv_.notify_one();
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::Wait(std::uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    if (!WaitUntil(cv_, lock, timeoutMs, [&] { return signalled_; })) return false;
    if (!manual_) signalled_ = false;
    return true;
}

Semaphore::Semaphore(std::uint32_t initial, std::uint32_t maximum)
    : count_(initial > maximum ? maximum : initial), maximum_(maximum) {}

bool Semaphore::Release(std::uint32_t count) {
    {
        std::lock_guard lock(mutex_);
        if (count > maximum_ - count_) return false;
        count_ += count;
    }
    cv_.notify_all();
    return true;
}

bool Semaphore::Wait(std::uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    if (!WaitUntil(cv_, lock, timeoutMs, [&] { return count_ > 0; })) return false;
    --count_;
    return true;
}

}  // namespace orv::platform
