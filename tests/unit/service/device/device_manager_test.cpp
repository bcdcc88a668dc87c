// The device manager against in-process simulated adapters on a private bus.
#include "service/device/device_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>

#include "platform/paths.h"
#include "service/log/logger.h"
#include "service/wall/ui.h"
#include "tests/support/sim_fixture.h"

using namespace orv::device;
using orv::testing::Eventually;
using orv::testing::SimBusTest;

namespace {

class DeviceManagerTest : public SimBusTest {
protected:
    DeviceManagerServices Services() {
        DeviceManagerServices s;
        const std::string bus = (root_ / "usb").string();
        s.enumerate = [bus] {
            std::vector<std::string> paths;
            for (auto& e : std::filesystem::directory_iterator(bus))
                if (e.path().extension() == ".sock") paths.push_back(e.path().string());
            std::sort(paths.begin(), paths.end());
            return paths;
        };
        s.versionCheck = orv::testing::QueryVersionOnly;
        s.compressionCode = [] { return 224u; };
        s.batchDelay = std::chrono::milliseconds(1);
        s.restoreDelay = std::chrono::milliseconds(1);
        s.makeWall = [] {
            return std::make_unique<orv::wall::COvwUI>(orv::platform::ConfigFilePath());
        };
        return s;
    }
    std::string Log() {
        orv::log::Logger::Instance().Flush();
        std::ifstream in(root_ / "var/log/orv-videowall/ServiceManager.log.txt");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

}  // namespace

TEST_F(DeviceManagerTest, EnumerationStartsAtMost32Adapters) {
    for (int i = 0; i < 40; ++i) AddAdapter("ad" + std::to_string(100 + i), {});
    COvwDeviceManager manager(Services());
    manager.Start();
    EXPECT_EQ(manager.AdapterCount(), 32u);
    EXPECT_FALSE(manager.Starting());
    manager.Stop();
    EXPECT_EQ(manager.AdapterCount(), 0u);
    std::ifstream calls(root_ / "virtual-controller.log");
    const std::string text(std::istreambuf_iterator<char>(calls), {});
    EXPECT_EQ(text, "PlugInVirtualController\nPlugOutVirtualController\n");
}

TEST_F(DeviceManagerTest, ArrivalsAndRemovalsByPath) {
    COvwDeviceManager manager(Services());
    AddAdapter("early", {0x01});
    // An arrival while the manager is still starting is ignored.
    EXPECT_EQ(manager.USBAdapterPlugIn(BusPath("early")), 1);
    EXPECT_EQ(manager.AdapterCount(), 0u);
    manager.Start();
    ASSERT_EQ(manager.AdapterCount(), 1u);

    AddAdapter("late", {0x01, 0x04});
    EXPECT_EQ(manager.USBAdapterPlugIn(BusPath("late")), 1);
    EXPECT_EQ(manager.AdapterCount(), 2u);
    orv::wall::COvwUI* ui = manager.Wall();
    ASSERT_TRUE(Eventually([&] { return ui->MonitorById(3) != nullptr; }));
    // The two adapters number their monitors side by side: which ids the
    // late one got depends on timing.
    std::vector<int> lateIds;
    for (auto* m : manager.AdapterByPath(BusPath("late"))->Monitors())
        lateIds.push_back(m->MonitorId());
    ASSERT_EQ(lateIds.size(), 2u);

    // A removal whose path differs only in letter case finds the adapter
    // stored under the lower-case path; a second removal finds nothing.
    std::string upper = BusPath("late");
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_EQ(manager.USBAdapterPlugOut(upper), 1);
    EXPECT_EQ(manager.AdapterCount(), 1u);
    EXPECT_EQ(manager.USBAdapterPlugOut(BusPath("late")), 0);
    // Its monitors left the wall; their ids stay taken.
    for (int id : lateIds) EXPECT_EQ(ui->MonitorById(id), nullptr) << id;
    EXPECT_EQ(ui->MonitorById(1 + 2 + 3 - lateIds[0] - lateIds[1])->Name(), "SIM-early1");
    EXPECT_EQ(ui->Container()[0], 0x07);

    // A path nobody serves cannot be connected.
    EXPECT_EQ(manager.USBAdapterPlugIn(BusPath("nobody")), 0);
    EXPECT_NE(Log().find("--COvwDeviceManager::USBAdapterPlugIn()-- connect failure.\n"),
              std::string::npos);
    manager.Stop();
    EXPECT_EQ(manager.Wall(), nullptr);
}

TEST_F(DeviceManagerTest, StopReleasesMonitorsAndDestroysAdaptersBeforeTheWall) {
    AddAdapter("one", {0x01, 0x04});
    COvwDeviceManager manager(Services());
    manager.Start();
    orv::wall::COvwUI* ui = manager.Wall();
    ASSERT_TRUE(Eventually([&] { return ui->MonitorById(2) != nullptr; }));
    // Stop shows each monitor its number again (a mode set and a picture
    // each), then destroys the adapter while the wall object still exists
    // (a destroyed wall object reached from an adapter would show under
    // the address sanitizer), then the wall object.
    const auto commitsBefore = adapters_[0]->Stats().commits;
    manager.Stop();
    EXPECT_GE(adapters_[0]->Stats().commits, commitsBefore + 2);
    EXPECT_EQ(manager.AdapterCount(), 0u);
    EXPECT_EQ(adapters_[0]->Stats().violations, 0u);
    EXPECT_EQ(manager.Wall(), nullptr);
}

TEST_F(DeviceManagerTest, StartAfterStopStartsNothing) {
    // A stop request that reaches the manager before the service worker has
    // called Start: the late Start must not bring adapters up behind the
    // teardown.
    AddAdapter("late", {0x01});
    COvwDeviceManager manager(Services());
    manager.Stop();
    manager.Start();
    EXPECT_EQ(manager.AdapterCount(), 0u);
    EXPECT_NE(Log().find("COvwDeviceManager::Start() after Stop: nothing started\n"),
              std::string::npos);
    std::ifstream calls(root_ / "virtual-controller.log");
    const std::string text(std::istreambuf_iterator<char>(calls), {});
    EXPECT_EQ(text, "PlugOutVirtualController\n");
}
