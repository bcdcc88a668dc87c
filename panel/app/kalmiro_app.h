// CKalmiroApp: the panel's start-up. One instance at a time (the lock
// "ORVVWCPL"), the language from "Language.ini" in the current folder, the
// service found (or started when stopped), then the main dialog until it
// closes.
//
// Main thread (the UI thread) only.
#pragma once

namespace orv::panel {

// The program; its exit status. A second instance ends at once with 0.
int RunKalmiro(int argc, char** argv);

// Starts the service through the service manager when it is stopped (or
// stopping: waits for the stop to finish, a tenth of the wait hint at a time
// within 1 to 10 seconds, giving up when the checkpoint stops advancing for
// longer than the hint). True when a start was issued.
bool StartServiceIfStopped();

}  // namespace orv::panel
