// The libusb path against simulated adapters, without hardware: the
// umockdev test bed (tests/support/umockdev_bed.h) gives libusb mocked USB
// devices served by simulated adapters.
//
// Runs under umockdev-wrapper (CTest starts it so); started otherwise it
// skips.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/diag.h"
#include "platform/net/tcp.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/usb/device_watchers.h"
#include "platform/usb/usb_interface.h"
#include "service/device/device_manager.h"
#include "service/firmware/firmware_updater.h"
#include "service/link/comm_usb.h"
#include "service/wall/ui.h"
#include "sim/driver/frame_source.h"
#include "tests/support/child_process.h"
#include "tests/support/control_panel.h"
#include "tests/support/flip_records.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/umockdev_bed.h"
#include "tools/orvfwtool/sample_images.h"

namespace {

using namespace orv;
using orv::testing::Eventually;
using orv::testing::kAdapterConfiguration;
using orv::testing::kTwoPipeConfiguration;

class LibUsbAdapterTest : public orv::testing::SimBusTest {
protected:
    void SetUp() override {
        if (const auto why = orv::testing::UsbTestbed::Unavailable()) GTEST_SKIP() << *why;
        SimBusTest::SetUp();
        bed_ = std::make_unique<orv::testing::UsbTestbed>();
    }
    void TearDown() override {
        if (!bed_) return;
        bed_.reset();
        SimBusTest::TearDown();
    }

    void AddUsbDevice(int port, const std::string& socketPath, const char* configuration) {
        ASSERT_TRUE(bed_->AddUsbDevice(port, socketPath, configuration));
    }

    std::unique_ptr<orv::testing::UsbTestbed> bed_;
};

// Collects a watcher's broadcasts for the test thread.
class Events {
public:
    void Push(const platform::DeviceBroadcast& b) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(b);
        }
        cv_.notify_all();
    }
    // The next one, or nothing after `wait`.
    std::optional<platform::DeviceBroadcast> Next(
        std::chrono::milliseconds wait = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, wait, [&] { return !events_.empty(); })) return std::nullopt;
        platform::DeviceBroadcast b = events_.front();
        events_.pop_front();
        return b;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<platform::DeviceBroadcast> events_;
};

}  // namespace

TEST_F(LibUsbAdapterTest, EnumeratesTheAdapterAndExchangesAVersionQueryOverLibUsb) {
    sim::SimAdapter& adapter = AddAdapter("real", {0x01});
    sim::SimAdapter& other = AddAdapter("other", {});
    AddUsbDevice(1, BusPath("real"), kAdapterConfiguration);
    AddUsbDevice(2, BusPath("other"), kTwoPipeConfiguration);

    // Both carry the adapter ids; only the one with the four pipes counts.
    const auto watcher = platform::CreateLibUsbDeviceWatcher();
    ASSERT_EQ(watcher->Enumerate(), std::vector<std::string>{"libusb:1-1"});

    link::COvwCommUSB link;
    ASSERT_EQ(link.Connect("libusb:1-1"), 0);
    std::string version;
    EXPECT_EQ(orv::testing::QueryVersionOnly(link, version), 0);
    EXPECT_EQ(version, "v 00.00.1400.0001");
    link.Disconnect();

    EXPECT_GE(bed_->Node(1).Submitted(), 2u);
    EXPECT_EQ(adapter.Stats().violations, 0u);
    EXPECT_EQ(other.Stats().packets, 0u);
}

TEST_F(LibUsbAdapterTest, HotplugReportsAdaptersArrivingAndLeavingAndNothingElse) {
    AddAdapter("real", {0x01});
    AddAdapter("other", {});
    const auto watcher = platform::CreateLibUsbDeviceWatcher();
    Events events;
    ASSERT_TRUE(watcher->Start([&](const platform::DeviceBroadcast& b) { events.Push(b); }));

    AddUsbDevice(2, BusPath("other"), kTwoPipeConfiguration);
    bed_->Uevent(2, "add");
    AddUsbDevice(1, BusPath("real"), kAdapterConfiguration);
    bed_->Uevent(1, "add");
    auto e = events.Next();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->eventType, platform::kDbtDeviceArrival);
    EXPECT_EQ(e->name, "libusb:1-1");
    EXPECT_EQ(e->classGuid, platform::kAdapterInterfaceClass);

    // The path the arrival named is what the link opens.
    link::COvwCommUSB link;
    ASSERT_EQ(link.Connect(e->name), 0);
    link.Disconnect();

    bed_->RemoveUsbDevice(2);
    bed_->RemoveUsbDevice(1);
    e = events.Next();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->eventType, platform::kDbtDeviceRemoveComplete);
    EXPECT_EQ(e->name, "libusb:1-1");
    watcher->Stop();
    EXPECT_FALSE(events.Next(std::chrono::milliseconds(0)));
}

// A stalled pipe breaks the link at once, IN or OUT: nothing more reaches
// the device. A new link clears the halts (its setup resets every pipe) and
// works again.
TEST_F(LibUsbAdapterTest, AStallOrAVanishedDeviceBreaksTheLinkAtOnce) {
    sim::SimAdapter& adapter = AddAdapter("real", {0x01});
    AddUsbDevice(1, BusPath("real"), kAdapterConfiguration);

    for (const std::uint8_t stalled : {adapter::kPipeInReply, adapter::kPipeOutCommands}) {
        link::COvwCommUSB link;
        ASSERT_EQ(link.Connect("libusb:1-1"), 0);
        EXPECT_FALSE(bed_->Node(1).Halted(stalled));
        bed_->Node(1).Stall(stalled);
        std::string version;
        EXPECT_NE(orv::testing::QueryVersionOnly(link, version), 0);
        EXPECT_TRUE(link.LinkBroken());
        const std::uint64_t submitted = bed_->Node(1).Submitted();
        adapter::Packet query = adapter::BuildVersionQuery(adapter::kVersionFirmware);
        std::uint32_t length = static_cast<std::uint32_t>(query.size());
        EXPECT_EQ(link.Write(adapter::kPipeOutCommands, query.data(), length), -1);
        EXPECT_EQ(bed_->Node(1).Submitted(), submitted);
        link.Disconnect();
    }
    link::COvwCommUSB fresh;
    ASSERT_EQ(fresh.Connect("libusb:1-1"), 0);
    EXPECT_FALSE(bed_->Node(1).Halted(adapter::kPipeOutCommands));
    std::string version;
    EXPECT_EQ(orv::testing::QueryVersionOnly(fresh, version), 0);
    fresh.Disconnect();
    EXPECT_EQ(adapter.Stats().violations, 0u);

    // The notification reader waits on 0x81 when the adapter goes.
    link::COvwCommUSB link;
    ASSERT_EQ(link.Connect("libusb:1-1"), 0);
    std::atomic<int> result{1};
    std::thread reader([&] {
        std::vector<std::uint8_t> buffer(1 << 20);
        std::uint32_t length = 0;
        do {
            length = static_cast<std::uint32_t>(buffer.size());
            result = link.Read(0x81, buffer.data(), length);
        } while (result == 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    bed_->Node(1).Vanish();
    reader.join();
    EXPECT_EQ(result, -1);
    // Not the three read time-outs: the device's absence ends the read.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    std::uint8_t byte = 0;
    std::uint32_t length = 1;
    EXPECT_EQ(link.Write(0x02, &byte, length), -1);
    link.Disconnect();
}

TEST_F(LibUsbAdapterTest, AReadThatTimesOutIsCancelledAndThePipeStaysUsable) {
    sim::SimAdapter& adapter = AddAdapter("real", {});
    AddUsbDevice(1, BusPath("real"), kAdapterConfiguration);
    auto usb = usb::CreateInterfaceFor("libusb:1-1");
    ASSERT_TRUE(usb->Open("libusb:1-1") && usb->Initialize());
    ASSERT_TRUE(usb->SetCurrentAlternateSetting(0));
    ASSERT_TRUE(usb->SetPipePolicy(0x82, usb::PipePolicy::kPipeTransferTimeout, 100));
    std::vector<std::uint8_t> reply(adapter::kVersionReplyBuffer);
    std::uint32_t got = 0;
    // Nothing was asked: no reply comes.
    EXPECT_FALSE(usb->ReadPipe(0x82, reply.data(), static_cast<std::uint32_t>(reply.size()), got));
    EXPECT_EQ(usb::LastError(), platform::kErrorSemTimeout);

    // The reply comes however loaded the machine is.
    ASSERT_TRUE(usb->SetPipePolicy(0x82, usb::PipePolicy::kPipeTransferTimeout, 3000));
    const adapter::Packet query = adapter::BuildVersionQuery(adapter::kVersionFirmware);
    std::uint32_t sent = 0;
    ASSERT_TRUE(usb->WritePipe(0x02, query.data(), static_cast<std::uint32_t>(query.size()), sent));
    EXPECT_EQ(sent, query.size());
    ASSERT_TRUE(usb->ReadPipe(0x82, reply.data(), static_cast<std::uint32_t>(reply.size()), got));
    EXPECT_EQ(adapter::CheckVersionReply(0, bytes::ConstBytes(reply).first(got),
                                         adapter::kVersionFirmware),
              adapter::ReplyFault::kNone);
    usb->Free();
    EXPECT_EQ(adapter.Stats().violations, 0u);
}

// The device manager with the service's libusb watcher: the adapter present
// at start and one arriving later come up with their monitors numbered; the
// late one leaves again on its removal.
TEST_F(LibUsbAdapterTest, TheDeviceManagerRunsAdaptersOverLibUsb) {
    sim::SimAdapter& early = AddAdapter("early", {0x01, 0x04});
    sim::SimAdapter& late = AddAdapter("late", {0x01});
    AddUsbDevice(1, BusPath("early"), kAdapterConfiguration);
    const auto watcher = platform::CreateLibUsbDeviceWatcher();
    Events events;
    ASSERT_TRUE(watcher->Start([&](const platform::DeviceBroadcast& b) { events.Push(b); }));

    device::DeviceManagerServices services;
    services.enumerate = [&] { return watcher->Enumerate(); };
    services.versionCheck = orv::testing::QueryVersionOnly;
    services.compressionCode = [] { return 224u; };
    services.batchDelay = std::chrono::milliseconds(1);
    services.makeWall = [] { return std::make_unique<wall::COvwUI>(platform::ConfigFilePath()); };
    device::COvwDeviceManager manager(std::move(services));
    manager.Start();
    ASSERT_EQ(manager.AdapterCount(), 1u);
    ASSERT_NE(manager.AdapterByPath("libusb:1-1"), nullptr);
    EXPECT_TRUE(Eventually([&] { return manager.Wall()->MonitorById(2) != nullptr; }));

    AddUsbDevice(2, BusPath("late"), kAdapterConfiguration);
    bed_->Uevent(2, "add");
    auto e = events.Next();
    ASSERT_TRUE(e);
    ASSERT_EQ(e->eventType, platform::kDbtDeviceArrival);
    EXPECT_EQ(manager.USBAdapterPlugIn(e->name), 1);
    EXPECT_EQ(manager.AdapterCount(), 2u);
    EXPECT_TRUE(Eventually([&] { return manager.Wall()->MonitorById(3) != nullptr; }));

    bed_->RemoveUsbDevice(2);
    e = events.Next();
    ASSERT_TRUE(e);
    ASSERT_EQ(e->eventType, platform::kDbtDeviceRemoveComplete);
    EXPECT_EQ(manager.USBAdapterPlugOut(e->name), 1);
    EXPECT_EQ(manager.AdapterCount(), 1u);
    EXPECT_TRUE(Eventually([&] { return manager.Wall()->MonitorById(3) == nullptr; }));

    // Plugged in again, the late adapter's monitor gets its number back.
    ASSERT_TRUE(bed_->AddUsbDevice(2, BusPath("late"), kAdapterConfiguration));
    bed_->Uevent(2, "add");
    e = events.Next();
    ASSERT_TRUE(e);
    ASSERT_EQ(e->eventType, platform::kDbtDeviceArrival);
    EXPECT_EQ(manager.USBAdapterPlugIn(e->name), 1);
    EXPECT_TRUE(Eventually([&] { return manager.Wall()->MonitorById(3) != nullptr; }));
    EXPECT_EQ(manager.Wall()->MonitorById(4), nullptr);

    manager.Stop();
    watcher->Stop();
    EXPECT_EQ(early.Stats().violations, 0u) << early.RecentViolations().front();
    EXPECT_EQ(late.Stats().violations, 0u) << late.RecentViolations().front();
}

// A full serial-ROM update (erase, page writes, read-back) over libusb: the
// adapter reports the new version and saw no protocol violation.
TEST_F(LibUsbAdapterTest, TheSampleFirmwareUpdatesAnAdapterOverLibUsb) {
    sim::SimConfig config;
    config.busDir = (root_ / "usb").string();
    config.romDir = (root_ / "rom").string();
    config.adapters.push_back({});
    config.adapters[0].name = "fw";
    std::string error;
    ASSERT_TRUE(sim::FinishConfig(config, &error)) << error;
    auto adapter = sim::SimAdapter::Create(config.adapters[0], 0, config.busDir, &error);
    ASSERT_TRUE(adapter && adapter->Attach(&error)) << error;
    AddUsbDevice(1, BusPath("fw"), kAdapterConfiguration);
    ASSERT_TRUE(fwtool::Install(platform::DefaultFirmwareDir(), platform::RegistryFilePath(),
                                "00.00.1400.0003", 2, &error))
        << error;

    link::COvwCommUSB link;
    ASSERT_EQ(link.Connect("libusb:1-1"), 0);
    std::string version;
    EXPECT_EQ(firmware::CheckAdapterFirmware(link, version), 0);
    EXPECT_EQ(version, "v 00.00.1400.0001");
    EXPECT_GT(adapter->Stats().romWrites, 0u);
    EXPECT_EQ(adapter->Rom().FirmwareVersionTag(), "v 00.00.1400.0003");
    EXPECT_EQ(firmware::CheckAdapterFirmware(link, version), 0);
    EXPECT_EQ(version, "v 00.00.1400.0003");
    link.Disconnect();
    EXPECT_EQ(adapter->Stats().violations, 0u) << adapter->RecentViolations().front();
}

namespace {

std::mutex g_diagnosticsMutex;
std::string g_diagnostics;

void CollectDiagnostic(const char* line) {
    std::lock_guard lock(g_diagnosticsMutex);
    g_diagnostics += line;
}

}  // namespace

// A device node the process may not open: the link fails and the log line
// says which udev rule grants access. Root opens any node, so this needs an
// ordinary account.
TEST_F(LibUsbAdapterTest, ADeviceThatMayNotBeOpenedNamesTheUdevRule) {
    if (geteuid() == 0) GTEST_SKIP() << "root may open any device node";
    AddAdapter("real", {});
    AddUsbDevice(1, BusPath("real"), kAdapterConfiguration);
    ASSERT_EQ(chmod(bed_->NodeFile(1).c_str(), 0), 0);
    platform::SetDiagnosticSink(CollectDiagnostic);
    link::COvwCommUSB link;
    EXPECT_NE(link.Connect("libusb:1-1"), 0);
    platform::SetDiagnosticSink(nullptr);
    std::lock_guard lock(g_diagnosticsMutex);
    EXPECT_NE(g_diagnostics.find("usb: libusb:1-1: permission denied"), std::string::npos)
        << g_diagnostics;
    EXPECT_NE(g_diagnostics.find(platform::UdevRulePath()), std::string::npos) << g_diagnostics;
}

namespace {

// The service itself over libusb: zentrelle as a child process sees the
// mocked devices (it inherits the preload library and the test bed's
// folder) while this process serves them. Its own bus folder is elsewhere,
// so it cannot find the simulated adapters' sockets on the simulated bus as
// well. Private driver and control ports; the display driver, when started,
// is a child too.
class LibUsbServiceTest : public LibUsbAdapterTest {
protected:
    void SetUp() override {
        LibUsbAdapterTest::SetUp();
        if (!bed_) return;
        std::filesystem::create_directories(root_ / "run");
        std::filesystem::create_directories(root_ / "systemctl");
        controlPort_ = FreePort();
        env_ = {{"ORV_ROOT", root_.string()},
                {"ORV_RUNTIME_DIR", (root_ / "run").string()},
                {"ORV_IPC_NAMESPACE", "libusb" + std::to_string(getpid())},
                {"ORV_DRIVER_PORT", std::to_string(FreePort())},
                {"ORV_CONTROL_PORT", std::to_string(controlPort_)},
                {"ORV_SYSTEMCTL", FAKE_SYSTEMCTL},
                {"FAKE_SYSTEMCTL_STATE", (root_ / "systemctl").string()}};
    }
    void TearDown() override {
        if (driver_) {
            driver_->Signal(SIGTERM);
            EXPECT_EQ(driver_->Wait(std::chrono::seconds(10)), 0);
        }
        StopService();
        LibUsbAdapterTest::TearDown();
    }

    static std::uint16_t FreePort() {
        const auto listener = net::TcpListener::Listen(0, false);
        return listener ? listener->Port() : 0;
    }

    // Starts zentrelle; with `wall`, the test wall of that layout is built
    // and placed once a display driver connects.
    void StartService(const std::string& wall = "") {
        if (!wall.empty()) {
            std::filesystem::create_directories(root_ / "etc/orv-videowall");
            std::ofstream(root_ / "etc/orv-videowall/registry.conf")
                << "[Software\\ORVVideoWallControlSet]\nTestWallLayout=REG_SZ:" << wall << "\n";
        }
        service_ =
            std::make_unique<orv::testing::ChildProcess>(std::vector<std::string>{ZENTRELLE}, env_);
        ASSERT_TRUE(service_->Started());
    }
    void StopService() {
        if (!service_) return;
        service_->Signal(SIGTERM);
        EXPECT_EQ(service_->Wait(std::chrono::seconds(40)), 0);
        service_.reset();
    }
    // The real display driver with one precomputed test-pattern frame.
    void StartDriver() {
        driver_ = std::make_unique<orv::testing::ChildProcess>(
            std::vector<std::string>{DISPLAY_DRIVER, "--fps", "15", "--precompute", "1",
                                     "--report-ms", "0"},
            env_);
        ASSERT_TRUE(driver_->Started());
    }

    std::string Log() const {
        return orv::testing::ReadFile(
            (root_ / "var/log/orv-videowall/ServiceManager.log.txt").string());
    }
    std::size_t LogCount(const std::string& needle) const {
        const std::string text = Log();
        std::size_t n = 0;
        for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    }
    int SavedId(const std::string& monitor) const {
        const std::string v =
            platform::Profile(platform::ConfigFilePath()).GetString(monitor, "Monitor_Id");
        return v.empty() ? 0 : std::stoi(v);
    }
    orv::testing::FlipRecords Flips() const {
        std::vector<const sim::SimAdapter*> adapters;
        for (const auto& a : adapters_) adapters.push_back(a.get());
        return orv::testing::RecordsOf(adapters);
    }
    bool EachFlippedSince(const std::vector<std::string>& monitors, std::int64_t since, int count) {
        return orv::testing::EachFlippedSince([this] { return Flips(); }, monitors, since, count,
                                              std::chrono::seconds(30));
    }
    void ExpectNoViolations() {
        for (const auto& a : adapters_)
            EXPECT_EQ(a->Stats().violations, 0u)
                << a->Name() << ": " << a->RecentViolations().front();
    }

    // Two adapters of two monitors each on ports 1 and 2, and the service
    // with a 2 x 2 wall of them; returns when the four monitors have ids.
    void StartTwoByTwoWall() {
        AddAdapter("a0", {0x01, 0x04}, "ORV-LIBUSB-ADAPTER-A");
        AddAdapter("a1", {0x01, 0x04}, "ORV-LIBUSB-ADAPTER-B");
        AddUsbDevice(1, BusPath("a0"), kAdapterConfiguration);
        AddUsbDevice(2, BusPath("a1"), kAdapterConfiguration);
        StartService("2 2 2560 1440 1280 720 1:0:0 2:1:0 3:0:1 4:1:1");
        ASSERT_TRUE(Eventually([&] { return LogCount("--ORVPlugInMonitor::MonitorID=4--") == 1; },
                               std::chrono::seconds(30)))
            << Log();
    }

    const std::vector<std::string> kWall = {"a0:1", "a0:4", "a1:1", "a1:4"};
    std::map<std::string, std::string> env_;
    std::uint16_t controlPort_ = 0;
    std::unique_ptr<orv::testing::ChildProcess> service_;
    std::unique_ptr<orv::testing::ChildProcess> driver_;
};

}  // namespace

// The adapter present at start and one plugged in later are started and
// show their monitors' identification pictures; the late one's removal
// takes it out again. Across a restart the monitors keep their numbers.
TEST_F(LibUsbServiceTest, TheServiceFollowsRealUsbAdapters) {
    sim::SimAdapter& early = AddAdapter("early", {0x01});
    sim::SimAdapter& late = AddAdapter("late", {0x01, 0x04});
    AddUsbDevice(1, BusPath("early"), kAdapterConfiguration);
    StartService();
    using namespace std::chrono_literals;
    EXPECT_TRUE(Eventually([&] { return LogCount("--COvwDeviceManager::Start()--") == 1; }, 30s));
    EXPECT_EQ(LogCount("devices: following USB adapters (libusb hotplug)"), 1u);
    EXPECT_TRUE(Eventually([&] { return early.Stats().frames > 0; }, 30s));

    AddUsbDevice(2, BusPath("late"), kAdapterConfiguration);
    bed_->Uevent(2, "add");
    EXPECT_TRUE(Eventually(
        [&] { return LogCount("--COvwDeviceManager::USBAdapterPlugIn()--") == 1; }, 30s));
    EXPECT_TRUE(Eventually([&] { return late.Stats().frames > 0; }, 30s));
    EXPECT_TRUE(Eventually([&] { return LogCount("--ORVPlugInMonitor::MonitorID=") == 3; }, 30s));

    bed_->RemoveUsbDevice(2);
    EXPECT_TRUE(Eventually(
        [&] { return LogCount("--COvwDeviceManager::USBAdapterPlugOut()--") == 1; }, 30s));

    // Both present when the service starts again: the start-up enumeration
    // takes both, and every monitor gets its number again from the file.
    const std::map<std::string, int> ids = {{"SIM-early1", SavedId("SIM-early1")},
                                            {"SIM-late1", SavedId("SIM-late1")},
                                            {"SIM-late4", SavedId("SIM-late4")}};
    StopService();
    ASSERT_TRUE(bed_->AddUsbDevice(2, BusPath("late"), kAdapterConfiguration));
    const std::size_t before = LogCount("--ORVPlugInMonitor::MonitorID=");
    StartService();
    ASSERT_TRUE(
        Eventually([&] { return LogCount("--ORVPlugInMonitor::MonitorID=") == before + 3; }, 30s))
        << Log();
    const std::string log = Log();
    const std::string restarted = log.substr(log.rfind("Service start."));
    for (const auto& [name, id] : ids) {
        EXPECT_EQ(SavedId(name), id) << name;
        EXPECT_NE(restarted.find("--ORVPlugInMonitor::MonitorID=" + std::to_string(id) + "--"),
                  std::string::npos)
            << name << " did not get " << id;
    }
    ExpectNoViolations();
}

// Frames over libusb: the display driver's pattern reaches the four
// monitors of a 2 x 2 wall on two adapters, each monitor showing its cell's
// colour and all flipping to the same frames. A stalled adapter holds up
// nobody else.
TEST_F(LibUsbServiceTest, AWallOverLibUsbShowsEveryFrameOnEveryMonitorInStep) {
    StartTwoByTwoWall();
    StartDriver();
    ASSERT_TRUE(EachFlippedSince(kWall, 0, 20)) << Log() << driver_->Output();
    EXPECT_TRUE(orv::testing::ExpectFlippedInStep([this] { return Flips(); }, 4));
    struct Placed {
        std::size_t adapter;
        std::uint8_t port;
        const char* name;  // the name its id is saved under
    };
    for (const Placed& m :
         {Placed{0, 1, "ORV-LIBUSB-ADAPTER-A1"}, Placed{0, 4, "ORV-LIBUSB-ADAPTER-A4"},
          Placed{1, 1, "ORV-LIBUSB-ADAPTER-B1"}, Placed{1, 4, "ORV-LIBUSB-ADAPTER-B4"}}) {
        const std::string name = m.name;
        const int id = SavedId(name);
        ASSERT_GE(id, 1) << name;
        ASSERT_LE(id, 4) << name;
        // The top-left of the monitor's picture is its cell's colour.
        const auto monitor = adapters_[m.adapter]->Monitor(m.port);
        ASSERT_TRUE(monitor);
        const orv::sim::MonitorPicture& picture = monitor->picture;
        ASSERT_EQ(picture.width, 1280u) << name;
        const auto want = driver::PatternColour(static_cast<std::uint32_t>((id - 1) % 2),
                                                static_cast<std::uint32_t>((id - 1) / 2));
        const std::size_t at =
            (std::size_t{picture.height} / 8 * picture.width + picture.width / 8) * 4;
        ASSERT_GE(picture.front.size(), at + 3) << name;
        EXPECT_NEAR(picture.front[at], want.b, 8) << name;
        EXPECT_NEAR(picture.front[at + 1], want.g, 8) << name;
        EXPECT_NEAR(picture.front[at + 2], want.r, 8) << name;
    }
    ExpectNoViolations();

    // A stall on one adapter's command pipe breaks its link; frames go on to
    // the other adapter's monitors, and the service still stops in time
    // (TearDown).
    bed_->Node(2).Stall(adapter::kPipeOutCommands);
    EXPECT_TRUE(Eventually([&] { return LogCount("WinUsb_WritePipe error!") == 1; })) << Log();
    EXPECT_TRUE(EachFlippedSince({"a0:1", "a0:4"}, orv::testing::NowMicros(), 10))
        << Log() << driver_->Output();
}

// An adapter unplugged while the service writes a frame to it: the write
// fails (the device is gone), the link breaks, the adapter is torn down, and
// a panel hears of its two monitors once, with one 0x5D. The other adapter's
// monitors keep flipping; plugged in again, the adapter's monitors come back
// with their numbers and flip again.
TEST_F(LibUsbServiceTest, AnAdapterVanishingMidWriteLeavesWithOneNotice) {
    StartTwoByTwoWall();
    ASSERT_TRUE(orv::testing::WaitUntilListed(controlPort_, 4)) << Log();
    orv::testing::Panel panel(controlPort_);
    ASSERT_TRUE(panel.Connected());
    ASSERT_EQ(panel.Monitors().size(), 4u);
    StartDriver();
    ASSERT_TRUE(EachFlippedSince(kWall, 0, 5)) << Log() << driver_->Output();
    const std::vector<int> ids = {SavedId("ORV-LIBUSB-ADAPTER-B1"),
                                  SavedId("ORV-LIBUSB-ADAPTER-B4")};

    bed_->Node(2).HoldWrites(adapter::kPipeOutCommands);
    ASSERT_TRUE(Eventually([&] { return bed_->Node(2).HeldWrites() > 0; }));
    bed_->RemoveUsbDevice(2);
    auto removed = panel.Next<control::AdapterRemoved>(nullptr, std::chrono::seconds(20));
    ASSERT_TRUE(removed) << Log();
    std::vector<int> gone(removed->monitorIds.begin(), removed->monitorIds.end());
    std::sort(gone.begin(), gone.end());
    std::vector<int> want = ids;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(gone, want);
    // Nothing more about them: no second 0x5D, no 0x57 per monitor.
    EXPECT_FALSE(panel.Next<control::AdapterRemoved>(nullptr, std::chrono::milliseconds(1500)));
    for (const auto& notice : panel.notices) {
        if (const auto* change = std::get_if<control::MonitorChange>(&notice)) {
            EXPECT_EQ(std::count(ids.begin(), ids.end(), change->monitorId), 0)
                << "0x57 for monitor " << change->monitorId;
        }
    }
    EXPECT_GE(LogCount("WinUsb_WritePipe error!"), 1u);
    EXPECT_EQ(LogCount("--COvwDeviceManager::USBAdapterPlugOut()--"), 1u);
    EXPECT_TRUE(EachFlippedSince({"a0:1", "a0:4"}, orv::testing::NowMicros(), 10))
        << Log() << driver_->Output();
    ASSERT_EQ(panel.Monitors().size(), 2u);

    panel.notices.clear();
    ASSERT_TRUE(bed_->AddUsbDevice(2, BusPath("a1"), kAdapterConfiguration));
    bed_->Uevent(2, "add");
    std::vector<int> back;
    for (int i = 0; i < 2; ++i) {
        auto change = panel.Next<control::MonitorChange>(nullptr, std::chrono::seconds(20));
        ASSERT_TRUE(change) << Log();
        EXPECT_EQ(change->change, control::kMonitorArrived);
        back.push_back(change->monitorId);
    }
    std::sort(back.begin(), back.end());
    EXPECT_EQ(back, want);
    EXPECT_TRUE(EachFlippedSince(kWall, orv::testing::NowMicros(), 10)) << Log();
    ExpectNoViolations();
}
