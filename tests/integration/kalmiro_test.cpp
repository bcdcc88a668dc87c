// The kalmiro program as a process on the offscreen platform: one instance
// at a time, and a start against a service (the fake control service, with a
// process named like the service beside it).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/process.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_control_service.h"

using namespace orv;
using namespace orv::testing;
using namespace std::chrono_literals;

namespace {

class KalmiroProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.Path().empty());
        env_ = {{"XDG_RUNTIME_DIR", tmp_.Path()}, {"QT_QPA_PLATFORM", "offscreen"}};
    }
    // kalmiro started in the private folder, where it keeps Language.ini.
    std::vector<std::string> Command() const {
        return {"/bin/sh", "-c", "cd '" + tmp_.Path() + "' && exec '" KALMIRO "'"};
    }

    TempDir tmp_;
    std::map<std::string, std::string> env_;
};

TEST_F(KalmiroProcess, ASecondInstanceEndsAtOnceWithoutAWindow) {
    ASSERT_EQ(setenv("XDG_RUNTIME_DIR", tmp_.Path().c_str(), 1), 0);
    const auto first = platform::SingleInstanceLock::Acquire("ORVVWCPL");
    ASSERT_NE(first, nullptr);
    const RunResult r = orv::testing::Run(Command(), env_, 20s);
    EXPECT_EQ(r.exitCode, 0);
    // It ended before reading (and so creating) the language file.
    EXPECT_FALSE(std::filesystem::exists(tmp_.File("Language.ini")));
}

TEST_F(KalmiroProcess, GreetsAndLoadsWallsAndMonitorsFromTheService) {
    test::FakeControlService service;
    // The panel looks for the service's process by name before connecting.
    const std::string stand = tmp_.File("zentrelle");
    std::filesystem::copy_file("/bin/sleep", stand);
    ChildProcess named({stand, "60"}, {});
    ASSERT_TRUE(named.Started());

    env_["ORV_CONTROL_PORT"] = std::to_string(service.Port());
    ChildProcess panel(Command(), env_);
    ASSERT_TRUE(panel.Started());
    ASSERT_TRUE(service.WaitForRequests(4));
    const auto requests = service.Requests();
    EXPECT_EQ(requests[0], control::Request(control::Hello{}));
    EXPECT_EQ(requests[1], control::Request(control::GetEncodeMode{}));
    EXPECT_EQ(requests[2], control::Request(control::GetWalls{}));
    EXPECT_EQ(requests[3], control::Request(control::GetMonitors{}));
    EXPECT_EQ(ReadFile(tmp_.File("Language.ini")), std::string("English\0", 8));
    panel.Signal(SIGKILL);
    named.Signal(SIGKILL);
}

}  // namespace
