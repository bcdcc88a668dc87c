// orvctl: a scriptable client of the control channel. Each command connects,
// greets as the panel does, asks the service what the command needs (its
// wall list, its monitor list), sends the requests the panel would send,
// waits for the answer, prints it, and leaves with 0x5C. Commands whose
// requests have no answer end with an encode-mode query, so that orvctl
// returns only after the service has read them. main.cpp only calls Run().
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <span>

namespace orv::orvctl {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  // the service refused, or the wall does not allow it
inline constexpr int kExitUsage = 2;
inline constexpr int kExitService = 3;  // absent, silent, gone, or malformed answers

// Runs the command in `args` (without the program name), talking to the
// port given or `defaultPort`. Results go to `out`, errors to `err`, one
// line each, prefixed "orvctl: ". `watch` runs until `stop` (optional, set
// from another thread or a signal handler) is set, its count is reached, or
// the service goes away; it looks at `stop` at least every 200 ms.
int Run(std::span<const char* const> args, std::uint16_t defaultPort, std::ostream& out,
        std::ostream& err, const std::atomic<bool>* stop = nullptr);

}  // namespace orv::orvctl
