// orvctl: the control channel from the command line (see orvctl.h).
#include <signal.h>

#include <atomic>
#include <iostream>

#include "platform/paths.h"
#include "tools/orvctl/orvctl.h"

namespace {

std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Only sets the flag that `watch` polls, so the watcher leaves the channel
// with its goodbye instead of dying in the middle of it.
extern "C" void OnStopSignal(int) {
    g_stop.store(true);
}

}  // namespace

int main(int argc, char** argv) {
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return orv::orvctl::Run({argv + 1, static_cast<std::size_t>(argc - 1)},
                            orv::platform::ControlPort(), std::cout, std::cerr, &g_stop);
}
