// The simulator's per-packet work beside what it cannot be cheaper than.
//
// Anchor: copying the packet once (the bus read into the payload buffer does
// at least that). Measured: the protocol check plus the picture check of a
// 1280x720 raw frame packet, and building a 4 KiB serial-ROM write.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "protocol/adapter/frame_packet.h"
#include "protocol/adapter/packets.h"
#include "sim/adapter/frame_decode.h"
#include "sim/adapter/packet_check.h"

namespace {

using namespace orv;

std::vector<std::uint8_t> RawFramePacket() {
    const std::uint32_t w = 1280, h = 720, picture = adapter::kCodecHeaderSize + w * h * 4;
    std::vector<std::uint8_t> p(adapter::PacketLength(adapter::kHeaderSize + picture));
    // p is sized for exactly this packet, so the header always fits.
    (void)adapter::WriteFramePacketHeader(p, picture, 0, (1u << 8) | 0x01);
    bytes::PutU32(p, adapter::kHeaderSize + adapter::kCodecOffHeight, h);
    bytes::PutU32(p, adapter::kHeaderSize + adapter::kCodecOffWidth, w);
    bytes::PutU32(p, adapter::kHeaderSize + adapter::kCodecOffPart1, w * h * 4);
    return p;
}

void BM_AnchorCopyFramePacket(benchmark::State& state) {
    const auto packet = RawFramePacket();
    std::vector<std::uint8_t> copy(packet.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), packet.data(), packet.size());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(packet.size()));
}
BENCHMARK(BM_AnchorCopyFramePacket);

void BM_CheckFramePacket(benchmark::State& state) {
    const auto packet = RawFramePacket();
    const sim::Topology topology{adapter::ScreenEntry{0, 0x01, 2, 1280, 720, 32, 60, 0},
                                 adapter::ScreenEntry{}};
    sim::MonitorPicture monitor;
    monitor.width = 1280;
    monitor.height = 720;
    std::string error;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sim::CheckOutPacket(adapter::kPipeOutCommands, packet, topology));
        benchmark::DoNotOptimize(sim::DecodeFramePicture(
            monitor, 0x101, bytes::ConstBytes(packet).subspan(adapter::kHeaderSize), &error));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(packet.size()));
}
BENCHMARK(BM_CheckFramePacket);

void BM_AnchorCopy4KiB(benchmark::State& state) {
    const std::vector<std::uint8_t> data(4096, 0x5A);
    for (auto _ : state) {
        std::vector<std::uint8_t> copy(adapter::kHeaderSize + data.size());
        std::memcpy(copy.data() + adapter::kHeaderSize, data.data(), data.size());
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_AnchorCopy4KiB);

void BM_BuildSromWrite4KiB(benchmark::State& state) {
    const std::vector<std::uint8_t> data(4096, 0x5A);
    for (auto _ : state) benchmark::DoNotOptimize(adapter::BuildSromWrite(0x20000, data));
}
BENCHMARK(BM_BuildSromWrite4KiB);

}  // namespace

BENCHMARK_MAIN();
