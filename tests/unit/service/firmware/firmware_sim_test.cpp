// The sample images installed by orv-fwtool, written through the real USB
// link into a simulated adapter with its default 1 MiB serial ROM: the
// images fit its regions, the adapter reports the installed version after
// the update, and it sees no protocol violation.
#include <gtest/gtest.h>

#include "platform/paths.h"
#include "service/firmware/firmware_updater.h"
#include "service/link/comm_usb.h"
#include "service/log/logger.h"
#include "tests/support/sim_fixture.h"
#include "tools/orvfwtool/sample_images.h"

namespace {

class FirmwareSimTest : public orv::testing::SimBusTest {
protected:
    // An adapter with the simulator's defaults: 1 MiB ROM, version
    // "v 00.00.1400.0001", layout 1.
    orv::sim::SimAdapter& AddDefaultAdapter() {
        orv::sim::SimConfig config;
        config.busDir = (root_ / "usb").string();
        config.romDir = (root_ / "rom").string();
        config.adapters.push_back({});
        config.adapters[0].name = "fw";
        std::string error;
        EXPECT_TRUE(orv::sim::FinishConfig(config, &error)) << error;
        auto adapter = orv::sim::SimAdapter::Create(config.adapters[0], 0, config.busDir, &error);
        EXPECT_TRUE(adapter && adapter->Attach(&error)) << error;
        adapters_.push_back(std::move(adapter));
        return *adapters_.back();
    }

    void Install(const std::string& version, std::uint32_t layout) {
        std::string error;
        ASSERT_TRUE(orv::fwtool::Install(orv::platform::DefaultFirmwareDir(),
                                         orv::platform::RegistryFilePath(), version, layout,
                                         &error))
            << error;
    }

    std::string Check() {
        std::string version;
        EXPECT_EQ(orv::firmware::CheckAdapterFirmware(link_, version), 0);
        return version;
    }

    // One connection for the whole test: the simulator takes one host at a
    // time and notices a disconnection only later.
    orv::link::COvwCommUSB link_;
};

}  // namespace

TEST_F(FirmwareSimTest, SampleImagesUpdateTheDefaultSimulatedAdapter) {
    orv::sim::SimAdapter& adapter = AddDefaultAdapter();
    ASSERT_EQ(link_.Connect(BusPath("fw")), 0);

    Install("00.00.1400.0002", 1);
    EXPECT_EQ(Check(), "v 00.00.1400.0001");  // firmware-only update into slot 2
    EXPECT_EQ(adapter.Rom().Info()->ActiveSlot(), 2);
    EXPECT_EQ(Check(), "v 00.00.1400.0002");  // now latest: nothing written
    const auto writes = adapter.Stats().romWrites;

    Install("00.00.1400.0003", 2);
    EXPECT_EQ(Check(), "v 00.00.1400.0002");  // layout changed: full update
    EXPECT_GT(adapter.Stats().romWrites, writes);
    EXPECT_EQ(adapter.Rom().Info()->ActiveSlot(), 1);
    EXPECT_EQ(adapter.Rom().FirmwareVersionTag(), "v 00.00.1400.0003");
    EXPECT_EQ(adapter.Rom().LayoutVersionTag(), 2u);
    EXPECT_EQ(adapter.Stats().violations, 0u) << adapter.RecentViolations().front();

    link_.Disconnect();
    orv::log::Logger::Instance().Flush();
}
