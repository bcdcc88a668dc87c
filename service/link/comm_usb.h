// COvwCommUSB: the link to one USB display adapter.
//
// Opens the adapter's device path through a usb::Interface, picks the first
// alternate setting with more than two (and at most 16) endpoints, resets
// every pipe of it and gives each a 3000 ms transfer time-out, then offers
// synchronous transfers: Read from an IN pipe (three attempts on time-out),
// Write to an OUT pipe, and Transact (write a request, read its reply) under
// the exchange lock. The first failed transfer marks the link broken for good;
// after that every transfer returns -1 at once and only Disconnect reaches the
// device. Results: 0, 3 (not connected), -1 (broken), or for Transact the
// error number of the failing call (usb::LastError()).
//
// Ownership: the link owns its usb::Interface; destroying the link frees it.
// The adapter that owns the link destroys it only after its own threads have
// stopped calling it.
//
// Threads: Connect / QueryUSBInterface and Disconnect on the owner's thread.
// Read, Write and Transact on any thread, concurrently on different pipes
// (the adapter's notification thread reads 0x81 while others transact on
// 0x02/0x82 and the send thread writes frame packets). Each blocks for up to
// the pipe time-out per attempt (Read up to about 9.1 s). Locks: the exchange
// lock only, held by Transact across its write and read (so that the reply is
// read by the thread that sent the request); nothing else takes it. Taken
// after the adapter's ModeSetLock when both are held.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/thread_annotations.h"
#include "platform/usb/usb_interface.h"
#include "service/link/comm_base.h"

namespace orv::link {

class COvwCommUSB final : public COvwCommBase {
public:
    static constexpr std::size_t kMaxPipes = 16;
    static constexpr std::uint32_t kPipeTimeoutMs = 3000;
    static constexpr int kReadAttempts = 3;
    static constexpr int kReadRetryDelayMs = 50;

    // `usb`: the backend to open the device with; nothing means the backend
    // that suits the device path given to Connect (usb::CreateInterfaceFor).
    explicit COvwCommUSB(std::unique_ptr<usb::Interface> usb = nullptr);
    COvwCommUSB(const COvwCommUSB&) = delete;
    COvwCommUSB& operator=(const COvwCommUSB&) = delete;

    // 0 connected; 1 the device cannot be opened or initialised; 2 no usable
    // interface setting (see QueryUSBInterface). Called once per link.
    [[nodiscard]] int Connect(const std::string& devicePath) override;
    // Sets up the link over an interface that is already open and
    // initialised (the device manager's enumeration path), taking it over.
    // 0, or 2 when no setting qualifies or a pipe cannot be queried.
    int QueryUSBInterface(std::unique_ptr<usb::Interface> usb);
    // Aborts and flushes every pipe and frees the interface. Does not take
    // the exchange lock and does not clear LinkBroken. Returns 0.
    int Disconnect() override;
    [[nodiscard]] int Read(std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t& length) override;
    [[nodiscard]] int Write(std::uint8_t pipe, std::uint8_t* buffer,
                            std::uint32_t& length) override;
    [[nodiscard]] int Transact(std::uint8_t outPipe, std::uint8_t* request,
                               std::uint32_t& requestLength, std::uint8_t inPipe,
                               std::uint8_t* reply, std::uint32_t& replyLength) override;

    bool LinkBroken() const { return linkBroken_ != 0; }
    bool Connected() const { return connected_ != 0; }
    // The pipe table: endpoint addresses in the order the setting lists them
    // (0 past the end).
    std::uint8_t PipeCount() const { return pipeCount_; }
    std::uint8_t PipeAt(std::size_t index) const { return index < pipeCount_ ? pipes_[index] : 0; }

private:
    int SetUpInterface();
    // 0 when a transfer may go ahead, else the result to return.
    int Ready() const;
    // One bulk read of up to `size` bytes; 0 or the error number.
    usb::ErrorCode ReadOnce(std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t size,
                            std::uint32_t& length);
    usb::ErrorCode WriteOnce(std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t& length);

    // Plain flags in the original design, atomics here: written by any
    // thread, read without a lock.
    std::atomic<std::int32_t> linkBroken_{0};
    std::unique_ptr<usb::Interface> usb_;
    std::atomic<std::int32_t> connected_{0};
    std::array<std::uint8_t, kMaxPipes> pipes_{};
    std::uint8_t pipeCount_ = 0;
    // Guards no field: it keeps a request and its reply together on the link.
    Mutex exchangeLock_;
};

}  // namespace orv::link
