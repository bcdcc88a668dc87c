// orv-adapter-sim as a library: the simulated adapters of one configuration
// and the control socket that steers them.
//
// Threads: each adapter's own (sim_adapter.h) and the control server's; Start
// and Stop are called by the owner's thread; Command from any thread (the
// control server calls it on its own). No locks of its own: the adapter list
// is fixed after Create.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/adapter/control_server.h"
#include "sim/adapter/sim_adapter.h"
#include "sim/adapter/sim_config.h"

namespace orv::sim {

class Simulator {
public:
    // Checks the configuration and opens every adapter's serial ROM. Nothing
    // (and `error`) when something is unusable.
    static std::unique_ptr<Simulator> Create(SimConfig config, std::string* error);
    ~Simulator();

    // Creates the bus folder, attaches every adapter, opens the control
    // socket. False (and `error`) on the first failure, with all undone.
    bool Start(std::string* error);
    // Closes the control socket and detaches every adapter.
    void Stop();

    // Runs one control command (see Help()); returns its one-line answer,
    // "ok ..." or "error: ...".
    std::string Command(std::string_view line);
    static std::string Help();

    const SimConfig& Config() const { return config_; }
    std::size_t AdapterCount() const { return adapters_.size(); }
    SimAdapter& Adapter(std::size_t i) { return *adapters_.at(i); }
    // By name, or by position as a decimal number; nullptr when unknown.
    SimAdapter* Find(std::string_view nameOrIndex);

private:
    explicit Simulator(SimConfig config) : config_(std::move(config)) {}
    // "wall-png FILE [A:PORT=COL,ROW ...]" and "flips [LAST]"; `w` are the words.
    std::string WallPng(const std::vector<std::string>& w);
    std::string FlipsJson(const std::vector<std::string>& w);

    const SimConfig config_;
    std::vector<std::unique_ptr<SimAdapter>> adapters_;
    std::unique_ptr<ControlServer> control_;
};

}  // namespace orv::sim
