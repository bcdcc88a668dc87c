// The zentrelle program as a process: command line, installer against the
// systemctl stand-in, foreground run and stop, status reports to systemd.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/support/child_process.h"

using namespace orv::testing;
using namespace std::chrono_literals;

namespace {

const std::string kUsage =
    "Parameters:\n -install  to install the service.\n -remove   to remove the service.\n";
const std::string kUnit = "orv-video-wall-manager.service";

class ZentrelleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.Path().empty());
        state_ = tmp_.Path() + "/systemctl";
        std::filesystem::create_directories(state_);
        env_ = {{"ORV_ROOT", tmp_.Path()},
                {"ORV_RUNTIME_DIR", tmp_.Path() + "/run"},
                {"ORV_SYSTEMCTL", FAKE_SYSTEMCTL},
                {"ORV_UDEVADM", "true"},
                {"FAKE_SYSTEMCTL_STATE", state_}};
    }
    RunResult Zentrelle(const std::string& arg) {
        return orv::testing::Run({ZENTRELLE, arg}, env_);
    }
    std::string UnitFile() const { return tmp_.Path() + "/etc/systemd/system/" + kUnit; }
    std::string UdevRuleFile() const {
        return tmp_.Path() + "/etc/udev/rules.d/70-orv-videowall.rules";
    }
    void Touch(const std::string& name, const std::string& content = "") {
        std::ofstream(state_ + "/" + name) << content;
    }

    TempDir tmp_;
    std::string state_;
    std::map<std::string, std::string> env_;
};

}  // namespace

TEST_F(ZentrelleTest, UnknownSwitchExitsSilently) {
    for (const char* arg : {"-foo", "/x", "-", "--install"}) {
        RunResult r = Zentrelle(arg);
        EXPECT_EQ(r.exitCode, 0) << arg;
        EXPECT_EQ(r.output, "") << arg;
    }
}

TEST_F(ZentrelleTest, InstallWritesAnEnabledNotifyUnitOnceInAnyCaseOrPrefix) {
    RunResult r = Zentrelle("/INSTALL");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "ORV Video Wall Manager is installed.\n");
    const std::string unit = ReadFile(UnitFile());
    EXPECT_NE(unit.find("Type=notify\n"), std::string::npos);
    EXPECT_NE(unit.find(std::string("ExecStart=") + std::filesystem::canonical(ZENTRELLE).string() +
                        "\n"),
              std::string::npos);
    EXPECT_NE(ReadFile(state_ + "/calls.log").find("enable " + kUnit), std::string::npos);
    // The udev rule comes with the unit.
    const std::string rule = ReadFile(UdevRuleFile());
    EXPECT_NE(rule.find("ATTR{idVendor}==\"3f7a\", ATTR{idProduct}==\"5e21\""), std::string::npos);
    EXPECT_NE(rule.find("TAG+=\"systemd\""), std::string::npos);

    // A second install meets the existing unit: ERROR_SERVICE_EXISTS.
    r = Zentrelle("-Install");
    EXPECT_EQ(r.output, "CreateService failed w/err 0x00000431\n");
}

TEST_F(ZentrelleTest, InstallThatCannotWriteTheUdevRuleLeavesNoUnit) {
    std::filesystem::create_directories(tmp_.Path() + "/etc");
    std::ofstream(tmp_.Path() + "/etc/udev") << "a file where the rules folder should go";
    RunResult r = Zentrelle("-install");
    EXPECT_EQ(r.output, "CreateService failed w/err 0x00000005\n");
    EXPECT_FALSE(std::filesystem::exists(UnitFile()));
    EXPECT_EQ(ReadFile(state_ + "/calls.log").find("enable"), std::string::npos);
}

TEST_F(ZentrelleTest, InstallReportsAnUnreachableServiceManager) {
    Touch("fail---version");
    RunResult r = Zentrelle("-install");
    EXPECT_EQ(r.output, "OpenSCManager failed w/err 0x00000427\n");
    EXPECT_FALSE(std::filesystem::exists(UnitFile()));
}

TEST_F(ZentrelleTest, RemoveStopsARunningServiceWithOneDotPerSecond) {
    ASSERT_EQ(Zentrelle("-install").exitCode, 0);
    // Active when asked, then two seconds of stopping, then stopped.
    Touch(kUnit + ".active", "active\ndeactivating\ndeactivating\ninactive\n");
    RunResult r = Zentrelle("-remove");
    EXPECT_EQ(r.output,
              "Stopping ORV Video Wall Manager...\n"
              "ORV Video Wall Manager is stopped.\n"
              "ORV Video Wall Manager is removed.\n");
    EXPECT_FALSE(std::filesystem::exists(UnitFile()));
    EXPECT_FALSE(std::filesystem::exists(UdevRuleFile()));
    EXPECT_NE(ReadFile(state_ + "/calls.log").find("disable " + kUnit), std::string::npos);
}

TEST_F(ZentrelleTest, RemoveOfAStoppedOrUnknownService) {
    RunResult r = Zentrelle("-remove");
    EXPECT_EQ(r.output, "OpenService failed w/err 0x00000424\n");
    ASSERT_EQ(Zentrelle("-install").exitCode, 0);
    r = Zentrelle("/REMOVE");
    EXPECT_EQ(r.output, "ORV Video Wall Manager is removed.\n");
}

TEST_F(ZentrelleTest, RunsInForegroundReportsToSystemdAndStopsOnSigterm) {
    // A notification socket like systemd's, to see READY and STOPPING.
    const std::string notifyPath = tmp_.Path() + "/notify";
    const int notifyFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, notifyPath.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(0, bind(notifyFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    env_["NOTIFY_SOCKET"] = notifyPath;

    // Without a prefix the word is not a switch: usage, then the service.
    ChildProcess service({ZENTRELLE, "install"}, env_);
    ASSERT_TRUE(service.Started());
    const std::string log = tmp_.Path() + "/var/log/orv-videowall/ServiceManager.log.txt";
    ASSERT_TRUE(WaitForFileContaining(log, "Service start.\n", 10s));
    service.Signal(SIGTERM);
    // The worker finishes its current 10-second step, plus 2 s of settling.
    const std::optional<int> code = service.Wait(30s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0);
    EXPECT_EQ(service.Output().rfind(kUsage, 0), 0u) << service.Output();

    const std::string text = ReadFile(log);
    const std::regex lines(
        R"(^\d{4}-\d{1,2}-\d{1,2}-\d{1,2}-\d{1,2}-\d{1,2}-\d{1,3}: Service start\.\n\r\n)"
        R"([\s\S]*\n\d{4}-\d{1,2}-\d{1,2}-\d{1,2}-\d{1,2}-\d{1,2}-\d{1,3}: Service stop\.\n\r\n[\s\S]*$)");
    EXPECT_TRUE(std::regex_match(text, lines)) << text;

    std::string notices;
    char buf[512];
    ssize_t n;
    while ((n = recv(notifyFd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
        notices.append(buf, n).append("|");
    close(notifyFd);
    const auto ready = notices.find("READY=1");
    const auto stopping = notices.find("STOPPING=1");
    ASSERT_NE(ready, std::string::npos) << notices;
    ASSERT_NE(stopping, std::string::npos) << notices;
    EXPECT_LT(ready, stopping);
    EXPECT_NE(notices.find("STATUS=Stopped (exit code 0)"), std::string::npos) << notices;
}

// The unit as systemd reads it: every key known and every value valid.
// systemd-analyze reports unknown keys as warnings with exit code 0, so any
// line naming the unit file fails the test.
TEST_F(ZentrelleTest, InstalledUnitPassesSystemdAnalyzeVerify) {
    const char* analyze = "/usr/bin/systemd-analyze";
    if (access(analyze, X_OK) != 0) GTEST_SKIP() << "no " << analyze;
    ASSERT_EQ(Zentrelle("-install").exitCode, 0);
    const std::string unit = ReadFile(UnitFile());
    EXPECT_NE(unit.find("Restart=on-failure\n"), std::string::npos);
    EXPECT_NE(unit.find("ProtectSystem=full\n"), std::string::npos);
    EXPECT_NE(unit.find("DeviceAllow=char-usb_device rw\n"), std::string::npos);

    RunResult r = orv::testing::Run({analyze, "verify", UnitFile()}, {});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.find(kUnit), std::string::npos) << r.output;
}
