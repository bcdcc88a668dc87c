#include "service/link/comm_usb.h"

#include <chrono>
#include <thread>

#include "service/log/logger.h"

namespace orv::link {

using log::ServiceLog;

namespace {

// The error number of the call that just failed on this thread. A failure
// always carries a number, so it can never pass for success.
usb::ErrorCode FailureCode() {
    const usb::ErrorCode err = usb::LastError();
    return err != platform::kErrorSuccess ? err : platform::kErrorGenFailure;
}

}  // namespace

COvwCommUSB::COvwCommUSB(std::unique_ptr<usb::Interface> usb) : usb_(std::move(usb)) {}

int COvwCommUSB::Connect(const std::string& devicePath) {
    if (!usb_) usb_ = usb::CreateInterfaceFor(devicePath);
    if (!usb_->Open(devicePath)) {
        ServiceLog("COvwCommUSB::Connect():CreateFile error.\n");
        return 1;
    }
    if (!usb_->Initialize()) {
        ServiceLog("COvwCommUSB::Connect():WinUsb_Initialize error.\n");
        usb_->Free();
        return 1;
    }
    if (const int r = SetUpInterface(); r != 0) {
        ServiceLog("COvwCommUSB::Connect():QueryUSBInterface error.\n");
        usb_->Free();
        return r;
    }
    return 0;
}

int COvwCommUSB::QueryUSBInterface(std::unique_ptr<usb::Interface> usb) {
    usb_ = std::move(usb);
    return SetUpInterface();
}

int COvwCommUSB::SetUpInterface() {
    // The first setting with more than two endpoints that can be selected.
    // A setting with more endpoints than the pipe table holds is passed over:
    // setting up only some of its pipes could leave a pipe the adapter uses
    // without its time-out.
    usb::InterfaceDescriptor setting;
    bool found = false;
    for (std::uint8_t i = 0; i < 16 && !found; ++i) {
        if (!usb_->QueryInterfaceSettings(i, setting) || setting.bNumEndpoints <= 2) continue;
        if (setting.bNumEndpoints > kMaxPipes) {
            ServiceLog(
                "COvwCommUSB::QueryUSBInterface() setting %u has %u endpoints, more than %zu\n",
                setting.bAlternateSetting, setting.bNumEndpoints, kMaxPipes);
            continue;
        }
        found = usb_->SetCurrentAlternateSetting(setting.bAlternateSetting);
    }
    if (!found) {
        ServiceLog("COvwCommUSB::QueryUSBInterface() error1\n");
        return 2;
    }
    for (std::uint8_t j = 0; j < setting.bNumEndpoints; ++j) {
        usb::PipeInformation pipe;
        if (!usb_->QueryPipe(setting.bAlternateSetting, j, pipe)) {
            ServiceLog("COvwCommUSB::QueryUSBInterface() error2\n");
            return 2;
        }
        // Neither failure stops the connection (a pipe that cannot be reset
        // or given its time-out still moves data), but both are worth a line:
        // without the time-out a transfer on that pipe waits without limit.
        if (!usb_->ResetPipe(pipe.pipeId))
            ServiceLog("COvwCommUSB::QueryUSBInterface() ResetPipe(%02x) error %u\n", pipe.pipeId,
                       usb::LastError());
        if (!usb_->SetPipePolicy(pipe.pipeId, usb::PipePolicy::kPipeTransferTimeout,
                                 kPipeTimeoutMs))
            ServiceLog("COvwCommUSB::QueryUSBInterface() SetPipePolicy(%02x) error %u\n",
                       pipe.pipeId, usb::LastError());
        pipes_[pipeCount_++] = pipe.pipeId;
        std::this_thread::yield();
    }
    connected_ = 1;
    return 0;
}

int COvwCommUSB::Disconnect() {
    connected_ = 0;
    if (!usb_) return 0;
    for (std::size_t i = 0; i < pipeCount_; ++i) {
        // Failures are expected here (the device may be gone) and change
        // nothing: Free below releases every pipe anyway.
        (void)usb_->AbortPipe(pipes_[i]);
        (void)usb_->FlushPipe(pipes_[i]);
    }
    usb_->Free();
    return 0;
}

int COvwCommUSB::Ready() const {
    if (connected_ == 0) return kLinkNotConnected;
    if (linkBroken_ != 0) return kLinkBroken;
    return kLinkOk;
}

usb::ErrorCode COvwCommUSB::ReadOnce(std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t size,
                                     std::uint32_t& length) {
    std::uint32_t received = 0;
    const bool ok = usb_->ReadPipe(pipe, buffer, size, received);
    length = received;
    return ok ? platform::kErrorSuccess : FailureCode();
}

usb::ErrorCode COvwCommUSB::WriteOnce(std::uint8_t pipe, std::uint8_t* buffer,
                                      std::uint32_t& length) {
    std::uint32_t sent = 0;
    const bool ok = usb_->WritePipe(pipe, buffer, length, sent);
    length = sent;
    return ok ? platform::kErrorSuccess : FailureCode();
}

int COvwCommUSB::Read(std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t& length) {
    if (const int r = Ready(); r != kLinkOk) return r;
    // Every attempt offers the whole buffer. Only time-outs are retried: any
    // other failure (device gone, aborted) breaks the link at once instead of
    // passing for a successful read.
    const std::uint32_t size = length;
    for (int attempt = 1;; ++attempt) {
        const usb::ErrorCode err = ReadOnce(pipe, buffer, size, length);
        if (err == platform::kErrorSuccess) return kLinkOk;
        if (err != platform::kErrorSemTimeout || attempt == kReadAttempts) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kReadRetryDelayMs));
    }
    ServiceLog("WinUsb_ReadPipe error!\n");
    linkBroken_ = 1;
    return kLinkBroken;
}

int COvwCommUSB::Write(std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t& length) {
    if (const int r = Ready(); r != kLinkOk) return r;
    if (WriteOnce(pipe, buffer, length) == platform::kErrorSuccess) return kLinkOk;
    ServiceLog("WinUsb_WritePipe error!\n");
    linkBroken_ = 1;
    return kLinkBroken;
}

int COvwCommUSB::Transact(std::uint8_t outPipe, std::uint8_t* request, std::uint32_t& requestLength,
                          std::uint8_t inPipe, std::uint8_t* reply, std::uint32_t& replyLength) {
    if (const int r = Ready(); r != kLinkOk) return r;
    MutexLock lock(exchangeLock_);
    if (const usb::ErrorCode err = WriteOnce(outPipe, request, requestLength);
        err != platform::kErrorSuccess) {
        ServiceLog("WinUsb_WritePipe error!\n");
        linkBroken_ = 1;
        return static_cast<int>(err);
    }
    if (const usb::ErrorCode err = ReadOnce(inPipe, reply, replyLength, replyLength);
        err != platform::kErrorSuccess) {
        ServiceLog("WinUsb_ReadPipe error!\n");
        linkBroken_ = 1;
        return static_cast<int>(err);
    }
    return kLinkOk;
}

}  // namespace orv::link
