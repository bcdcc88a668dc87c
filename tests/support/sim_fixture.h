// In-process simulated adapters on a private bus folder, for tests of the
// service's adapter, monitor and device-manager objects. ORV_ROOT points at
// the same private folder, so the configuration file and the log are private
// too.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/adapter/packets.h"
#include "service/link/comm_base.h"
#include "sim/adapter/sim_adapter.h"
#include "sim/adapter/sim_config.h"
#include "tests/support/eventually.h"

namespace orv::testing {

using orv::test::Eventually;

// The version query as the adapter start runs it, without the firmware
// comparison (tests of the firmware update have their own).
inline int QueryVersionOnly(link::COvwCommBase& link, std::string& version) {
    adapter::Packet query = adapter::BuildVersionQuery(adapter::kVersionFirmware);
    std::vector<std::uint8_t> reply(adapter::kVersionReplyBuffer);
    std::uint32_t requestLength = static_cast<std::uint32_t>(query.size());
    std::uint32_t replyLength = static_cast<std::uint32_t>(reply.size());
    const int r = link.Transact(adapter::kPipeOutCommands, query.data(), requestLength,
                                adapter::kPipeInReply, reply.data(), replyLength);
    const bytes::ConstBytes got = bytes::ConstBytes(reply).first(r == 0 ? replyLength : 0);
    if (adapter::CheckVersionReply(r, got, adapter::kVersionFirmware) != adapter::ReplyFault::kNone)
        return 1;
    version = adapter::VersionText(got);
    return 0;
}

class SimBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Lower case throughout, as device paths usually are: removals may
        // name the path in another case and are matched in lower case.
        std::string name = std::string("orv-simbus-") + std::to_string(getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        root_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "usb");
        std::filesystem::create_directories(root_ / "rom");
        setenv("ORV_ROOT", root_.c_str(), 1);
        setenv("ORV_RUNTIME_DIR", root_.c_str(), 1);
    }
    void TearDown() override {
        adapters_.clear();
        if (!getenv("ORV_KEEP_TEST_DIR")) std::filesystem::remove_all(root_);
    }

    // A simulated adapter named `name` with monitors on `ports`.
    sim::SimAdapter& AddAdapter(const std::string& name, std::vector<std::uint8_t> ports,
                                std::string identity = "") {
        sim::SimConfig config;
        config.busDir = (root_ / "usb").string();
        config.romDir = (root_ / "rom").string();
        sim::AdapterConfig a;
        a.name = name;
        a.identity = identity.empty() ? "SIM-" + name : identity;
        a.romSize = 0x10000;
        a.keepAliveMs = 500;
        for (std::uint8_t p : ports) {
            sim::MonitorConfig m;
            m.port = p;
            a.monitors.push_back(m);
        }
        config.adapters.push_back(a);
        std::string error;
        EXPECT_TRUE(sim::FinishConfig(config, &error)) << error;
        auto adapter =
            sim::SimAdapter::Create(config.adapters[0], adapters_.size(), config.busDir, &error);
        EXPECT_TRUE(adapter) << error;
        EXPECT_TRUE(adapter->Attach(&error)) << error;
        adapters_.push_back(std::move(adapter));
        return *adapters_.back();
    }

    std::string BusPath(const std::string& name) const {
        return (root_ / "usb" / (name + ".sock")).string();
    }

    std::filesystem::path root_;
    std::vector<std::unique_ptr<sim::SimAdapter>> adapters_;
};

}  // namespace orv::testing
