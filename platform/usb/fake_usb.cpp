#include "platform/usb/fake_usb.h"

#include <cstdio>
#include <limits>

namespace orv::usb {
namespace {

std::string Hex(std::uint8_t pipeId) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", pipeId);
    return text;
}

}  // namespace

FakeUsb::FakeUsb(std::vector<SettingDescriptor> settings, std::chrono::microseconds timeoutUnit)
    : descriptor_(std::move(settings)),
      timeoutUnit_(timeoutUnit),
      in_(std::numeric_limits<std::size_t>::max()) {}

void FakeUsb::FailNext(Op op, ErrorCode code, std::uint8_t arg) {
    MutexLock lock(mutex_);
    failures_.push_back({op, code, arg});
}

void FakeUsb::QueueIn(std::uint8_t pipeId, std::vector<std::uint8_t> data) {
    (void)in_.Push(pipeId, std::move(data));  // refused once closed: see the header
}

void FakeUsb::Unplug() {
    {
        MutexLock lock(mutex_);
        unplugged_ = true;
    }
    in_.Close(platform::kErrorDeviceNotConnected);
}

std::vector<std::string> FakeUsb::Calls() const {
    MutexLock lock(mutex_);
    return calls_;
}

std::vector<FakeUsb::Transfer> FakeUsb::Writes() const {
    MutexLock lock(mutex_);
    return writes_;
}

bool FakeUsb::Enter(const std::string& call, State needed) {
    MutexLock lock(mutex_);
    calls_.push_back(call);
    if (state_ != needed) {
        SetLastError(needed == State::kIdle && state_ != State::kFreed
                         ? platform::kErrorAlreadyExists
                         : platform::kErrorInvalidHandle);
        return false;
    }
    if (unplugged_ && state_ != State::kIdle) {
        SetLastError(platform::kErrorDeviceNotConnected);
        return false;
    }
    return true;
}

bool FakeUsb::Enter(const std::string& call, State needed, Op op, std::uint8_t arg) {
    if (!Enter(call, needed)) return false;
    MutexLock lock(mutex_);
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->op == op && it->arg == arg) {
            SetLastError(it->code);
            failures_.erase(it);
            return false;
        }
    }
    return true;
}

bool FakeUsb::Open(const std::string& devicePath) {
    if (!Enter("Open " + devicePath, State::kIdle, Op::kOpen, 0)) return false;
    MutexLock lock(mutex_);
    if (unplugged_) {
        SetLastError(platform::kErrorFileNotFound);
        return false;
    }
    state_ = State::kOpen;
    return true;
}

bool FakeUsb::Initialize() {
    if (!Enter("Initialize", State::kOpen, Op::kInitialize, 0)) return false;
    settings_.Assign(descriptor_);
    MutexLock lock(mutex_);
    state_ = State::kReady;
    return true;
}

bool FakeUsb::QueryInterfaceSettings(std::uint8_t alternateIndex, InterfaceDescriptor& descriptor) {
    return Enter("QueryInterfaceSettings " + std::to_string(alternateIndex), State::kReady,
                 Op::kQueryInterfaceSettings, alternateIndex) &&
           settings_.QueryInterfaceSettings(alternateIndex, descriptor);
}

bool FakeUsb::SetCurrentAlternateSetting(std::uint8_t alternateSetting) {
    return Enter("SetCurrentAlternateSetting " + std::to_string(alternateSetting), State::kReady,
                 Op::kSetCurrentAlternateSetting, alternateSetting) &&
           settings_.Select(alternateSetting);
}

bool FakeUsb::QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                        PipeInformation& pipe) {
    return Enter("QueryPipe " + std::to_string(alternateSetting) + " " + std::to_string(pipeIndex),
                 State::kReady, Op::kQueryPipe, 0) &&
           settings_.QueryPipe(alternateSetting, pipeIndex, pipe);
}

bool FakeUsb::ResetPipe(std::uint8_t pipeId) {
    return Enter("ResetPipe " + Hex(pipeId), State::kReady) && settings_.CheckPipe(pipeId);
}

bool FakeUsb::SetPipePolicy(std::uint8_t pipeId, PipePolicy policy, std::uint32_t value) {
    return Enter("SetPipePolicy " + Hex(pipeId) + " " + std::to_string(value), State::kReady) &&
           settings_.SetPolicy(pipeId, policy, value);
}

bool FakeUsb::ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                       std::uint32_t& transferred) {
    transferred = 0;
    if (!Enter("ReadPipe " + Hex(pipeId), State::kReady, Op::kReadPipe, pipeId) ||
        !settings_.CheckPipe(pipeId))
        return false;
    return ReadQueuedTransfer(in_, settings_, timeoutUnit_, pipeId, buffer, bufferLength,
                              transferred);
}

bool FakeUsb::WritePipe(std::uint8_t pipeId, const std::uint8_t* buffer, std::uint32_t length,
                        std::uint32_t& transferred) {
    transferred = 0;
    if (!Enter("WritePipe " + Hex(pipeId), State::kReady, Op::kWritePipe, pipeId) ||
        !settings_.CheckPipe(pipeId))
        return false;
    if (IsInPipe(pipeId)) {
        SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    MutexLock lock(mutex_);
    writes_.push_back({pipeId, std::vector<std::uint8_t>(buffer, buffer + length)});
    transferred = length;
    return true;
}

bool FakeUsb::AbortPipe(std::uint8_t pipeId) {
    if (!Enter("AbortPipe " + Hex(pipeId), State::kReady) || !settings_.CheckPipe(pipeId))
        return false;
    if (IsInPipe(pipeId)) in_.Abort(pipeId);
    return true;
}

bool FakeUsb::FlushPipe(std::uint8_t pipeId) {
    if (!Enter("FlushPipe " + Hex(pipeId), State::kReady) || !settings_.CheckPipe(pipeId))
        return false;
    if (IsInPipe(pipeId)) in_.Flush(pipeId);
    return true;
}

void FakeUsb::Free() {
    {
        MutexLock lock(mutex_);
        calls_.push_back("Free");
        state_ = State::kFreed;
    }
    in_.Close(platform::kErrorOperationAborted);
}

}  // namespace orv::usb
