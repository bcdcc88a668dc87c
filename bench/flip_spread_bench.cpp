// Flip spread in the simulator: how far apart the monitors of one frame
// change picture, from the simulator's own flip record ("flips").
//
// Two simulated adapters with two 1280 x 720 monitors each, driven from one
// host thread as the service's completion worker drives them: every frame
// sends a picture to each monitor, waits for the four acknowledgements, then
// writes the show-frame command to one adapter after the other. The spread
// of a frame is its latest flip time minus its earliest over the four
// monitors; the figures are the median and the 99th percentile.
// Anchor, in the same run: the host's time to write the two show-frame
// commands (the part of the spread that is not the simulator's).
//
// Usage: flip_spread_bench [FRAMES, default 500]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "protocol/adapter/frame_packet.h"
#include "protocol/adapter/packets.h"
#include "sim/adapter/sim_log.h"
#include "sim/adapter/simulator.h"
#include "tests/support/sim_host.h"
#include "tests/support/temp_dir.h"

using namespace orv;
using namespace orv::adapter;
using Clock = std::chrono::steady_clock;

namespace {

Packet SmallFrame(int screen, std::uint32_t frameIndex) {
    const std::uint32_t w = 16, h = 8, picture = kCodecHeaderSize + w * h * 4;
    Packet p(PacketLength(kHeaderSize + picture), 0);
    if (WriteFramePacketHeader(p, picture, static_cast<unsigned>(screen), frameIndex) == 0)
        std::abort();
    bytes::PutU32(p, kHeaderSize + kCodecOffHeight, h);
    bytes::PutU32(p, kHeaderSize + kCodecOffWidth, w);
    bytes::PutU32(p, kHeaderSize + kCodecOffPart1, w * h * 4);
    return p;
}

double Percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint32_t frames = argc > 1 ? static_cast<std::uint32_t>(std::atoi(argv[1])) : 500;
    test::TempDir tmp;
    sim::SimConfig config;
    config.busDir = tmp.Path() + "/usb";
    config.romDir = tmp.Path() + "/rom";
    for (int i = 0; i < 2; ++i) {
        sim::AdapterConfig a;
        a.name = "a" + std::to_string(i);
        a.monitors = {sim::MonitorConfig{}, sim::MonitorConfig{}};
        a.monitors[1].port = 0x04;
        config.adapters.push_back(a);
    }
    sim::SetSimLogQuiet(true);
    std::string error;
    auto simulator = sim::Simulator::Create(config, &error);
    if (!simulator || !simulator->Start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::unique_ptr<sim::test::Host>> hosts;
    const ScreenEntry s0{0, 0x01, 2, 1280, 720, 32, 60, 0}, s1{1, 0x04, 2, 1280, 720, 32, 60, 0};
    for (int i = 0; i < 2; ++i) {
        auto host =
            std::make_unique<sim::test::Host>(config.busDir + "/a" + std::to_string(i) + ".sock");
        bus::FrameHeader h;
        std::vector<std::uint8_t> payload;
        host->Next(h, payload);  // DESC
        const std::uint8_t alt = 0;
        host->Send(bus::FrameKind::kSetAlt, 0, {&alt, 1});
        host->Exchange(BuildControlCommand(PowerOnBody()));
        host->NextNotification();  // plug state
        host->Exchange(BuildTopology(s0, s1));
        hosts.push_back(std::move(host));
    }
    std::vector<double> writeUs;
    for (std::uint32_t f = 1; f <= frames; ++f) {
        for (auto& host : hosts) {
            host->Out(kPipeOutCommands, SmallFrame(0, (f << 8) | 0x01));
            host->Out(kPipeOutCommands, SmallFrame(1, (f << 8) | 0x04));
        }
        for (auto& host : hosts)
            for (int k = 0; k < 2; ++k)
                if (!host->NextNotification()) {
                    std::fprintf(stderr, "no acknowledgement for frame %u\n", f);
                    return 1;
                }
        const auto t0 = Clock::now();
        for (auto& host : hosts) host->Out(kPipeOutCommands, BuildShowFrame(f));
        writeUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    for (auto& host : hosts) host->Exchange(BuildCapsQuery());  // every show-frame taken

    const auto json = nlohmann::json::parse(simulator->Command("flips").substr(3));
    std::map<std::uint32_t, std::pair<std::int64_t, std::int64_t>> range;  // frame -> min, max
    std::map<std::uint32_t, int> seen;
    for (const auto& m : json["monitors"]) {
        for (const auto& flip : m["flips"]) {
            const auto frame = flip[0].get<std::uint32_t>();
            const auto at = flip[1].get<std::int64_t>();
            auto [it, fresh] = range.try_emplace(frame, at, at);
            it->second.first = std::min(it->second.first, at);
            it->second.second = std::max(it->second.second, at);
            ++seen[frame];
        }
    }
    std::vector<double> spreadMs;
    for (const auto& [frame, r] : range)
        if (seen[frame] == 4) spreadMs.push_back(static_cast<double>(r.second - r.first) / 1000.0);
    std::printf("%zu frames flipped on all 4 monitors of 2 adapters\n", spreadMs.size());
    std::printf("flip spread: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                Percentile(spreadMs, 0.5), Percentile(spreadMs, 0.99), Percentile(spreadMs, 1.0));
    std::printf("anchor, writing the two show-frame commands: median %.3f ms, p99 %.3f ms\n",
                Percentile(writeUs, 0.5) / 1000.0, Percentile(writeUs, 0.99) / 1000.0);
    simulator->Stop();
    return 0;
}
