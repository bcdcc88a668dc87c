// Checkable locking: a mutex with clang's thread-safety attributes.
//
// `orv::Mutex` is a std::mutex that clang's -Wthread-safety analysis knows as
// a capability; members say which mutex guards them (GUARDED_BY), functions
// which mutex they need held (REQUIRES) or must not hold (EXCLUDES), and
// mutexes their order (ACQUIRED_AFTER). Under g++ the attributes compile away
// and the wrapper is a plain std::mutex. A clang build checks them.
#pragma once

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

}  // namespace orv
