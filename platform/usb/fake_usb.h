// FakeUsb: an in-process usb::Interface for unit tests.
//
// The device is a list of interface settings (by default the standard adapter
// descriptor: setting 0 with bulk 0x01, 0x02 out and 0x81, 0x82 in). Tests
// queue IN transfers, script failures of single calls with chosen error
// numbers, unplug the device, and read back every call made and every
// transfer written.
//
// Reads behave as on the bus: the oldest queued transfer of the pipe, partial
// reads keep the rest; an empty pipe fails with 121 after the pipe's transfer
// time-out times `timeoutUnit` (0 by default: at once, so that tests of
// time-out handling do not wait), or waits without limit while the pipe has no
// time-out set.
//
// Threads: as usb::Interface; the script and record members may be called
// from any thread. One internal mutex (a leaf lock) plus the InPipes lock,
// never nested.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/thread_annotations.h"
#include "platform/usb/in_pipes.h"
#include "platform/usb/setting_table.h"
#include "platform/usb/sim_usb.h"
#include "platform/usb/usb_interface.h"

namespace orv::usb {

class FakeUsb final : public Interface {
public:
    enum class Op {
        kOpen,
        kInitialize,
        kQueryInterfaceSettings,
        kSetCurrentAlternateSetting,
        kQueryPipe,
        kReadPipe,
        kWritePipe,
    };
    struct Transfer {
        std::uint8_t pipeId = 0;
        std::vector<std::uint8_t> data;
    };

    explicit FakeUsb(
        std::vector<SettingDescriptor> settings = SettingsFromBus(bus::StandardAdapterDescriptor()),
        std::chrono::microseconds timeoutUnit = std::chrono::microseconds(0));

    // Script. The next call of `op` fails with `code`; for kReadPipe and
    // kWritePipe only a call on `pipeId`, for kSetCurrentAlternateSetting and
    // kQueryInterfaceSettings only a call with that setting / index (`arg`).
    void FailNext(Op op, ErrorCode code, std::uint8_t arg = 0);
    // Queues a transfer the device sends on `pipeId`; after Unplug or Free it
    // is dropped, as a gone device's data would be.
    void QueueIn(std::uint8_t pipeId, std::vector<std::uint8_t> data);
    // The device goes away: waiting and later transfers fail with 1167.
    void Unplug();

    // Record. Calls in order, as "Name arg ...", pipe ids in hex:
    // "Open <path>", "Initialize", "QueryInterfaceSettings 0",
    // "SetCurrentAlternateSetting 1", "QueryPipe 1 0", "ResetPipe 0x81",
    // "SetPipePolicy 0x81 3000", "ReadPipe 0x81", "WritePipe 0x02",
    // "AbortPipe 0x81", "FlushPipe 0x81", "Free".
    std::vector<std::string> Calls() const;
    // Transfers written successfully, in order.
    std::vector<Transfer> Writes() const;
    std::uint8_t CurrentSetting() const { return settings_.Current(); }
    std::uint32_t PipeTimeoutMs(std::uint8_t pipeId) const { return settings_.TimeoutMs(pipeId); }

    [[nodiscard]] bool Open(const std::string& devicePath) override;
    [[nodiscard]] bool Initialize() override;
    [[nodiscard]] bool QueryInterfaceSettings(std::uint8_t alternateIndex,
                                              InterfaceDescriptor& descriptor) override;
    [[nodiscard]] bool SetCurrentAlternateSetting(std::uint8_t alternateSetting) override;
    [[nodiscard]] bool QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                                 PipeInformation& pipe) override;
    [[nodiscard]] bool ResetPipe(std::uint8_t pipeId) override;
    [[nodiscard]] bool SetPipePolicy(std::uint8_t pipeId, PipePolicy policy,
                                     std::uint32_t value) override;
    [[nodiscard]] bool ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer,
                                std::uint32_t bufferLength, std::uint32_t& transferred) override;
    [[nodiscard]] bool WritePipe(std::uint8_t pipeId, const std::uint8_t* buffer,
                                 std::uint32_t length, std::uint32_t& transferred) override;
    [[nodiscard]] bool AbortPipe(std::uint8_t pipeId) override;
    [[nodiscard]] bool FlushPipe(std::uint8_t pipeId) override;
    void Free() override;

private:
    enum class State { kIdle, kOpen, kReady, kFreed };
    struct Failure {
        Op op;
        ErrorCode code;
        std::uint8_t arg;
    };

    // Records the call; false (last error set) when it is scripted to fail
    // or the fake is not in `needed` state.
    bool Enter(const std::string& call, State needed) EXCLUDES(mutex_);
    bool Enter(const std::string& call, State needed, Op op, std::uint8_t arg) EXCLUDES(mutex_);

    const std::vector<SettingDescriptor> descriptor_;
    const std::chrono::microseconds timeoutUnit_;
    SettingTable settings_;
    InPipes in_;

    mutable Mutex mutex_;
    State state_ GUARDED_BY(mutex_) = State::kIdle;
    bool unplugged_ GUARDED_BY(mutex_) = false;
    std::vector<Failure> failures_ GUARDED_BY(mutex_);
    std::vector<std::string> calls_ GUARDED_BY(mutex_);
    std::vector<Transfer> writes_ GUARDED_BY(mutex_);
};

}  // namespace orv::usb
