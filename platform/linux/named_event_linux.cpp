#include "platform/named_event.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>

#include "common/bytes.h"

namespace orv::platform {
namespace {

// The state and flags words are shared with other processes and changed
// concurrently, so they are accessed as atomic native words (the futex needs
// the word's address anyway); on a little-endian machine that is the stored
// layout.
static_assert(std::endian::native == std::endian::little);
static_assert(kNamedEventStateOffset % 4 == 0 && kNamedEventFlagsOffset % 4 == 0);

long Futex(std::uint32_t* word, int op, std::uint32_t value, const timespec* timeout,
           std::uint32_t bitset) {
    return syscall(SYS_futex, word, op, value, timeout, nullptr, bitset);
}

timespec Deadline(std::uint32_t timeoutMs) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long ns = now.tv_nsec + static_cast<long long>(timeoutMs % 1000) * 1000000;
    timespec at{};
    at.tv_sec =
        now.tv_sec + static_cast<time_t>(timeoutMs / 1000) + static_cast<time_t>(ns / 1000000000);
    at.tv_nsec = static_cast<long>(ns % 1000000000);
    return at;
}

}  // namespace

std::unique_ptr<NamedEvent> NamedEvent::Create(std::string_view windowsName, bool manualReset,
                                               bool initialState, ErrorCode* error,
                                               Lifetime lifetime) {
    auto init = [&](std::span<std::uint8_t> bytes) {
        bytes::PutU32(bytes, kNamedEventStateOffset, initialState ? 1u : 0u);
        bytes::PutU32(bytes, kNamedEventFlagsOffset, manualReset ? kNamedEventManualReset : 0u);
    };
    auto shm = SharedMemory::Create(windowsName, kNamedEventSize, error, init, lifetime);
    return shm ? std::unique_ptr<NamedEvent>(new NamedEvent(std::move(shm))) : nullptr;
}

std::unique_ptr<NamedEvent> NamedEvent::Open(std::string_view windowsName, ErrorCode* error) {
    auto shm = SharedMemory::Open(windowsName, kNamedEventSize, error);
    return shm ? std::unique_ptr<NamedEvent>(new NamedEvent(std::move(shm))) : nullptr;
}

std::uint32_t* NamedEvent::Word(std::size_t offset) const {
    return reinterpret_cast<std::uint32_t*>(shm_->Bytes().data() + offset);
}

bool NamedEvent::ManualReset() const {
    return (std::atomic_ref(*Word(kNamedEventFlagsOffset)).load(std::memory_order_relaxed) &
            kNamedEventManualReset) != 0;
}

bool NamedEvent::Set() {
    std::uint32_t* state = Word(kNamedEventStateOffset);
    std::atomic_ref(*state).store(1, std::memory_order_release);
    const std::uint32_t waiters = ManualReset() ? INT_MAX : 1;
    return Futex(state, FUTEX_WAKE, waiters, nullptr, 0) >= 0;
}

void NamedEvent::Reset() {
    std::atomic_ref(*Word(kNamedEventStateOffset)).store(0, std::memory_order_release);
}

std::uint32_t NamedEvent::Wait(std::uint32_t timeoutMs) {
    std::uint32_t* word = Word(kNamedEventStateOffset);
    auto take = [&] {
        std::atomic_ref state(*word);
        if (ManualReset()) return state.load(std::memory_order_acquire) == 1;
        std::uint32_t expected = 1;
        return state.compare_exchange_strong(expected, 0, std::memory_order_acquire);
    };
    const timespec deadline = Deadline(timeoutMs == kInfinite ? 0 : timeoutMs);
    for (;;) {
        if (take()) return kWaitObject0;
        if (timeoutMs == 0) return kWaitTimeout;
        // Sleeps only while the word is still 0; a Set in between makes the
        // call return at once. FUTEX_WAIT_BITSET takes an absolute monotonic
        // deadline, so spurious wake-ups and signals need no time arithmetic.
        const long rc = Futex(word, FUTEX_WAIT_BITSET, 0,
                              timeoutMs == kInfinite ? nullptr : &deadline, FUTEX_BITSET_MATCH_ANY);
        // On time-out, one last look: a Set may have landed just then.
        if (rc != 0 && errno == ETIMEDOUT) return take() ? kWaitObject0 : kWaitTimeout;
        if (rc != 0 && errno != EAGAIN && errno != EINTR) return kWaitFailed;
    }
}

}  // namespace orv::platform
