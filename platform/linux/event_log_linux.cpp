#include <syslog.h>

#include "platform/event_log.h"

namespace orv::platform {

void EventLog::Write(const std::string& source, const std::string& text, std::uint16_t type) {
    int priority = LOG_INFO;
    if (type == kEventLogErrorType) priority = LOG_ERR;
    else if (type == kEventLogWarningType) priority = LOG_WARNING;
    // The event source is opened for one entry and closed again, like the
    // source handle of the service's event-log writer.
    openlog(source.c_str(), LOG_PID, LOG_DAEMON);
    syslog(priority, "%s: %s", source.c_str(), text.c_str());
    closelog();
}

}  // namespace orv::platform
