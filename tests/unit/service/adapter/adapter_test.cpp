// The adapter and monitor objects against in-process simulated adapters.
#include "service/adapter/adapter.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/paths.h"
#include "service/adapter/display_id.h"
#include "service/link/comm_usb.h"
#include "service/log/logger.h"
#include "service/wall/ui.h"
#include "tests/support/sim_fixture.h"

using namespace orv::adapter;
using orv::testing::Eventually;
using orv::testing::SimBusTest;

TEST(AdapterRules, PlugMaskWithMoreThanTwoBitsFollowsTheKnownMonitors) {
    EXPECT_EQ(EffectivePlugMask(0x05, 0x00, 0), 0x05);  // two bits: as reported
    EXPECT_EQ(EffectivePlugMask(0x07, 0x00, 0), 0x05);
    EXPECT_EQ(EffectivePlugMask(0x1F, 0x01, 1), 0x05);
    EXPECT_EQ(EffectivePlugMask(0x1F, 0x04, 1), 0x05);
    EXPECT_EQ(EffectivePlugMask(0x1F, 0x05, 1), 0x05);
    EXPECT_EQ(EffectivePlugMask(0x0E, 0x06, 2), 0x06);
    EXPECT_EQ(EffectivePlugMask(0x0E, 0x06, 3), 0x0E);
}

TEST(AdapterRules, ModeClassBySizeDepthAndCompression) {
    EXPECT_EQ(ComputeModeClass({3840, 2160, 32, 60, 0}, false, 224), 1);
    EXPECT_EQ(ComputeModeClass({2560, 1440, 32, 60, 0}, false, 224), 1);
    EXPECT_EQ(ComputeModeClass({1920, 1080, 32, 60, 0}, false, 224), 0);
    EXPECT_EQ(ComputeModeClass({1280, 720, 32, 60, 0}, true, 224), 2);
    EXPECT_EQ(ComputeModeClass({1920, 1080, 16, 60, 0}, false, 224), 2);
    EXPECT_EQ(ComputeModeClass({1920, 1080, 32, 60, 0}, false, 228), 2);
    EXPECT_EQ(ComputeModeClass({1920, 1080, 32, 60, 0}, true, 228), 0);
}

TEST(AdapterRules, MonitorNamesStayUniqueForShortIdentities) {
    std::array<std::uint8_t, 24> full{};
    for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<std::uint8_t>('A' + i);
    EXPECT_EQ(MonitorName(full, 4), "ABCDEFGHIJKLMNOPQRSTUVWX4");
    std::array<std::uint8_t, 24> shortId{'S', 'I', 'M'};
    EXPECT_EQ(MonitorName(shortId, 1), "SIM1");
    EXPECT_NE(MonitorName(shortId, 1), MonitorName(shortId, 4));
}

namespace {

class AdapterSimTest : public SimBusTest {
protected:
    void SetUp() override {
        SimBusTest::SetUp();
        ui_ = std::make_unique<orv::wall::COvwUI>(orv::platform::ConfigFilePath());
    }
    void TearDown() override {
        adapter_.reset();
        ui_.reset();
        SimBusTest::TearDown();
    }

    COvwAdapter& Start(const std::string& name, std::vector<std::uint8_t> ports) {
        AddAdapter(name, ports);
        AdapterServices services;
        services.wall = ui_.get();
        services.versionCheck = orv::testing::QueryVersionOnly;
        services.compressionCode = [] { return 224u; };
        adapter_ = std::make_unique<COvwAdapter>(services);
        auto link = std::make_unique<orv::link::COvwCommUSB>();
        EXPECT_EQ(link->Connect(BusPath(name)), 0);
        adapter_->SetLink(OwnLink(std::move(link)));
        EXPECT_EQ(adapter_->StartDev(), 0);
        return *adapter_;
    }

    // A frame packet carrying one raw pixel at the top-left corner.
    std::vector<std::uint8_t> FramePacket(std::uint8_t port, std::uint32_t frameNumber) {
        std::vector<std::uint8_t> p(kHeaderSize + kCodecHeaderSize + 4, 0x7F);
        std::fill(p.begin(), p.begin() + kHeaderSize + kCodecHeaderSize, 0);
        EXPECT_TRUE(WriteMagicAndLength(p, PacketLength(p.size())));
        orv::bytes::PutU32(p, kOffControlWord, kControlWordFrame);
        orv::bytes::PutU32(p, kOffFrameIndex, (frameNumber << 8) | port);
        orv::bytes::PutU32(p, kOffFramePictureLen, kCodecHeaderSize + 4);
        orv::bytes::PutU32(p, kHeaderSize + kCodecOffHeight, 1);
        orv::bytes::PutU32(p, kHeaderSize + kCodecOffWidth, 1);
        orv::bytes::PutU32(p, kHeaderSize + kCodecOffPart1, 4);
        p[kOffFrameKind] = kFrameKindValue;
        p[kOffFrameMark] = kFrameMarkValue;
        return p;
    }

    std::unique_ptr<orv::wall::COvwUI> ui_;
    std::unique_ptr<COvwAdapter> adapter_;
};

}  // namespace

TEST_F(AdapterSimTest, StartNumbersMonitorsAndKeepsTheirIdsAcrossReplug) {
    COvwAdapter& adapter = Start("a", {0x01, 0x04});
    auto& sim = *adapters_[0];
    ASSERT_TRUE(Eventually([&] { return ui_->MonitorById(1) && ui_->MonitorById(2); }));
    EXPECT_NE(adapter.Info().firmwareVersion.find("v 00.00.1400"), std::string::npos);
    // Each monitor took a screen slot for its identification picture.
    EXPECT_FALSE(adapter.Screen(0).Empty());
    EXPECT_FALSE(adapter.Screen(1).Empty());
    const int idOn4 = adapter.MonitorOnPort(0x04)->MonitorId();

    // The simulated monitor shows the identification picture the service
    // composed: byte for byte what ComposeDisplayIdPicture makes.
    std::vector<std::uint8_t> expected(kDisplayIdBytes);
    ASSERT_TRUE(ComposeDisplayIdPicture(idOn4, expected));
    ASSERT_TRUE(Eventually([&] {
        auto m = sim.Monitor(0x04);
        return m && m->picture.front == expected;
    }));

    ASSERT_TRUE(sim.Unplug(0x04));
    ASSERT_TRUE(Eventually([&] { return adapter.MonitorOnPort(0x04) == nullptr; }));
    EXPECT_EQ(ui_->MonitorById(idOn4), nullptr);
    ASSERT_TRUE(sim.Plug(0x04, std::nullopt));
    ASSERT_TRUE(Eventually([&] { return adapter.MonitorOnPort(0x04) && ui_->MonitorById(idOn4); }));
    EXPECT_EQ(adapter.MonitorOnPort(0x04)->MonitorId(), idOn4);
    EXPECT_EQ(ui_->Container()[0], 0x03);
    EXPECT_EQ(sim.Stats().violations, 0u)
        << (sim.RecentViolations().empty() ? "" : sim.RecentViolations()[0]);
}

TEST_F(AdapterSimTest, ModeSetWithBothScreenSlotsTakenIsRefused) {
    COvwAdapter& adapter = Start("b", {0x01, 0x04});
    ASSERT_TRUE(Eventually([&] { return ui_->MonitorById(2) != nullptr; }));
    const ScreenEntry s0 = adapter.Screen(0), s1 = adapter.Screen(1);
    ASSERT_FALSE(s0.Empty());
    ASSERT_FALSE(s1.Empty());
    int screen = -1;
    EXPECT_EQ(adapter.monitorcallSetMode(0x02, screen, kIdentificationMode, 0, 1), -1);
    EXPECT_EQ(screen, -1);
    EXPECT_EQ(adapter.Screen(0), s0);
    EXPECT_EQ(adapter.Screen(1), s1);
    // Frames flow again after the refused mode set.
    auto packet = FramePacket(static_cast<std::uint8_t>(adapter.Screen(0).portBit), 1);
    EXPECT_TRUE(adapter.Enqueue(packet.data(), static_cast<std::uint32_t>(packet.size())));
    EXPECT_EQ(adapters_[0]->Stats().violations, 0u);
}

TEST_F(AdapterSimTest, EnqueueIsRefusedDuringAModeSetAndPlugOutWaitsForAcks) {
    COvwAdapter& adapter = Start("c", {0x01, 0x04});
    auto& sim = *adapters_[0];
    ASSERT_TRUE(Eventually([&] { return ui_->MonitorById(2) != nullptr; }));
    // A frame that is never acknowledged keeps the last-sent index ahead.
    sim.SetAcksEnabled(false);
    auto packet = FramePacket(0x01, 5);
    ASSERT_TRUE(adapter.Enqueue(packet.data(), static_cast<std::uint32_t>(packet.size())));
    ASSERT_TRUE(Eventually([&] { return adapter.LastSentFrameIndex() == ((5u << 8) | 0x01); }));

    COvwMonitor* monitor = adapter.MonitorOnPort(0x01);
    std::thread modeSet([&] { monitor->IdentificationMode(); });
    // While the mode set waits for the acknowledgement, frames are refused
    // and the pools do not move. (A call that began just before the mode set
    // may still have queued its packet: only calls after the first refusal
    // are checked.)
    ASSERT_TRUE(Eventually([&] {
        return !adapter.Enqueue(packet.data(), static_cast<std::uint32_t>(packet.size()));
    }));
    const std::size_t buffers = adapter.BuffersInUse(), queued = adapter.QueuedPackets();
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(adapter.Enqueue(packet.data(), static_cast<std::uint32_t>(packet.size())));
    EXPECT_EQ(adapter.BuffersInUse(), buffers);
    EXPECT_EQ(adapter.QueuedPackets(), queued);
    modeSet.join();

    // A plug-out gives up waiting for the acknowledgement after 500 ms.
    const auto t0 = std::chrono::steady_clock::now();
    adapter.ORVPlugOutMonitor(0x04);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(490));
    EXPECT_EQ(adapter.MonitorOnPort(0x04), nullptr);
    orv::log::Logger::Instance().Flush();
    std::ifstream log(orv::platform::LogDir() + "/ServiceManager.log.txt");
    const std::string text(std::istreambuf_iterator<char>(log), {});
    EXPECT_NE(text.find("COvwAdapter::ORVPlugOutMonitor()-Wait frame index timeout.\n"),
              std::string::npos);
    EXPECT_NE(text.find("COvwAdapter::monitorcallSetMode()-Wait frame index timeout.\n"),
              std::string::npos);
}

TEST_F(AdapterSimTest, PacketsForAbsentMonitorsAreDroppedAndTheirBuffersReturned) {
    COvwAdapter& adapter = Start("d", {0x01});
    auto& sim = *adapters_[0];
    ASSERT_TRUE(Eventually([&] { return ui_->MonitorById(1) != nullptr; }));
    // The monitor's number picture is a frame packet too: counted first.
    ASSERT_TRUE(Eventually([&] { return sim.Stats().frames >= 1; }));
    const auto framesBefore = sim.Stats().frames;
    auto packet = FramePacket(0x10, 9);
    ASSERT_TRUE(adapter.Enqueue(packet.data(), static_cast<std::uint32_t>(packet.size())));
    ASSERT_TRUE(
        Eventually([&] { return adapter.QueuedPackets() == 0 && adapter.BuffersInUse() == 0; }));
    // Give a wrongly sent packet time to arrive before checking it did not.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sim.Stats().frames, framesBefore);
    // Empty and oversized packets are outside the contract: refused.
    EXPECT_FALSE(adapter.Enqueue(packet.data(), 0));
    EXPECT_FALSE(adapter.Enqueue(packet.data(), COvwAdapter::kPacketBufferSize + 1));
    EXPECT_EQ(sim.Stats().violations, 0u);
}

TEST_F(AdapterSimTest, FramesKeepFlowingWhileAnotherMonitorComesAndGoes) {
    COvwAdapter& adapter = Start("e", {0x01, 0x04});
    auto& sim = *adapters_[0];
    ASSERT_TRUE(Eventually([&] { return ui_->MonitorById(2) != nullptr; }));
    const int idOn4 = adapter.MonitorOnPort(0x04)->MonitorId();
    std::atomic<bool> done{false};
    std::atomic<std::uint32_t> queued{0};
    // Frames for the monitor on port 1 all along, as a frame pipeline would
    // send them; a refused frame (mode set or plug-out under way) is retried.
    std::thread frames([&] {
        for (std::uint32_t n = 1; !done; ++n) {
            auto packet = FramePacket(0x01, n);
            if (adapter.Enqueue(packet.data(), static_cast<std::uint32_t>(packet.size()))) ++queued;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    for (int round = 0; round < 4; ++round) {
        ASSERT_EQ(sim.Unplug(0x04), true);
        ASSERT_TRUE(Eventually([&] { return adapter.MonitorOnPort(0x04) == nullptr; }));
        ASSERT_TRUE(sim.Plug(0x04, std::nullopt));
        ASSERT_TRUE(
            Eventually([&] { return adapter.MonitorOnPort(0x04) && ui_->MonitorById(idOn4); }));
    }
    done = true;
    frames.join();
    EXPECT_GT(queued.load(), 0u);
    // Everything queued was sent or drained: no buffer is left behind.
    ASSERT_TRUE(
        Eventually([&] { return adapter.QueuedPackets() == 0 && adapter.BuffersInUse() == 0; }));
    EXPECT_EQ(adapter.MonitorOnPort(0x04)->MonitorId(), idOn4);
    EXPECT_EQ(sim.Stats().violations, 0u)
        << (sim.RecentViolations().empty() ? "" : sim.RecentViolations()[0]);
}
