#include "platform/event_log.h"

#include <syslog.h>

#include <mutex>

namespace orv::platform {
namespace {

std::mutex g_identMutex;
// openlog keeps the pointer, so the identity lives here for the process life.
std::string g_ident;  // guarded by g_identMutex

int Priority(std::uint16_t type) {
    switch (type) {
        case kEventLogErrorType:
            return LOG_ERR;
        case kEventLogWarningType:
            return LOG_WARNING;
        default:
            return LOG_INFO;
    }
}

}  // namespace

void EventLog::Open(std::string ident) {
    std::lock_guard lock(g_identMutex);
    closelog();
    g_ident = std::move(ident);
    openlog(g_ident.c_str(), LOG_PID, LOG_DAEMON);
}

void EventLog::Write(std::string_view text, std::uint16_t type) {
    syslog(LOG_DAEMON | Priority(type), "%.*s", static_cast<int>(text.size()), text.data());
}

}  // namespace orv::platform
