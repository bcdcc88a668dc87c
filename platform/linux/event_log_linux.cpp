#include <syslog.h>

#include <atomic>

#include "platform/event_log.h"

namespace orv::platform {
namespace {

std::atomic<EventLog::SyslogFunction> g_syslog{&syslog};

}  // namespace

void EventLog::Write(const std::string& source, const std::string& text, std::uint16_t type) {
    int priority = LOG_INFO;
    if (type == kEventLogErrorType)
        priority = LOG_ERR;
    else if (type == kEventLogWarningType)
        priority = LOG_WARNING;
    // The entry names its source itself: openlog's identity is process-wide
    // and would be raced by writers of other sources.
    g_syslog.load()(LOG_DAEMON | priority, "%s: %s", source.c_str(), text.c_str());
}

EventLog::SyslogFunction EventLog::ReplaceSyslogForTest(SyslogFunction function) {
    return g_syslog.exchange(function != nullptr ? function : &syslog);
}

}  // namespace orv::platform
