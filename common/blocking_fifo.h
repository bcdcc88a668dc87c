// Blocking first-in first-out queue of pointers (or other small values).
//
// Push appends under the queue's lock and wakes a consumer; it is refused once
// the queue has been stopped. Consumers wait while the queue is empty and
// running. Stop clears the running flag and wakes every waiter, so a consumer
// blocked in Wait/WaitPop returns at once.
//
// Used by the logger, the adapter's send queue and each view's frame queue.
// Any thread may call any method. One lock (the queue's own mutex); it is never
// held while calling out, so the queue can be used under any other lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>

#include "common/thread_annotations.h"

namespace orv {

template <typename T>
class BlockingFifo {
public:
    // Appends `item`; false (item not queued) when the queue was stopped.
    [[nodiscard]] bool Push(T item) {
        {
            MutexLock lock(mutex_);
            if (!running_) return false;
            items_.push_back(std::move(item));
        }
        notEmpty_.NotifyOne();
        return true;
    }

    // Removes and returns the oldest entry, or nothing when empty.
    std::optional<T> TryPop() {
        MutexLock lock(mutex_);
        if (items_.empty()) return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

    // Returns a copy of the oldest entry without removing it.
    std::optional<T> Front() const {
        MutexLock lock(mutex_);
        if (items_.empty()) return std::nullopt;
        return items_.front();
    }

    // Blocks while the queue is empty and running. True when an entry is
    // there, false when the queue was stopped while empty.
    bool Wait() {
        MutexLock lock(mutex_);
        while (items_.empty() && running_) notEmpty_.Wait(mutex_);
        return !items_.empty();
    }

    // Like Wait, but gives up after `timeout` (false when still empty).
    bool WaitFor(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        MutexLock lock(mutex_);
        while (items_.empty() && running_ && notEmpty_.WaitUntil(mutex_, deadline)) {
        }
        return !items_.empty();
    }

    // Waits for an entry and removes it; nothing once stopped and empty.
    std::optional<T> WaitPop() {
        MutexLock lock(mutex_);
        while (items_.empty() && running_) notEmpty_.Wait(mutex_);
        if (items_.empty()) return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

    // Refuses further pushes and wakes every waiter. Entries already queued
    // stay until popped (or drained by the owner).
    void Stop() {
        {
            MutexLock lock(mutex_);
            running_ = false;
        }
        notEmpty_.NotifyAll();
    }

    bool Running() const {
        MutexLock lock(mutex_);
        return running_;
    }

    std::size_t Size() const {
        MutexLock lock(mutex_);
        return items_.size();
    }

private:
    mutable Mutex mutex_;
    CondVar notEmpty_;
    std::deque<T> items_ GUARDED_BY(mutex_);
    bool running_ GUARDED_BY(mutex_) = true;
};

}  // namespace orv
