// Checkable locking: a mutex with clang's thread-safety attributes.
//
// `orv::Mutex` is a std::mutex that clang's -Wthread-safety analysis knows as
// a capability; members say which mutex guards them (GUARDED_BY), functions
// which mutex they need held (REQUIRES) or must not hold (EXCLUDES), and
// mutexes their order (ACQUIRED_AFTER). Under g++ the attributes compile away
// and the wrapper is a plain std::mutex. A clang build checks them.
//
// `orv::CondVar` is the condition variable that goes with it: its waits take
// the Mutex the caller holds (REQUIRES), so the analysis sees the condition
// read under the lock. Callers loop on their own condition, as with every
// condition variable (wake-ups may be spurious):
//
//     MutexLock lock(mutex_);
//     while (!ready_) changed_.Wait(mutex_);
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define ORV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ORV_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ORV_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ORV_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ORV_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ORV_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_AFTER(...) ORV_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define ACQUIRED_BEFORE(...) ORV_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define REQUIRES(...) ORV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) ORV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ORV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) ORV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) ORV_THREAD_ANNOTATION(lock_returned(x))

namespace orv {

class CAPABILITY("mutex") Mutex {
public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

// Holds a Mutex for its scope.
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() RELEASE() { mutex_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
};

// A condition variable over Mutex (std::condition_variable_any, which releases
// and takes the Mutex itself). Notify from any thread, with or without the
// Mutex held.
class CondVar {
public:
    // Releases `mutex` until notified (or a spurious wake-up), then holds it
    // again.
    void Wait(Mutex& mutex) REQUIRES(mutex) { cv_.wait(mutex); }
    // As Wait, but returns false once `deadline` has passed.
    bool WaitUntil(Mutex& mutex, std::chrono::steady_clock::time_point deadline) REQUIRES(mutex) {
        return cv_.wait_until(mutex, deadline) == std::cv_status::no_timeout;
    }
    void NotifyOne() { cv_.notify_one(); }
    void NotifyAll() { cv_.notify_all(); }

private:
    std::condition_variable_any cv_;
};

}  // namespace orv
