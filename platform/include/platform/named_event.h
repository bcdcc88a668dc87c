// Named events shared between processes ("Global\SyncDriverWaitEvent1"...).
//
// The event is the shared-memory object IpcObjectName(name) of 8 bytes:
//   offset 0  u32 state  0 not signalled, 1 signalled
//   offset 4  u32 flags  bit 0 = manual reset
// Set stores 1 and wakes waiters with a shared (not process-private) futex
// wake: one waiter for an auto-reset event, all for a manual-reset one. Wait
// returns when it can take the state (auto reset: compare-and-swap 1 to 0;
// manual: the state is 1), else it sleeps on the state word until the time-out.
// No lock is ever held, so a peer that crashes cannot wedge the event.
//
// Any thread, any process; Set/Reset/Wait never take a lock of ours. Wait
// blocks for at most its time-out; the others do not block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/shared_memory.h"

namespace orv::platform {

inline constexpr std::size_t kNamedEventStateOffset = 0;
inline constexpr std::size_t kNamedEventFlagsOffset = 4;
inline constexpr std::size_t kNamedEventSize = 8;
inline constexpr std::uint32_t kNamedEventManualReset = 0x1;
static_assert(kNamedEventFlagsOffset + 4 == kNamedEventSize);

// Results of NamedEvent::Wait, with the Windows numbers.
inline constexpr std::uint32_t kWaitObject0 = 0;          // WAIT_OBJECT_0
inline constexpr std::uint32_t kWaitTimeout = 258;        // WAIT_TIMEOUT
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;  // WAIT_FAILED

class NamedEvent {
public:
    using Lifetime = SharedMemory::Lifetime;

    // Makes the event `windowsName` with the given reset mode and initial
    // state, or opens the existing one (whose mode and state are kept; then
    // `*error` is kErrorAlreadyExists). nullptr on failure.
    static std::unique_ptr<NamedEvent> Create(std::string_view windowsName, bool manualReset,
                                              bool initialState, ErrorCode* error = nullptr,
                                              Lifetime lifetime = Lifetime::kUnlinkWhenDestroyed);
    // Opens an existing event; nullptr (kErrorFileNotFound) when there is none.
    static std::unique_ptr<NamedEvent> Open(std::string_view windowsName,
                                            ErrorCode* error = nullptr);

    // Signals the event. False only when the wake-up call fails.
    bool Set();
    void Reset();
    // kWaitObject0 when the event was (or became) signalled within
    // `timeoutMs` (kInfinite: no limit; an auto-reset event is then taken),
    // kWaitTimeout when not, kWaitFailed when the wait itself failed.
    std::uint32_t Wait(std::uint32_t timeoutMs = kInfinite);

    bool ManualReset() const;
    // Removes the name (see SharedMemory::Unlink). The creator does this on
    // destruction unless it asked to keep the name.
    bool Unlink() { return shm_->Unlink(); }
    const std::string& ObjectName() const { return shm_->ObjectName(); }

private:
    explicit NamedEvent(std::unique_ptr<SharedMemory> shm) : shm_(std::move(shm)) {}
    std::uint32_t* Word(std::size_t offset) const;

    std::unique_ptr<SharedMemory> shm_;
};

}  // namespace orv::platform
