// The service's trace: one process-wide Logger with a writer thread.
//
// Callers hand over a finished text line; Log copies it and queues it (one
// string copy, one short locked insertion, no file system access), so it is
// safe on the USB, frame and control-channel threads. The writer thread stamps
// each line with the local time, "%d-%d-%d-%d-%d-%d-%d: " (year, month, day,
// hour, minute, second, millisecond, no padding), appends it to the channel's
// file in LogDir() and adds CR LF unless the text already ends with CR LF.
// Every line opens, appends and closes its file, so a deleted file is simply
// re-created and other processes may read the files while the service runs.
//
// Channels: 0 "CatInfo.log.txt", 1 "ServiceManager.log.txt", 2 "FWError.log.txt",
// 4 "OSRectDVI0.log.txt", 5 "OSRectCRT1.log.txt", 7 "OSRectHDMI.log.txt";
// any other channel writes nothing. The service writes everything on channel 1.
//
// Threads: Log from any thread; one writer thread ("orv-log") owned by the
// Logger and joined by its destructor. Locks: the queue's own lock only.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "common/blocking_fifo.h"
#include "common/thread_annotations.h"

namespace orv::log {

inline constexpr std::int32_t kServiceChannel = 1;
// Callers format into a buffer of this size: a line holds at most 255 characters.
inline constexpr std::size_t kMessageBufferSize = 256;

struct LogMessage {
    std::int32_t channel = kServiceChannel;
    const char* text = nullptr;  // NUL-terminated; copied by Log
    std::int32_t suppress = 0;   // non-zero: consumed without being written
};

class Logger {
public:
    // The process-wide logger, created with its writer thread on first use and
    // never destroyed.
    static Logger& Instance();

    // A logger of its own (tests, tools). `folder` empty means LogDir() of the
    // environment, read again for every line.
    explicit Logger(std::string folder = {});
    ~Logger();  // stops the writer; lines still queued are dropped
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Queues a copy of message.text. Nothing happens when the text is absent
    // or the logger is stopped. Never blocks on I/O.
    void Log(const LogMessage& message);

    // Blocks until every line queued before the call has been handled by the
    // writer (written, suppressed or lost). For tests and orderly exits.
    void Flush();

    // File name of a channel, or nullptr when the channel writes nothing.
    static const char* ChannelFile(std::int32_t channel);

private:
    struct Entry {
        std::int32_t channel;
        std::int32_t suppress;
        std::string text;
    };

    void WriterThread();
    void Write(const Entry& entry) const;

    const std::string folder_;
    BlockingFifo<Entry> queue_;
    std::atomic<bool> stopped_{false};

    // Lines accepted by Log, and lines the writer has finished with. Flush
    // waits on flushed_ for handled_ to catch up (or for stopped_, which the
    // destructor sets under flushMutex_). flushMutex_ is a leaf lock.
    std::atomic<std::uint64_t> queued_{0};
    Mutex flushMutex_;
    CondVar flushed_;
    std::uint64_t handled_ GUARDED_BY(flushMutex_) = 0;

    std::thread writer_;
};

// Formats like printf into a 256-byte buffer (longer text is cut at 255
// characters) and logs it on channel 1 of the process-wide logger.
void ServiceLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orv::log
