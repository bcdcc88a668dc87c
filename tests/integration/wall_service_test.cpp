// zentrelle with simulated adapters, as real processes on a private root,
// runtime folder and bus: monitor numbers across replug, detach and restart;
// firmware updates written into the simulated serial ROMs; EDID retries.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "platform/profile.h"
#include "protocol/adapter/srom_info.h"
#include "sim/adapter/control_server.h"
#include "tests/support/child_process.h"
#include "tests/support/sim_process.h"

using namespace orv::testing;
using namespace std::chrono_literals;

namespace {

class WallServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.Path().empty());
        root_ = tmp_.Path();
        std::filesystem::create_directories(root_ + "/run");
        std::filesystem::create_directories(root_ + "/systemctl");
        env_ = {{"ORV_ROOT", root_},
                {"ORV_RUNTIME_DIR", root_ + "/run"},
                {"ORV_IPC_NAMESPACE", "wall" + std::to_string(getpid())},
                {"ORV_SYSTEMCTL", FAKE_SYSTEMCTL},
                {"FAKE_SYSTEMCTL_STATE", root_ + "/systemctl"}};
    }
    void TearDown() override {
        if (service_) StopService();
        if (sim_) {
            sim_->Signal(SIGTERM);
            sim_->Wait(10s);
        }
    }

    void InstallFirmware(const std::string& version, int layout) {
        RunResult r = orv::testing::Run(
            {FWTOOL, "install", root_, "--version", version, "--layout", std::to_string(layout)},
            env_);
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }

    // Starts the simulator with `adapters` (a JSON array) and waits for its
    // control socket.
    void StartSim(const std::string& adapters) {
        const std::string config = root_ + "/sim.json";
        std::ofstream(config) << R"({"bus": ")" << root_ << R"(/run/usb", "rom_dir": ")" << root_
                              << R"(/rom", "control": ")" << Control() << R"(", "adapters": )"
                              << adapters << "}";
        std::filesystem::create_directories(root_ + "/rom");
        sim_ = StartSimulator(SIMULATOR, config, env_, Control());
        ASSERT_TRUE(sim_) << "simulator did not answer";
    }
    std::string Control() const { return root_ + "/run/sim.ctl"; }
    std::string Sim(const std::string& command) {
        return orv::sim::AskSimulator(Control(), command);
    }
    std::uint64_t Violations(const std::string& adapter) {
        const std::string answer = Sim("violations " + adapter);
        EXPECT_EQ(answer.rfind("ok ", 0), 0u) << answer;
        return answer.size() > 3 ? std::stoull(answer.substr(3)) : ~0ull;
    }

    void StartService() {
        service_ = std::make_unique<ChildProcess>(std::vector<std::string>{ZENTRELLE}, env_);
        ASSERT_TRUE(service_->Started());
    }
    void StopService() {
        service_->Signal(SIGTERM);
        // The worker ends its current 10-second step; the stop then settles
        // for 2 s and releases every monitor.
        const std::optional<int> code = service_->Wait(40s);
        EXPECT_EQ(code, 0);
        service_.reset();
    }

    std::string Log() const {
        return ReadFile(root_ + "/var/log/orv-videowall/ServiceManager.log.txt");
    }
    std::size_t Count(const std::string& needle) const {
        const std::string text = Log();
        std::size_t n = 0;
        for (auto pos = text.find(needle); pos != std::string::npos;
             pos = text.find(needle, pos + 1))
            ++n;
        return n;
    }
    bool WaitCount(const std::string& needle, std::size_t n,
                   std::chrono::milliseconds timeout = 30s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Count(needle) >= n) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    orv::platform::Profile Config() const {
        return orv::platform::Profile(root_ + "/var/lib/orv-videowall/ORVVideoWallConfigFile.ini");
    }
    int SavedId(const std::string& monitorName) const {
        const std::string v = Config().GetString(monitorName, "Monitor_Id");
        return v.empty() ? 0 : std::stoi(v);
    }

    std::vector<std::uint8_t> Rom(const std::string& adapter) const {
        std::ifstream in(root_ + "/rom/" + adapter + ".srom", std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::uint8_t> Image(const std::string& file) const {
        std::ifstream in(root_ + "/usr/share/orv-videowall/firmware/" + file, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    TempDir tmp_;
    std::string root_;
    std::map<std::string, std::string> env_;
    std::unique_ptr<ChildProcess> sim_;
    std::unique_ptr<ChildProcess> service_;
};

const char kPlugIn[] = "--ORVPlugInMonitor::MonitorID=";

}  // namespace

TEST_F(WallServiceTest, MonitorNumbersSurviveReplugDetachAndRestart) {
    InstallFirmware("00.00.1400.0001", 1);
    StartSim(R"([
      {"name": "a0", "identity": "ORV-INTEG-ADAPTER-A", "monitors": [{"port": 1}, {"port": 4}]},
      {"name": "a1", "identity": "ORV-INTEG-ADAPTER-B", "monitors": [{"port": 1}]}])");
    StartService();
    ASSERT_TRUE(WaitCount(kPlugIn, 3)) << Log();
    const int a1 = SavedId("ORV-INTEG-ADAPTER-A1"), a4 = SavedId("ORV-INTEG-ADAPTER-A4"),
              b1 = SavedId("ORV-INTEG-ADAPTER-B1");
    EXPECT_EQ((std::set<int>{a1, a4, b1}), (std::set<int>{1, 2, 3}));

    // Unplugged and plugged back: the same number.
    EXPECT_EQ(Sim("unplug a0 4").rfind("ok", 0), 0u);
    ASSERT_TRUE(WaitCount("--ORVPlugOutMonitor,monitorID=" + std::to_string(a4) + "--", 1))
        << Log();
    EXPECT_EQ(Sim("plug a0 4").rfind("ok", 0), 0u);
    ASSERT_TRUE(WaitCount(kPlugIn + std::to_string(a4) + "--", 2)) << Log();

    // A detached adapter takes its monitor along; attached again, it is back
    // with its number.
    EXPECT_EQ(Sim("detach a1"), "ok");
    ASSERT_TRUE(WaitCount("--COvwDeviceManager::USBAdapterPlugOut()--", 1)) << Log();
    EXPECT_EQ(Sim("attach a1"), "ok");
    ASSERT_TRUE(WaitCount(kPlugIn + std::to_string(b1) + "--", 2)) << Log();
    StopService();
    EXPECT_EQ(Config().GetString("MONITOR_ID_CONTAINER", "Container"),
              "07" + std::string(254, '0'));

    // Restarted, every monitor gets its number again from the file.
    const std::size_t before = Count(kPlugIn);
    StartService();
    ASSERT_TRUE(WaitCount(kPlugIn, before + 3)) << Log();
    const std::string log = Log();
    const std::string tail = log.substr(log.rfind("Service start."));
    for (int id : {1, 2, 3})
        EXPECT_NE(tail.find(kPlugIn + std::to_string(id) + "--"), std::string::npos) << id;
    EXPECT_EQ(SavedId("ORV-INTEG-ADAPTER-A4"), a4);
    StopService();
    EXPECT_EQ(Violations("a0"), 0u);
    EXPECT_EQ(Violations("a1"), 0u);
}

TEST_F(WallServiceTest, FirmwareIsUpdatedIntoTheSerialRomOrRefused) {
    InstallFirmware("00.00.1400.0002", 1);
    // Enumerated in name order; the refused adapter comes last, since a
    // failed start ends the enumeration.
    StartSim(R"([
      {"name": "full", "firmware_version": "v 00.00.1400.0001", "layout_version": 2, "monitors": [{"port": 1}]},
      {"name": "fwonly", "firmware_version": "v 00.00.1400.0001", "layout_version": 1, "monitors": [{"port": 1}]},
      {"name": "zother", "firmware_version": "v 00.00.1399.0001", "monitors": [{"port": 1}]}])");
    StartService();
    ASSERT_TRUE(WaitCount("FW version is not valid, not support current host software.\n", 1, 60s))
        << Log();
    ASSERT_TRUE(WaitCount(kPlugIn, 2)) << Log();
    StopService();
    EXPECT_EQ(Count("Firmware full update successful.\n"), 1u);
    EXPECT_EQ(Count("--COvwAdapter::UpdateFWOnly(), result=1.--\n"), 1u);
    EXPECT_EQ(Count("- Get version error -\n"), 1u);
    EXPECT_EQ(Count(kPlugIn), 2u);  // the refused adapter's monitor never came

    using orv::adapter::SromInfo;
    auto info = [](const std::vector<std::uint8_t>& rom, std::size_t at) {
        return SromInfo::Parse(orv::bytes::Slice(rom, at, orv::adapter::kSromInfoSize));
    };
    auto regionBytes = [](const std::vector<std::uint8_t>& rom, const orv::adapter::SromRegion& r) {
        const auto s = orv::bytes::Slice(rom, r.address, r.writtenSize);
        return std::vector<std::uint8_t>(s.begin(), s.end());
    };

    // Firmware only: the main image into the inactive slot (region 4), which
    // becomes active, in both copies of the information structure.
    const std::vector<std::uint8_t> fwonly = Rom("fwonly");
    auto main = info(fwonly, orv::adapter::kSromInfoAddress);
    auto backup = info(fwonly, orv::adapter::kSromInfoBackupAddress);
    ASSERT_TRUE(main && backup);
    EXPECT_TRUE(main->ChecksumValid());
    EXPECT_EQ(main->Bytes(), backup->Bytes());
    EXPECT_EQ(main->ActiveSlot(), 2);
    EXPECT_EQ(regionBytes(fwonly, main->Region(orv::adapter::kRegionMainSlot2)),
              Image("USBDisplay.bin"));

    // Full update: every image in its region, slot 1 active.
    const std::vector<std::uint8_t> full = Rom("full");
    auto fullInfo = info(full, orv::adapter::kSromInfoAddress);
    ASSERT_TRUE(fullInfo);
    EXPECT_TRUE(fullInfo->ChecksumValid());
    EXPECT_EQ(fullInfo->Bytes(), info(full, orv::adapter::kSromInfoBackupAddress)->Bytes());
    EXPECT_EQ(fullInfo->ActiveSlot(), 1);
    EXPECT_EQ(regionBytes(full, fullInfo->Region(0)), Image("Bootloader0.bin"));
    EXPECT_EQ(regionBytes(full, fullInfo->Region(1)), Image("Bootloader1.bin"));
    EXPECT_EQ(regionBytes(full, fullInfo->Region(2)), Image("Firmware0.bin"));
    EXPECT_EQ(regionBytes(full, fullInfo->Region(3)), Image("USBDisplay.bin"));
    for (const char* a : {"full", "fwonly", "zother"}) EXPECT_EQ(Violations(a), 0u) << a;
}

TEST_F(WallServiceTest, UnusableEdidIsRetriedThenReportedAbsentAndTheMonitorStillWorks) {
    InstallFirmware("00.00.1400.0001", 1);
    // One output, plugged only once the adapter runs, so that each plug-in
    // is the only EDID reader.
    StartSim(
        R"([{"name": "e0", "identity": "ORV-INTEG-EDID", "monitors": [{"port": 1, "plugged": false}]}])");
    StartService();
    ASSERT_TRUE(WaitCount("- Finish Get version-caps-modelist -\n", 1)) << Log();

    // Four bad replies: three retries, then no EDID; the monitor is numbered.
    EXPECT_EQ(Sim("corrupt-edid e0 checksum 4"), "ok");
    EXPECT_EQ(Sim("plug e0 1").rfind("ok", 0), 0u);
    ASSERT_TRUE(WaitCount(kPlugIn, 1)) << Log();
    EXPECT_EQ(Count("= COrfgView Construction: Query EDID: Try get EDID from HW =\n"), 3u);
    EXPECT_EQ(
        Count("= COrfgView Construction: Query EDID: HW EDID is also illegal, report non-EDID =\n"),
        1u);
    EXPECT_EQ(SavedId("ORV-INTEG-EDID1"), 1);

    // One bad size: retried once, then read.
    EXPECT_EQ(Sim("unplug e0 1").rfind("ok", 0), 0u);
    ASSERT_TRUE(WaitCount("--ORVPlugOutMonitor,monitorID=1--", 1)) << Log();
    EXPECT_EQ(Sim("corrupt-edid e0 size"), "ok");
    EXPECT_EQ(Sim("plug e0 1").rfind("ok", 0), 0u);
    ASSERT_TRUE(WaitCount(kPlugIn, 2)) << Log();
    EXPECT_EQ(Count("= COrfgView Construction: Query EDID: Try get EDID from HW =\n"), 4u);
    EXPECT_EQ(Count("report non-EDID"), 1u);
    EXPECT_EQ(Violations("e0"), 0u);
}
