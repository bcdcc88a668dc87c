// A process-wide single object, created on first use.
//
// GetOrCreate returns the object, constructing it with `make` when there is
// none. A caller that finds another thread constructing it polls once a
// millisecond, at most 3000 times, and then gives up with nullptr (the caller
// treats the object as absent). Take clears the pointer and hands the object
// over for destruction; the next GetOrCreate makes a new one.
//
// Any thread; lock-free (two atomics).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace orv {

template <typename T>
class ProcessSingleton {
public:
    static constexpr int kMaxPolls = 3000;

    template <typename Factory>
    T* GetOrCreate(Factory make) {
        for (int poll = 0; poll <= kMaxPolls; ++poll) {
            if (T* p = object_.load(std::memory_order_acquire)) return p;
            bool expected = false;
            if (constructing_.compare_exchange_strong(expected, true)) {
                // Checked again: another thread may have published and
                // finished between the load and the exchange.
                T* p = object_.load(std::memory_order_acquire);
                if (p == nullptr) {
                    p = make().release();
                    object_.store(p, std::memory_order_release);
                }
                constructing_.store(false, std::memory_order_release);
                return p;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return nullptr;
    }

    T* Get() const { return object_.load(std::memory_order_acquire); }

    std::unique_ptr<T> Take() { return std::unique_ptr<T>(object_.exchange(nullptr)); }

private:
    std::atomic<T*> object_{nullptr};
    std::atomic<bool> constructing_{false};
};

}  // namespace orv
