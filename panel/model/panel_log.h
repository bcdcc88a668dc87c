// The panel's own trace: one line per call on standard error, prefixed
// "kalmiro: ", flushed at once. Any thread (stdio serialises each call).
#pragma once

namespace orv::panel {

void PanelLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Silences PanelLog (tests that provoke refusals on purpose).
void SetPanelLogQuiet(bool quiet);

}  // namespace orv::panel
