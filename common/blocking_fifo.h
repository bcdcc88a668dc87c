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
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace orv {

template <typename T>
class BlockingFifo {
public:
    // Appends `item`; false (item not queued) when the queue was stopped.
    bool Push(T item) {
        {
            std::lock_guard lock(mutex_);
            if (!running_) return false;
            items_.push_back(std::move(item));
        }
        notEmpty_.notify_one();
        return true;
    }

    // Removes and returns the oldest entry, or nothing when empty.
    std::optional<T> TryPop() {
        std::lock_guard lock(mutex_);
        if (items_.empty()) return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

    // Returns a copy of the oldest entry without removing it.
    std::optional<T> Front() const {
        std::lock_guard lock(mutex_);
        if (items_.empty()) return std::nullopt;
        return items_.front();
    }

    // Blocks while the queue is empty and running. True when an entry is
    // there, false when the queue was stopped while empty.
    bool Wait() {
        std::unique_lock lock(mutex_);
        notEmpty_.wait(lock, [&] { return !items_.empty() || !running_; });
        return !items_.empty();
    }

    // Like Wait, but gives up after `timeout` (false when still empty).
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        notEmpty_.wait_for(lock, timeout, [&] { return !items_.empty() || !running_; });
        return !items_.empty();
    }

    // Waits for an entry and removes it; nothing once stopped and empty.
    std::optional<T> WaitPop() {
        std::unique_lock lock(mutex_);
        notEmpty_.wait(lock, [&] { return !items_.empty() || !running_; });
        if (items_.empty()) return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

    // Refuses further pushes and wakes every waiter. Entries already queued
    // stay until popped (or drained by the owner).
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        notEmpty_.notify_all();
    }

    bool Running() const {
        std::lock_guard lock(mutex_);
        return running_;
    }

    std::size_t Size() const {
        std::lock_guard lock(mutex_);
        return items_.size();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable notEmpty_;
    std::deque<T> items_;
    bool running_ = true;
};

}  // namespace orv
