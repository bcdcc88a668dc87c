// A stand-alone program's wait for its stop request (SIGINT or SIGTERM).
//
// Construct it on the main thread before any other thread starts: it blocks
// both signals, so every thread inherits the mask and no thread is
// interrupted by them. Wait then blocks the main thread until one arrives.
// The service does not use it: its dispatcher turns the same signals into
// service stops.
#pragma once

namespace orv::platform {

class StopSignals {
public:
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Blocks until SIGINT or SIGTERM is pending, takes it and returns its
    // number.
    int Wait();
};

}  // namespace orv::platform
