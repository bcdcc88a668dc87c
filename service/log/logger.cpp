#include "service/log/logger.h"

#include <fcntl.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/paths.h"
#include "platform/thread_name.h"

namespace orv::log {

Logger& Logger::Instance() {
    // Deliberately leaked: threads may log until the very end of the process.
    static Logger* instance = new Logger();
    return *instance;
}

Logger::Logger(std::string folder) : folder_(std::move(folder)) {
    writer_ = std::thread([this] { WriterThread(); });
}

Logger::~Logger() {
    {
        // Set under the flush lock: a Flush between its check of stopped_ and
        // its wait would otherwise miss this wake-up and block for good.
        MutexLock lock(flushMutex_);
        stopped_ = true;
    }
    flushed_.NotifyAll();
    queue_.Stop();
    writer_.join();
}

const char* Logger::ChannelFile(std::int32_t channel) {
    switch (channel) {
        case 0:
            return "CatInfo.log.txt";
        case 1:
            return "ServiceManager.log.txt";
        case 2:
            return "FWError.log.txt";
        case 4:
            return "OSRectDVI0.log.txt";
        case 5:
            return "OSRectCRT1.log.txt";
        case 7:
            return "OSRectHDMI.log.txt";
        default:
            return nullptr;
    }
}

void Logger::Log(const LogMessage& message) {
    if (stopped_ || message.text == nullptr) return;
    Entry entry{message.channel, message.suppress, std::string(message.text)};
    if (queue_.Push(std::move(entry))) queued_.fetch_add(1, std::memory_order_release);
}

void Logger::Flush() {
    const std::uint64_t target = queued_.load(std::memory_order_acquire);
    MutexLock lock(flushMutex_);
    while (handled_ < target && !stopped_) flushed_.Wait(flushMutex_);
}

void Logger::WriterThread() {
    platform::SetCurrentThreadName("orv-log");
    while (!stopped_) {
        std::optional<Entry> entry = queue_.WaitPop();
        if (!entry || stopped_) break;
        if (entry->suppress == 0) Write(*entry);
        {
            MutexLock lock(flushMutex_);
            ++handled_;
        }
        flushed_.NotifyAll();
    }
    flushed_.NotifyAll();
}

void Logger::Write(const Entry& entry) const {
    const char* file = ChannelFile(entry.channel);
    if (file == nullptr) return;

    const std::string folder = folder_.empty() ? platform::LogDir() : folder_;
    platform::MakeDirs(folder);  // failures show up as a failed open below

    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    localtime_r(&tv.tv_sec, &local);
    char prefix[64];
    const int prefixLen =
        std::snprintf(prefix, sizeof prefix, "%d-%d-%d-%d-%d-%d-%d: ", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                      static_cast<int>(tv.tv_usec / 1000));

    const std::string& text = entry.text;
    const bool endsWithCrLf =
        text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n';
    static const char kCrLf[] = "\r\n";

    const int fd =
        open((folder + "/" + file).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;  // the line is lost; there is nowhere to report it
    iovec parts[3] = {
        {prefix, static_cast<std::size_t>(prefixLen)},
        {const_cast<char*>(text.data()), text.size()},
        {const_cast<char*>(kCrLf), endsWithCrLf ? 0u : 2u},
    };
    // One appending write per line keeps lines whole when others append too.
    (void)!writev(fd, parts, 3);
    close(fd);
}

void ServiceLog(const char* format, ...) {
    char buffer[kMessageBufferSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    Logger::Instance().Log({kServiceChannel, buffer, 0});
}

}  // namespace orv::log
