// The simulator's own trace: one line per call on standard error, prefixed
// "orv-adapter-sim: ". Any thread (stdio serialises each call).
#pragma once

namespace orv::sim {

void SimLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Silences SimLog (tests that provoke many violations on purpose).
void SetSimLogQuiet(bool quiet);

}  // namespace orv::sim
