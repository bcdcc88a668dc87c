// The whole wall as real processes for one test: the adapter simulator with
// adapters of two monitors each, zentrelle and the display-driver stand-in,
// on a private root folder, runtime folder, IPC namespace and private ports
// (driver, control, discovery). The test's own process gets the same IPC
// namespace, so a driver written in the test opens the service's names.
//
// Header only: its users link orv_platform (Profile), orv_adapter_sim
// (AskSimulator) and nlohmann_json, and name the programs through their
// build's target files. No gtest: Qt Test programs use it too. Every wait is
// bounded; what failed is in the service log (Log()).
//
// One thread (the test's) uses a rig. Stopping it (or its end) stops the
// service, the driver and the simulator, in that order.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/profile.h"
#include "sim/adapter/control_server.h"
#include "tests/support/child_process.h"
#include "tests/support/flip_records.h"
#include "tests/support/sim_process.h"

namespace orv::testing {

struct WallPrograms {
    std::string service;        // zentrelle
    std::string simulator;      // orv-adapter-sim
    std::string driver;         // orv-display-driver
    std::string fakeSystemctl;  // tests/support/fake-systemctl
};

class WallRig {
public:
    // `name` makes the IPC namespace and the adapters' identities
    // ("ORV-<NAME>-ADAPTER-A", "-B", ...).
    WallRig(WallPrograms programs, const std::string& name) : programs_(std::move(programs)) {
        root_ = tmp_.Path();
        const int base = 20000 + (getpid() % 13000) * 3;
        driverPort_ = static_cast<std::uint16_t>(base);
        controlPort_ = static_cast<std::uint16_t>(base + 1);
        discoveryPort_ = static_cast<std::uint16_t>(base + 2);
        identity_ = "ORV-" + name + "-ADAPTER-";
        for (char& c : identity_)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ns_ = name + std::to_string(getpid());
        setenv("ORV_IPC_NAMESPACE", ns_.c_str(), 1);
        for (const char* dir : {"/run", "/rom", "/etc/orv-videowall"})
            std::filesystem::create_directories(root_ + dir);
        env_ = {{"ORV_ROOT", root_},
                {"ORV_RUNTIME_DIR", root_ + "/run"},
                {"ORV_IPC_NAMESPACE", ns_},
                {"ORV_DRIVER_PORT", std::to_string(driverPort_)},
                {"ORV_CONTROL_PORT", std::to_string(controlPort_)},
                {"ORV_DISCOVERY_PORT", std::to_string(discoveryPort_)},
                {"ORV_SYSTEMCTL", programs_.fakeSystemctl},
                {"FAKE_SYSTEMCTL_STATE", root_ + "/run"}};
    }
    // Also removes what a killed service left in shared memory under the
    // rig's namespace.
    ~WallRig() {
        Stop();
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec))
            if (entry.path().filename().string().rfind("orv-" + ns_ + ".", 0) == 0)
                std::filesystem::remove(entry.path(), ec);
    }
    WallRig(const WallRig&) = delete;
    WallRig& operator=(const WallRig&) = delete;

    const std::string& Root() const { return root_; }
    const std::map<std::string, std::string>& Env() const { return env_; }
    std::uint16_t DriverPort() const { return driverPort_; }
    std::uint16_t ControlPort() const { return controlPort_; }
    std::uint16_t DiscoveryPort() const { return discoveryPort_; }
    ChildProcess* Service() { return service_.get(); }
    ChildProcess* Driver() { return driver_.get(); }

    // The simulator with `adapters` adapters "a0", "a1"... of two monitors
    // each (ports 1 and 4), 1920 x 1080 unless `width` and `height` say
    // otherwise. False when it did not answer.
    bool StartSim(int adapters = 2, int width = 1920, int height = 1080) {
        const std::string config = root_ + "/sim.json";
        std::ofstream out(config);
        out << R"({"bus": ")" << root_ << R"(/run/usb", "rom_dir": ")" << root_
            << R"(/rom", "control": ")" << SimControl() << R"(", "adapters": [)";
        for (int i = 0; i < adapters; ++i) {
            std::string monitors;
            for (int port : {1, 4})
                monitors += std::string(monitors.empty() ? "" : ", ") + R"({"port": )" +
                            std::to_string(port) + R"(, "width": )" + std::to_string(width) +
                            R"(, "height": )" + std::to_string(height) + "}";
            out << (i > 0 ? ", " : "") << R"({"name": "a)" << i << R"(", "identity": ")"
                << AdapterIdentity(i) << R"(", "monitors": [)" << monitors << "]}";
        }
        out << "]}";
        out.close();
        sim_ = StartSimulator(programs_.simulator, config, env_, SimControl());
        return sim_ != nullptr;
    }
    std::string AdapterIdentity(int index) const {
        return identity_ + static_cast<char>('A' + index);
    }

    // The registry value TestWallLayout: the service builds and places this
    // wall by itself once the driver connects ("2 2 2560 1440 1280 720
    // 1:0:0 ...").
    void SetTestWallLayout(const std::string& layout) {
        std::ofstream(root_ + "/etc/orv-videowall/registry.conf")
            << "[Software\\ORVVideoWallControlSet]\nTestWallLayout=REG_SZ:" << layout << "\n";
    }

    // Starts the service and waits until `monitors` monitors have their ids.
    bool StartService(int monitors = 4) {
        service_ =
            std::make_unique<ChildProcess>(std::vector<std::string>{programs_.service}, env_);
        return service_->Started() &&
               WaitForFileContaining(
                   LogPath(), "--ORVPlugInMonitor::MonitorID=" + std::to_string(monitors) + "--",
                   std::chrono::seconds(30));
    }
    // SIGTERM and the exit code (nothing when it did not end in 40 s).
    std::optional<int> StopService() {
        if (!service_) return 0;
        service_->Signal(SIGTERM);
        const auto code = service_->Wait(std::chrono::seconds(40));
        service_.reset();
        return code;
    }
    bool ServiceRunning() { return service_ && !service_->Wait(std::chrono::milliseconds(0)); }

    // The display-driver stand-in with its test pattern and `extra`
    // arguments, kept by the rig.
    ChildProcess& StartDriver(std::vector<std::string> extra = {}, int fps = 30) {
        driver_ = NewDriver(std::move(extra), fps);
        return *driver_;
    }
    // One the test owns (to kill it, or to run two one after the other).
    std::unique_ptr<ChildProcess> NewDriver(std::vector<std::string> extra = {}, int fps = 30) {
        std::vector<std::string> argv{programs_.driver, "--fps", std::to_string(fps), "--report-ms",
                                      "0"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return std::make_unique<ChildProcess>(argv, env_);
    }

    void Stop() {
        for (auto* child : {&service_, &driver_, &sim_}) {
            if (!*child) continue;
            (*child)->Signal(SIGTERM);
            (*child)->Wait(std::chrono::seconds(child == &service_ ? 40 : 10));
            child->reset();
        }
    }

    std::string SimControl() const { return root_ + "/run/sim.ctl"; }
    std::string Sim(const std::string& command) const {
        return sim::AskSimulator(SimControl(), command);
    }
    // A number of the simulator's statistics line of `adapter` ("shows",
    // "violations"...); ~0 when it is not there.
    std::uint64_t Stat(const std::string& adapter, const std::string& key) const {
        const std::string s = Sim("stats " + adapter);
        const auto pos = s.find(" " + key + "=");
        return pos == std::string::npos ? ~0ull : std::stoull(s.substr(pos + key.size() + 2));
    }
    std::string LogPath() const { return root_ + "/var/log/orv-videowall/ServiceManager.log.txt"; }
    std::string Log() const { return ReadFile(LogPath()); }
    // The id the service saved for monitor `name` (identity + port); 0 when
    // none.
    int SavedId(const std::string& name) const {
        const std::string v =
            platform::Profile(root_ + "/var/lib/orv-videowall/ORVVideoWallConfigFile.ini")
                .GetString(name, "Monitor_Id");
        return v.empty() ? 0 : std::stoi(v);
    }
    // "a<i>:<port>" of the monitor with id `id`; empty when none has it.
    std::string MonitorWithId(int id, int adapters = 2) const {
        for (int i = 0; i < adapters; ++i)
            for (int port : {1, 4})
                if (SavedId(AdapterIdentity(i) + std::to_string(port)) == id)
                    return "a" + std::to_string(i) + ":" + std::to_string(port);
        return {};
    }

    // The simulator's flip records, by "adapter:port".
    FlipRecords ReadFlips() const {
        FlipRecords out;
        const std::string answer = Sim("flips");
        if (answer.rfind("ok ", 0) != 0) return out;
        const auto json = nlohmann::json::parse(answer.substr(3));
        for (const auto& m : json["monitors"]) {
            auto& flips =
                out[m["adapter"].get<std::string>() + ":" + std::to_string(m["port"].get<int>())];
            for (const auto& flip : m["flips"])
                flips.push_back({flip[0].get<std::uint32_t>(), flip[1].get<std::int64_t>()});
        }
        return out;
    }
    // True once each of `monitors` ("a0:1"...) has flipped `count` times
    // after `sinceUs` (on NowMicros' clock).
    bool EachFlippedSince(const std::vector<std::string>& monitors, std::int64_t sinceUs,
                          int count = 5,
                          std::chrono::seconds timeout = std::chrono::seconds(20)) const {
        return orv::testing::EachFlippedSince([this] { return ReadFlips(); }, monitors, sinceUs,
                                              count, timeout);
    }

private:
    WallPrograms programs_;
    TempDir tmp_;
    std::string root_;
    std::string identity_;
    std::string ns_;
    std::uint16_t driverPort_ = 0, controlPort_ = 0, discoveryPort_ = 0;
    std::map<std::string, std::string> env_;
    std::unique_ptr<ChildProcess> sim_, service_, driver_;
};

}  // namespace orv::testing
