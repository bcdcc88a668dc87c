// The adapter simulator as a child process of an integration test.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/adapter/control_server.h"
#include "tests/support/child_process.h"

namespace orv::testing {

// Starts `program --config config` and waits (up to 10 s) until its control
// socket at `control` answers; nullptr when it did not start or answer.
inline std::unique_ptr<ChildProcess> StartSimulator(const std::string& program,
                                                    const std::string& config,
                                                    const std::map<std::string, std::string>& env,
                                                    const std::string& control) {
    auto sim =
        std::make_unique<ChildProcess>(std::vector<std::string>{program, "--config", config}, env);
    if (!sim->Started()) return nullptr;
    for (int i = 0; i < 200; ++i) {
        if (sim::AskSimulator(control, "list").rfind("ok", 0) == 0) return sim;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
}

}  // namespace orv::testing
