// Monitor numbers: the container, the configuration file, the 1024 limit.
#include "service/wall/ui.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "service/adapter/adapter.h"
#include "tests/support/temp_dir.h"

using namespace orv::wall;
using orv::adapter::COvwAdapter;
using orv::adapter::COvwMonitor;

TEST(MonitorIdContainer, EncodesUpperCaseAndReadsOtherCharactersAsZero) {
    MonitorIdContainer c{};
    c[0] = 0x07;
    c[127] = 0xA5;
    const std::string text = EncodeContainer(c);
    EXPECT_EQ(text.size(), 256u);
    EXPECT_EQ(text.substr(0, 2), "07");
    EXPECT_EQ(text.substr(254), "A5");
    EXPECT_EQ(DecodeContainer(text), c);
    // Lower-case digits and anything else count as 0; short values leave
    // the rest 0; more than 256 digits are not read.
    EXPECT_EQ(DecodeContainer("0a")[0], 0x00);
    EXPECT_EQ(DecodeContainer("aB")[0], 0x0B);
    EXPECT_EQ(DecodeContainer("F")[0], 0xF0);
    EXPECT_EQ(DecodeContainer("0")[0], 0x00);
    EXPECT_EQ(DecodeContainer(text + "FF"), c);
}

namespace {

// Monitors need an adapter for their name; this one has no link, so their
// mode sets and pictures go nowhere.
class UiTest : public ::testing::Test {
protected:
    orv::test::TempDir dir_;
    const std::string path_ = dir_.File("ORVVideoWallConfigFile.ini");
    COvwAdapter adapter_{{}};
};

}  // namespace

TEST_F(UiTest, FirstStartWritesZeroAndHandsOutTheLowestFreeIds) {
    COvwUI ui(path_);
    orv::platform::Profile file(path_);
    EXPECT_EQ(file.GetString(kContainerSection, kContainerKey), "0");

    COvwMonitor a(adapter_, 0x01), b(adapter_, 0x04), c(adapter_, 0x02);
    EXPECT_EQ(ui.AssignMonitorId(a), 0);
    EXPECT_EQ(ui.AssignMonitorId(b), 0);
    EXPECT_EQ(a.MonitorId(), 1);
    EXPECT_EQ(b.MonitorId(), 2);
    EXPECT_EQ(file.GetString(a.Name(), kMonitorIdKey), "1");
    EXPECT_EQ(file.GetString(kContainerSection, kContainerKey), "03" + std::string(254, '0'));

    // A monitor that leaves keeps its id taken; the next new one gets 3.
    ui.MonitorLeaves(a);
    EXPECT_EQ(ui.MonitorById(1), nullptr);
    EXPECT_EQ(ui.AssignMonitorId(c), 0);
    EXPECT_EQ(c.MonitorId(), 3);
    // Back again, it finds its id in the file.
    COvwMonitor again(adapter_, 0x01);
    EXPECT_EQ(ui.AssignMonitorId(again), 0);
    EXPECT_EQ(again.MonitorId(), 1);
    EXPECT_EQ(ui.MonitorById(1), &again);

    // A new wall object reads the container back.
    COvwUI reloaded(path_);
    EXPECT_EQ(reloaded.Container()[0], 0x07);
}

TEST_F(UiTest, SavedIdsAreUsedButNeverShared) {
    orv::platform::Profile file(path_);
    COvwMonitor seven(adapter_, 0x01), twin(adapter_, 0x04);
    ASSERT_TRUE(file.WriteString(seven.Name(), kMonitorIdKey, "7"));
    // A second section claiming the same number (an edited file).
    ASSERT_TRUE(file.WriteString(twin.Name(), kMonitorIdKey, "7"));
    COvwUI ui(path_);
    EXPECT_EQ(ui.AssignMonitorId(seven), 0);
    EXPECT_EQ(seven.MonitorId(), 7);
    EXPECT_EQ(ui.AssignMonitorId(twin), 0);
    EXPECT_NE(twin.MonitorId(), 7);
    EXPECT_EQ(twin.MonitorId(), 1);
    // The saved id is marked in the container, so nobody else gets it.
    EXPECT_TRUE(ui.Container()[0] & 0x40);
}

TEST_F(UiTest, NoIdIsLeftAfter1024) {
    orv::platform::Profile file(path_);
    MonitorIdContainer full{};
    full.fill(0xFF);
    ASSERT_TRUE(file.WriteString(kContainerSection, kContainerKey, EncodeContainer(full)));
    COvwUI ui(path_);
    COvwMonitor m(adapter_, 0x01);
    EXPECT_EQ(ui.AssignMonitorId(m), -1);
    EXPECT_EQ(m.MonitorId(), 0);
    EXPECT_EQ(ui.ReleaseMonitor(0), 0);
}
