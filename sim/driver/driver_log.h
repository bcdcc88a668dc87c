// The display driver's output: one line per call on standard output,
// prefixed "orv-display-driver: ", flushed at once. Any thread (stdio
// serialises each call).
#pragma once

namespace orv::driver {

void DriverLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Silences DriverLog (tests).
void SetDriverLogQuiet(bool quiet);

}  // namespace orv::driver
