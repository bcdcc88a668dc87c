#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/diag.h"
#include "platform/usb/sim_usb.h"
#include "protocol/bus/bus_frame.h"

namespace orv::usb {
namespace {

using platform::kErrorDeviceNotConnected;
using platform::kErrorInvalidHandle;
using platform::kErrorInvalidParameter;

// How long Initialize waits for the device's DESC frame.
constexpr int kDescribeTimeoutSeconds = 5;
// Unread IN bytes per endpoint before the reader thread waits for reads.
constexpr std::size_t kInPipeByteLimit = 64u * 1024u * 1024u;

bool SetSocketTimeout(int fd, int option, std::chrono::microseconds timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
    tv.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000000);
    return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

}  // namespace

std::vector<SettingDescriptor> SettingsFromBus(
    const std::vector<bus::SettingDescriptor>& settings) {
    std::vector<SettingDescriptor> out;
    out.reserve(settings.size());
    for (const bus::SettingDescriptor& s : settings) {
        SettingDescriptor& setting = out.emplace_back(SettingDescriptor{s.alternateSetting, {}});
        for (const bus::EndpointDescriptor& e : s.endpoints)
            setting.endpoints.push_back(
                {e.address, static_cast<PipeType>(e.type & 0x03), e.maxPacketSize});
    }
    return out;
}

SimUsb::SimUsb(std::chrono::microseconds timeoutUnit)
    : timeoutUnit_(timeoutUnit), in_(kInPipeByteLimit) {}

SimUsb::~SimUsb() {
    Free();
}

bool SimUsb::Open(const std::string& devicePath) {
    if (state_ != State::kIdle) {
        SetLastError(state_ == State::kFreed ? kErrorInvalidHandle : platform::kErrorAlreadyExists);
        return false;
    }
    path_ = devicePath;
    socket_ = bus::ConnectTo(devicePath);
    if (socket_ < 0) {
        SetLastError(platform::FromErrno(errno));
        return false;
    }
    state_ = State::kOpen;
    return true;
}

bool SimUsb::Initialize() {
    if (state_ != State::kOpen) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    // The device describes itself first; a device that stays silent or sends
    // anything else is refused.
    bus::FrameHeader header;
    std::vector<std::uint8_t> payload;
    std::string why = "the first frame is not DESC";
    SetSocketTimeout(socket_, SO_RCVTIMEO, std::chrono::seconds(kDescribeTimeoutSeconds));
    const bus::IoResult got = bus::RecvFrame(socket_, header, payload, &why);
    SetSocketTimeout(socket_, SO_RCVTIMEO, std::chrono::microseconds(0));
    if (got == bus::IoResult::kClosed) {
        platform::Diagnostic("SimUsb: %s closed or stayed silent before describing itself\n",
                             path_.c_str());
        SetLastError(kErrorDeviceNotConnected);
        return false;
    }
    auto settings = got == bus::IoResult::kOk && header.kind == bus::FrameKind::kDesc
                        ? bus::DecodeDescriptor(payload, &why)
                        : std::nullopt;
    if (settings && settings->empty()) why = "descriptor without settings";
    if (!settings || settings->empty()) {
        platform::Diagnostic("SimUsb: %s refused: %s\n", path_.c_str(), why.c_str());
        SetLastError(platform::kErrorGenFailure);
        return false;
    }
    settings_.Assign(SettingsFromBus(*settings));
    state_ = State::kReady;
    reader_ = std::thread(&SimUsb::ReaderThread, this);
    return true;
}

bool SimUsb::Usable() const {
    if (state_ != State::kReady) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (gone_) {
        SetLastError(kErrorDeviceNotConnected);
        return false;
    }
    return true;
}

bool SimUsb::QueryInterfaceSettings(std::uint8_t alternateIndex, InterfaceDescriptor& descriptor) {
    return Usable() && settings_.QueryInterfaceSettings(alternateIndex, descriptor);
}

bool SimUsb::SetCurrentAlternateSetting(std::uint8_t alternateSetting) {
    if (!Usable() || !settings_.Select(alternateSetting)) return false;
    const std::uint8_t payload[1] = {alternateSetting};
    return Send(bus::FrameKind::kSetAlt, 0, payload, 0);
}

bool SimUsb::QueryPipe(std::uint8_t alternateSetting, std::uint8_t pipeIndex,
                       PipeInformation& pipe) {
    return Usable() && settings_.QueryPipe(alternateSetting, pipeIndex, pipe);
}

bool SimUsb::ResetPipe(std::uint8_t pipeId) {
    return Usable() && settings_.CheckPipe(pipeId) &&
           Send(bus::FrameKind::kReset, pipeId, {}, settings_.TimeoutMs(pipeId));
}

bool SimUsb::SetPipePolicy(std::uint8_t pipeId, PipePolicy policy, std::uint32_t value) {
    return Usable() && settings_.SetPolicy(pipeId, policy, value);
}

bool SimUsb::ReadPipe(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                      std::uint32_t& transferred) {
    transferred = 0;
    if (!Usable() || !settings_.CheckPipe(pipeId)) return false;
    return ReadQueuedTransfer(in_, settings_, timeoutUnit_, pipeId, buffer, bufferLength,
                              transferred);
}

bool SimUsb::WritePipe(std::uint8_t pipeId, const std::uint8_t* buffer, std::uint32_t length,
                       std::uint32_t& transferred) {
    transferred = 0;
    if (!Usable() || !settings_.CheckPipe(pipeId)) return false;
    if (IsInPipe(pipeId) || length > bus::kMaxPayload || (buffer == nullptr && length > 0)) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    if (!Send(bus::FrameKind::kOut, pipeId, {buffer, length}, settings_.TimeoutMs(pipeId)))
        return false;
    transferred = length;
    return true;
}

bool SimUsb::AbortPipe(std::uint8_t pipeId) {
    if (!Usable() || !settings_.CheckPipe(pipeId)) return false;
    if (IsInPipe(pipeId)) in_.Abort(pipeId);
    return Send(bus::FrameKind::kAbort, pipeId, {}, settings_.TimeoutMs(pipeId));
}

bool SimUsb::FlushPipe(std::uint8_t pipeId) {
    if (!Usable() || !settings_.CheckPipe(pipeId)) return false;
    if (IsInPipe(pipeId)) in_.Flush(pipeId);
    return Send(bus::FrameKind::kFlush, pipeId, {}, settings_.TimeoutMs(pipeId));
}

bool SimUsb::Send(bus::FrameKind kind, std::uint8_t endpoint, bytes::ConstBytes payload,
                  std::uint32_t timeoutMs) {
    std::lock_guard lock(sendMutex_);
    if (gone_ || socket_ < 0) {
        SetLastError(kErrorDeviceNotConnected);
        return false;
    }
    if (timeoutMs != sendTimeoutMs_) {
        // The socket's send time-out follows the pipe's; 0 means no limit on
        // both sides. A scaled time-out never rounds down to "no limit".
        const auto scaled = ScaledTimeout(timeoutMs, timeoutUnit_);
        SetSocketTimeout(socket_, SO_SNDTIMEO,
                         scaled ? std::max(*scaled, std::chrono::microseconds(1))
                                : std::chrono::microseconds(0));
        sendTimeoutMs_ = timeoutMs;
    }
    if (bus::SendFrame(socket_, kind, endpoint, payload)) return true;
    const bool timedOut = errno == EAGAIN || errno == EWOULDBLOCK;
    if (timedOut)
        platform::Diagnostic("SimUsb: %s: a transfer to the device timed out, connection closed\n",
                             path_.c_str());
    DeviceGone();
    SetLastError(timedOut ? platform::kErrorSemTimeout : kErrorDeviceNotConnected);
    return false;
}

void SimUsb::DeviceGone() {
    gone_ = true;
    in_.Close(kErrorDeviceNotConnected);
    shutdown(socket_, SHUT_RDWR);  // ends the reader's receive
}

void SimUsb::ReaderThread() {
    pthread_setname_np(pthread_self(), "orv-simusb");
    bus::FrameHeader header;
    std::vector<std::uint8_t> payload;
    std::string why;
    // After its DESC, a device sends IN transfers only; anything else is a
    // broken stream and ends the connection.
    for (;;) {
        const bus::IoResult got = bus::RecvFrame(socket_, header, payload, &why);
        if (got == bus::IoResult::kOk &&
            (header.kind != bus::FrameKind::kIn || !IsInPipe(header.endpoint)))
            why = "a frame other than IN from the device";
        else if (got == bus::IoResult::kOk && in_.Push(header.endpoint, std::exchange(payload, {})))
            continue;
        // A closed connection or a refused push is the routine end.
        if (got != bus::IoResult::kClosed && !why.empty() && state_ != State::kFreed)
            platform::Diagnostic("SimUsb: %s: %s, connection closed\n", path_.c_str(), why.c_str());
        break;
    }
    DeviceGone();
}

void SimUsb::Free() {
    const State before = state_.exchange(State::kFreed);
    if (before == State::kFreed) return;
    in_.Close(platform::kErrorOperationAborted);
    if (socket_ >= 0) shutdown(socket_, SHUT_RDWR);
    if (reader_.joinable()) reader_.join();
    std::lock_guard lock(sendMutex_);
    if (socket_ >= 0) close(socket_);
    socket_ = -1;
}

}  // namespace orv::usb
