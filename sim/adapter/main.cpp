// orv-adapter-sim: simulated USB display adapters on the simulated USB bus.
// Runs until SIGINT or SIGTERM. "orv-adapter-sim --ask SOCKET COMMAND..."
// sends one command to a running simulator and prints its answer.
#include <cstdio>

#include <string>

#include "platform/stop_signals.h"
#include "sim/adapter/control_server.h"
#include "sim/adapter/simulator.h"

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--ask") {
        std::string line;
        for (int i = 3; i < argc; ++i) line += (i > 3 ? " " : "") + std::string(argv[i]);
        const std::string answer = orv::sim::AskSimulator(argv[2], line);
        std::printf("%s\n", answer.c_str());
        return answer.rfind("ok", 0) == 0 ? 0 : 1;
    }
    const orv::sim::CommandLine cl = orv::sim::ParseCommandLine(argc, argv);
    if (!cl.config) {
        std::fputs(cl.message.c_str(), cl.exitCode == 0 ? stdout : stderr);
        return cl.exitCode;
    }
    // Before any thread starts.
    orv::platform::StopSignals stop;

    std::string error;
    auto sim = orv::sim::Simulator::Create(*cl.config, &error);
    if (!sim || !sim->Start(&error)) {
        std::fprintf(stderr, "orv-adapter-sim: %s\n", error.c_str());
        return 1;
    }
    stop.Wait();
    sim->Stop();
    return 0;
}
