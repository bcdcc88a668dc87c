// The system event log: syslog(3), facility daemon, each entry prefixed with
// the name of its source.
#pragma once

#include <cstdint>
#include <string>

namespace orv::platform {

inline constexpr std::uint16_t kEventLogErrorType = 1;
inline constexpr std::uint16_t kEventLogWarningType = 2;
inline constexpr std::uint16_t kEventLogInformationType = 4;

class EventLog {
public:
    // Writes one entry "<source>: <text>" with the priority of `type` (error,
    // warning, otherwise information). Any thread.
    static void Write(const std::string& source, const std::string& text, std::uint16_t type);

    // Where entries go: syslog(3) unless a test replaced it. Write passes
    // facility | priority, a constant format and its arguments, exactly as
    // syslog receives them. Returns the previous function; nullptr restores
    // syslog. Not for use while other threads write entries.
    using SyslogFunction = void (*)(int priority, const char* format, ...);
    static SyslogFunction ReplaceSyslogForTest(SyslogFunction function);
};

}  // namespace orv::platform
