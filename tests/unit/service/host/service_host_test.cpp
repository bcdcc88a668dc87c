// The service skeleton: state wrappers, control handler, worker and the
// companion-service check.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "platform/service_host.h"
#include "service/host/sample_service.h"
#include "service/host/zentrelle.h"
#include "service/log/logger.h"
#include "tests/support/temp_dir.h"

using namespace orv::host;
using namespace orv::platform;
using namespace std::chrono_literals;

namespace {

struct FakeDeviceManager : IDeviceManagerHost {
    std::atomic<int> starts{0}, stops{0};
    std::vector<std::string> pluggedIn, pluggedOut;
    void Start() override { ++starts; }
    void Stop() override { ++stops; }
    int USBAdapterPlugIn(const std::string& p) override {
        pluggedIn.push_back(p);
        return 1;
    }
    int USBAdapterPlugOut(const std::string& p) override {
        pluggedOut.push_back(p);
        return 1;
    }
};

// A service whose hooks fail on demand and record the status they ran under.
class ScriptedService : public CServiceBase {
public:
    ScriptedService() : CServiceBase("Scripted", nullptr, nullptr) {}
    std::function<void()> onStart = [] {}, onStop = [] {};
    ServiceStatus seenInStart, seenInStop;

protected:
    void OnStart(int, char**) override {
        seenInStart = Status();
        onStart();
    }
    void OnStop() override {
        seenInStop = Status();
        onStop();
    }
};

// A private folder for the files the host writes and the systemctl stand-in.
class HostEnv : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root_ / "systemctl");
        setenv("ORV_ROOT", root_.c_str(), 1);
        setenv("ORV_SYSTEMCTL", FAKE_SYSTEMCTL, 1);
        setenv("FAKE_SYSTEMCTL_STATE", (root_ / "systemctl").c_str(), 1);
    }
    void Fake(const std::string& name, const std::string& content) {
        std::ofstream(root_ / "systemctl" / name) << content;
    }
    std::string Calls() {
        std::ifstream in(root_ / "systemctl" / "calls.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    orv::test::TempDir tmp_;
    const std::filesystem::path root_{tmp_.Path()};
};

const std::string kAssistant = "zentrelle-assistant.service";

}  // namespace

TEST(ServiceBase, WrappersReportPendingThenFinalStatesWithCheckPoints) {
    ScriptedService s;
    s.Start(0, nullptr);
    EXPECT_EQ(s.seenInStart.currentState, kServiceStartPending);
    EXPECT_GT(s.seenInStart.checkPoint, 0u);
    EXPECT_EQ(s.Status().currentState, kServiceRunning);
    EXPECT_EQ(s.Status().checkPoint, 0u);
    EXPECT_EQ(s.Status().controlsAccepted, kServiceAcceptStop | kServiceAcceptShutdown);

    s.Stop();
    EXPECT_EQ(s.seenInStop.currentState, kServiceStopPending);
    EXPECT_GT(s.seenInStop.checkPoint, s.seenInStart.checkPoint);
    EXPECT_EQ(s.Status().currentState, kServiceStopped);
}

TEST(ServiceBase, FailingHooksRestoreOrStopWithTheThrownCode) {
    ScriptedService s;
    s.onStart = [] { throw std::uint32_t{5}; };
    s.Start(0, nullptr);
    EXPECT_EQ(s.Status().currentState, kServiceStopped);
    EXPECT_EQ(s.Status().win32ExitCode, 5u);

    ScriptedService t;
    t.onStart = [] { throw std::runtime_error("no code"); };
    t.Start(0, nullptr);
    EXPECT_EQ(t.Status().currentState, kServiceStopped);
    EXPECT_EQ(t.Status().win32ExitCode, 0u);

    ScriptedService u;
    u.Start(0, nullptr);
    u.onStop = [] { throw std::uint32_t{0x1234}; };
    u.Stop();  // the state held before the stop request comes back
    EXPECT_EQ(u.Status().currentState, kServiceRunning);
    u.onStop = [] { throw 1.5; };
    u.Stop();
    EXPECT_EQ(u.Status().currentState, kServiceRunning);
}

TEST(ServiceBase, ControlHandlerActsOnAdapterInterfaceEventsOnly) {
    FakeDeviceManager manager;
    CSampleService service("Filter", &manager, nullptr, {0ms, 1ms, 0ms});
    DeviceBroadcast arrival{kDbtDeviceArrival, kDbtDevtypDeviceInterface, kAdapterInterfaceClass,
                            "/run/usb/A.sock"};
    EXPECT_EQ(CServiceBase::ServiceCtrlHandler(kControlDeviceEvent, kDbtDeviceArrival, &arrival),
              0u);
    DeviceBroadcast otherType = arrival;
    otherType.deviceType = 3;
    CServiceBase::ServiceCtrlHandler(kControlDeviceEvent, kDbtDeviceArrival, &otherType);
    DeviceBroadcast otherClass = arrival;
    otherClass.classGuid.data4[7] ^= 1;
    CServiceBase::ServiceCtrlHandler(kControlDeviceEvent, kDbtDeviceArrival, &otherClass);
    CServiceBase::ServiceCtrlHandler(kControlDeviceEvent, 0x8001, &arrival);  // query remove
    CServiceBase::ServiceCtrlHandler(kControlDeviceEvent, kDbtDeviceRemoveComplete, &arrival);
    CServiceBase::ServiceCtrlHandler(kControlDeviceEvent, kDbtDeviceArrival, nullptr);
    CServiceBase::ServiceCtrlHandler(99, 0, nullptr);  // unknown control: nothing
    EXPECT_EQ(manager.pluggedIn, std::vector<std::string>{"/run/usb/A.sock"});
    EXPECT_EQ(manager.pluggedOut, std::vector<std::string>{"/run/usb/A.sock"});
}

TEST_F(HostEnv, WorkerStartsTheDeviceManagerAndStopWaitsForIt) {
    FakeDeviceManager manager;
    CSampleService service("Worker", &manager, nullptr, {0ms, 5ms, 0ms});
    service.Start(0, nullptr);
    EXPECT_EQ(service.Status().currentState, kServiceRunning);
    for (int i = 0; i < 500 && manager.starts == 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(manager.starts, 1);
    service.Stop();  // returns only after the worker signalled and was joined
    EXPECT_EQ(manager.stops, 1);
    EXPECT_EQ(service.Status().currentState, kServiceStopped);
    orv::log::Logger::Instance().Flush();
    std::ifstream in(root_ / "var/log/orv-videowall/ServiceManager.log.txt");
    const std::string log(std::istreambuf_iterator<char>(in), {});
    EXPECT_LT(log.find("Service start.\n\r\n"), log.find("Service stop.\n\r\n"));
    EXPECT_NE(log.find("Service stop.\n\r\n"), std::string::npos);
}

TEST_F(HostEnv, AssistantIsStartedOnlyWhenStopped) {
    auto ensure = [] {
        ::testing::internal::CaptureStdout();
        EnsureAssistantRunning();
        return ::testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(ensure(), "OpenService failed (1060)\n");
    Fake(kAssistant + ".loaded", "");
    Fake(kAssistant + ".active", "active\n");
    EXPECT_EQ(ensure(), "Cannot start the service because it is already running\n");
    Fake(kAssistant + ".active", "failed\n");
    EXPECT_EQ(ensure(), "Service start pending...\n");
    EXPECT_NE(Calls().find("start --no-block " + kAssistant), std::string::npos);
    Fake("fail-start", "");
    Fake(kAssistant + ".active", "inactive\n");
    EXPECT_EQ(ensure(), "StartService failed (31)\n");
}

TEST_F(HostEnv, AssistantStopInProgressIsAwaitedOrTimesOut) {
    auto ensure = [] {
        ::testing::internal::CaptureStdout();
        EnsureAssistantRunning();
        return ::testing::internal::GetCapturedStdout();
    };
    Fake(kAssistant + ".loaded", "");
    // Stopping for two queries a second apart, then stopped, within the
    // 3-second stop time-out: started once the stop ends.
    Fake(kAssistant + ".timeout", "3s");
    Fake(kAssistant + ".active", "deactivating\ndeactivating\ninactive\n");
    EXPECT_EQ(ensure(), "Service start pending...\n");
    // Never leaves stop-pending: gives up after the wait hint (1 s here).
    Fake(kAssistant + ".timeout", "1s");
    Fake(kAssistant + ".active", "deactivating\n");
    EXPECT_EQ(ensure(), "Timeout waiting for service to stop\n");
    Fake("fail---version", "");
    EXPECT_EQ(ensure(), "OpenSCManager failed (1063)\n");
}

TEST(CommandLine, SwitchesNeedAPrefixAndIgnoreCase) {
    auto parse = [](std::vector<const char*> args) {
        args.insert(args.begin(), "zentrelle");
        return ParseCommandLine(static_cast<int>(args.size()), args.data());
    };
    EXPECT_EQ(parse({}), CommandAction::kRunService);
    EXPECT_EQ(parse({"-install"}), CommandAction::kInstall);
    EXPECT_EQ(parse({"/InStAlL", "extra"}), CommandAction::kInstall);
    EXPECT_EQ(parse({"-REMOVE"}), CommandAction::kRemove);
    EXPECT_EQ(parse({"install"}), CommandAction::kRunService);
    EXPECT_EQ(parse({"-installx"}), CommandAction::kIgnore);
    EXPECT_EQ(parse({"/"}), CommandAction::kIgnore);
}
