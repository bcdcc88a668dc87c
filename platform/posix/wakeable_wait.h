// WakeableWait: a thread's wait for readable descriptors that another thread
// can cut short, for the Linux code that owns raw descriptors (the platform
// realisation, the bus device watcher, the adapter simulator). It keeps the
// poll-plus-eventfd pattern in one place: EINTR retried, the wake descriptor
// made, signalled and closed here.
//
// Two kinds of wake:
//   kStays     a stop: once woken, this and every later Wait report woken at
//              once (the owner is on its way out and joins the thread).
//   kConsumed  a nudge: the Wait that sees the wake takes it, so the next
//              Wait blocks again until the next Wake.
//
// Threads: one thread waits; Wake from any thread, any number of times, never
// blocks. Not copyable; the descriptors passed to Wait stay the caller's.
#pragma once

#include <bitset>
#include <cstddef>
#include <initializer_list>

namespace orv::posix {

class WakeableWait {
public:
    enum class WakeKind { kStays, kConsumed };
    static constexpr std::size_t kMaxDescriptors = 4;

    struct Readiness {
        bool woken = false;   // Wake was called
        bool failed = false;  // poll itself failed (errno is kept)
        // Bit i: the i-th descriptor passed is readable, has hung up or has
        // an error, so a read on it will not block.
        std::bitset<kMaxDescriptors> ready;
        bool TimedOut() const { return !woken && !failed && ready.none(); }
    };

    explicit WakeableWait(WakeKind kind);
    ~WakeableWait();
    WakeableWait(const WakeableWait&) = delete;
    WakeableWait& operator=(const WakeableWait&) = delete;

    // False when the wake descriptor could not be made (errno kept); Wait
    // then fails at once.
    bool Ok() const { return wakeFd_ >= 0; }

    void Wake();

    // Blocks until one of `fds` (at most kMaxDescriptors) is ready, Wake is
    // called or `timeoutMs` passes (-1: no limit). Both the wake and ready
    // descriptors can be reported by one call. A poll interrupted by a signal
    // is retried with the whole time-out again.
    Readiness Wait(std::initializer_list<int> fds, int timeoutMs = -1);

private:
    const WakeKind kind_;
    const int wakeFd_;
};

}  // namespace orv::posix
