// orv-adapter-sim: simulated USB display adapters on the simulated USB bus.
// Runs until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>

#include "sim/adapter/simulator.h"

int main(int argc, char** argv) {
    const orv::sim::CommandLine cl = orv::sim::ParseCommandLine(argc, argv);
    if (!cl.config) {
        std::fputs(cl.message.c_str(), cl.exitCode == 0 ? stdout : stderr);
        return cl.exitCode;
    }
    // Block the stop signals before any thread starts, then wait for one.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::string error;
    auto sim = orv::sim::Simulator::Create(*cl.config, &error);
    if (!sim || !sim->Start(&error)) {
        std::fprintf(stderr, "orv-adapter-sim: %s\n", error.c_str());
        return 1;
    }
    int signal = 0;
    sigwait(&stop, &signal);
    sim->Stop();
    return 0;
}
