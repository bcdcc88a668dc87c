#include "platform/usb/in_pipes.h"

#include "platform/usb/usb_interface.h"

#include <algorithm>
#include <cstring>

namespace orv::usb {

bool InPipes::Push(std::uint8_t pipeId, std::vector<std::uint8_t> data) {
    {
        MutexLock lock(mutex_);
        Queue& q = queues_[Index(pipeId)];
        while (closed_ == 0 && q.bytes >= byteLimit_) changed_.Wait(mutex_);
        if (closed_ != 0) return false;
        q.bytes += data.size();
        q.transfers.push_back(std::move(data));
    }
    changed_.NotifyAll();
    return true;
}

platform::ErrorCode InPipes::Pop(std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t size,
                                 std::uint32_t& transferred,
                                 std::optional<std::chrono::microseconds> timeout) {
    transferred = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + timeout.value_or(std::chrono::microseconds::zero());
    {
        MutexLock lock(mutex_);
        Queue& q = queues_[Index(pipeId)];
        const std::uint64_t aborts = q.aborts;
        while (closed_ == 0 && q.transfers.empty() && q.aborts == aborts) {
            if (!timeout)
                changed_.Wait(mutex_);
            else if (!changed_.WaitUntil(mutex_, deadline) && closed_ == 0 && q.transfers.empty() &&
                     q.aborts == aborts)
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
    }
    changed_.NotifyAll();
    return platform::kErrorSuccess;
}

void InPipes::Abort(std::uint8_t pipeId) {
    {
        MutexLock lock(mutex_);
        ++queues_[Index(pipeId)].aborts;
    }
    changed_.NotifyAll();
}

void InPipes::Flush(std::uint8_t pipeId) {
    {
        MutexLock lock(mutex_);
        Queue& q = queues_[Index(pipeId)];
        q.transfers.clear();
        q.headOffset = 0;
        q.bytes = 0;
    }
    changed_.NotifyAll();
}

void InPipes::Close(platform::ErrorCode code) {
    {
        MutexLock lock(mutex_);
        if (closed_ == 0) closed_ = code;
    }
    changed_.NotifyAll();
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
