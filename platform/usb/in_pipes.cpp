#include "platform/usb/in_pipes.h"

#include "platform/usb/usb_interface.h"

#include <algorithm>
#include <cstring>

namespace orv::usb {

bool InPipes::Push(std::uint8_t pipeId, std::vector<std::uint8_t> data) {
    std::unique_lock lock(mutex_);
    Queue& q = queues_[Index(pipeId)];
    changed_.wait(lock, [&] { return closed_ != 0 || q.bytes < byteLimit_; });
    if (closed_ != 0) return false;
    q.bytes += data.size();
    q.transfers.push_back(std::move(data));
    lock.unlock();
    changed_.notify_all();
    return true;
}

platform::ErrorCode InPipes::Pop(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t size,
                                 std::uint32_t& transferred,
                                 std::optional<std::chrono::microseconds> timeout) {
    transferred = 0;
    std::unique_lock lock(mutex_);
    Queue& q = queues_[Index(pipeId)];
    const std::uint64_t aborts = q.aborts;
    auto ready = [&] { return closed_ != 0 || !q.transfers.empty() || q.aborts != aborts; };
    if (!timeout) {
        changed_.wait(lock, ready);
    } else if (!changed_.wait_for(lock, *timeout, ready)) {
        return platform::kErrorSemTimeout;
    }
    if (closed_ != 0) return closed_;
    if (q.aborts != aborts) return platform::kErrorOperationAborted;

    std::vector<std::uint8_t>& head = q.transfers.front();
    const std::size_t take = std::min<std::size_t>(size, head.size() - q.headOffset);
    if (take > 0) std::memcpy(buffer, head.data() + q.headOffset, take);
    q.headOffset += take;
    q.bytes -= take;
    if (q.headOffset == head.size()) {
        q.transfers.pop_front();
        q.headOffset = 0;
    }
    transferred = static_cast<std::uint32_t>(take);
    lock.unlock();
    changed_.notify_all();
    return platform::kErrorSuccess;
}

void InPipes::Abort(std::uint8_t pipeId) {
    {
        std::lock_guard lock(mutex_);
        ++queues_[Index(pipeId)].aborts;
    }
    changed_.notify_all();
}

void InPipes::Flush(std::uint8_t pipeId) {
    {
        std::lock_guard lock(mutex_);
        Queue& q = queues_[Index(pipeId)];
        q.transfers.clear();
        q.headOffset = 0;
        q.bytes = 0;
    }
    changed_.notify_all();
}

void InPipes::Close(platform::ErrorCode code) {
    {
        std::lock_guard lock(mutex_);
        if (closed_ == 0) closed_ = code;
    }
    changed_.notify_all();
}

bool ReadQueuedTransfer(InPipes& in, const SettingTable& settings, std::chrono::microseconds unit,
                        std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t bufferLength,
                        std::uint32_t& transferred) {
    transferred = 0;
    if (!IsInPipe(pipeId) || (buffer == nullptr && bufferLength > 0)) {
        SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    const platform::ErrorCode err = in.Pop(pipeId, buffer, bufferLength, transferred,
                                           ScaledTimeout(settings.TimeoutMs(pipeId), unit));
    if (err != platform::kErrorSuccess) {
        SetLastError(err);
        return false;
    }
    return true;
}

}  // namespace orv::usb
