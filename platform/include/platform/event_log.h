// The few event-log entries of the service (start failures and the like),
// written to syslog(3) with facility LOG_DAEMON. The identity is the
// service's name, set once by Open; until then the program's own name is
// used.
//
// Any thread; syslog serialises the writes itself. Write does not block on
// the log daemon beyond what syslog(3) does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv::platform {

// Event types, with their Windows numbers.
inline constexpr std::uint16_t kEventLogErrorType = 1;        // EVENTLOG_ERROR_TYPE
inline constexpr std::uint16_t kEventLogWarningType = 2;      // EVENTLOG_WARNING_TYPE
inline constexpr std::uint16_t kEventLogInformationType = 4;  // EVENTLOG_INFORMATION_TYPE

class EventLog {
public:
    // Sets the identity every later entry carries.
    static void Open(std::string ident);
    // Writes `text` with the priority of `type`: error LOG_ERR, warning
    // LOG_WARNING, anything else LOG_INFO.
    static void Write(std::string_view text, std::uint16_t type);
};

}  // namespace orv::platform
