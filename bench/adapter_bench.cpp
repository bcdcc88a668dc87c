// The adapter path end to end, with in-process simulated adapters:
//   1. time from an adapter's arrival to all its monitors showing their
//      numbers (device manager, firmware check, EDIDs, ids, mode sets and
//      identification pictures);
//   2. frame packets of 1 MiB and 3 MiB through Enqueue, the send thread,
//      COvwCommUSB and SimUsb to the simulator, which checks, decodes and
//      acknowledges them; beside the raw bus throughput of the same bytes
//      (bus frames over a Unix socket to a receiver that only reads them),
//      measured in the same run. Target: at least 0.8 of the raw bus.
// Prints its figures; a small harness rather than Google Benchmark because
// every round needs a fresh adapter.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "protocol/bus/bus_frame.h"
#include "service/device/device_manager.h"
#include "service/firmware/firmware_updater.h"
#include "service/wall/ui.h"
#include "sim/adapter/sim_adapter.h"
#include "sim/adapter/sim_config.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

template <typename F>
bool Until(F done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        // A short sleep, not a spin: the threads being measured need the cores.
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return true;
}

struct Bench {
    fs::path root;
    std::vector<std::unique_ptr<orv::sim::SimAdapter>> sims;

    Bench() {
        std::string pattern = (fs::temp_directory_path() / "orv-adapter-bench-XXXXXX").string();
        root = mkdtemp(pattern.data());
        fs::create_directories(root / "usb");
        fs::create_directories(root / "rom");
        fs::create_directories(root / "etc/orv-videowall");
        // The installed firmware matches the simulated one: no update.
        std::ofstream(root / "etc/orv-videowall/registry.conf")
            << "[Software\\ORVVideoWallInfo]\nFirmwareVersion=REG_SZ:00.00.1400.0001\n"
               "LayoutVersion=REG_SZ:1\n";
        setenv("ORV_ROOT", root.c_str(), 1);
        setenv("ORV_RUNTIME_DIR", root.c_str(), 1);
    }
    ~Bench() {
        sims.clear();
        fs::remove_all(root);
    }

    orv::sim::SimAdapter& AddAdapter(const std::string& name, std::vector<std::uint8_t> ports) {
        orv::sim::SimConfig config;
        config.busDir = (root / "usb").string();
        config.romDir = (root / "rom").string();
        orv::sim::AdapterConfig a;
        a.name = name;
        a.identity = "BENCH-" + name;
        a.romSize = 0x10000;
        for (std::uint8_t p : ports) {
            orv::sim::MonitorConfig m;
            m.port = p;
            a.monitors.push_back(m);
        }
        config.adapters.push_back(a);
        std::string error;
        orv::sim::FinishConfig(config, &error);
        sims.push_back(
            orv::sim::SimAdapter::Create(config.adapters[0], sims.size(), config.busDir, &error));
        sims.back()->Attach(&error);
        return *sims.back();
    }
    std::string Path(const std::string& name) const {
        return (root / "usb" / (name + ".sock")).string();
    }
};

orv::device::DeviceManagerServices Services() {
    orv::device::DeviceManagerServices s;
    s.enumerate = [] { return std::vector<std::string>{}; };
    s.versionCheck = orv::firmware::CheckAdapterFirmware;
    s.compressionCode = [] { return 224u; };
    s.makeWall = [] {
        return std::make_unique<orv::wall::COvwUI>(orv::platform::ConfigFilePath());
    };
    return s;
}

bool Shows(const orv::sim::SimAdapter& sim, std::uint8_t port) {
    auto m = sim.Monitor(port);
    return m && !m->picture.front.empty();
}

void ArrivalToNumbers(Bench& bench) {
    orv::device::COvwDeviceManager manager(Services());
    manager.Start();
    std::vector<double> times;
    for (int round = 0; round < 5; ++round) {
        const std::string name = "arrive" + std::to_string(round);
        auto& sim = bench.AddAdapter(name, {0x01, 0x04});
        const auto t0 = Clock::now();
        manager.USBAdapterPlugIn(bench.Path(name));
        if (!Until([&] { return Shows(sim, 0x01) && Shows(sim, 0x04); })) {
            std::printf("arrival round %d: monitors never showed their numbers\n", round);
            break;
        }
        times.push_back(Ms(Clock::now() - t0));
    }
    manager.Stop();
    std::sort(times.begin(), times.end());
    if (!times.empty())
        std::printf(
            "Arrival to two monitors showing their numbers: median %.1f ms (min %.1f, max %.1f, "
            "%zu rounds)\n",
            times[times.size() / 2], times.front(), times.back(), times.size());
}

// A frame packet with a raw picture of `w` x `h` pixels for the monitor on
// port 1, frame number `n`.
std::vector<std::uint8_t> FramePacket(std::uint32_t w, std::uint32_t h, std::uint32_t n) {
    using namespace orv::adapter;
    const std::size_t pictureLength = kCodecHeaderSize + std::size_t{w} * h * 4;
    std::vector<std::uint8_t> p(kHeaderSize + pictureLength + 1, 0x40);
    std::fill(p.begin(), p.begin() + kHeaderSize + kCodecHeaderSize, 0);
    const std::uint32_t length = PacketLength(kHeaderSize + pictureLength);
    p.resize(length);
    (void)WriteMagicAndLength(p, length);  // p is far longer than a header
    orv::bytes::PutU32(p, kOffControlWord, kControlWordFrame);
    p[kOffFrameKind] = kFrameKindValue;
    orv::bytes::PutU32(p, kOffFrameIndex, (n << 8) | 0x01);
    orv::bytes::PutU32(p, kOffFramePictureLen, static_cast<std::uint32_t>(pictureLength));
    p[kOffFrameMark] = kFrameMarkValue;
    orv::bytes::PutU32(p, kHeaderSize + kCodecOffHeight, h);
    orv::bytes::PutU32(p, kHeaderSize + kCodecOffWidth, w);
    orv::bytes::PutU32(p, kHeaderSize + kCodecOffPart1, w * h * 4);
    return p;
}

// Bytes per second of bus frames of `size` bytes to a receiver that only
// reads them.
double RawBus(std::size_t size, int count) {
    int sv[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv);
    std::vector<std::uint8_t> payload(size, 0x40);
    std::thread reader([&] {
        orv::bus::FrameHeader h;
        std::vector<std::uint8_t> got;
        for (int i = 0; i < count; ++i) orv::bus::RecvFrame(sv[1], h, got, nullptr);
    });
    const auto t0 = Clock::now();
    for (int i = 0; i < count; ++i)
        orv::bus::SendFrame(sv[0], orv::bus::FrameKind::kOut, 0x02, payload);
    reader.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    close(sv[0]);
    close(sv[1]);
    return double(size) * count / seconds;
}

void FrameThroughput(Bench& bench) {
    orv::device::COvwDeviceManager manager(Services());
    manager.Start();
    auto& sim = bench.AddAdapter("frames", {0x01});
    manager.USBAdapterPlugIn(bench.Path("frames"));
    orv::adapter::COvwAdapter* adapter = manager.AdapterByPath(bench.Path("frames"));
    if (!adapter || !Until([&] { return Shows(sim, 0x01); })) {
        std::printf("frame throughput: adapter did not come up\n");
        return;
    }
    struct Size {
        const char* name;
        std::uint32_t w, h;
        int count;
    };
    // Both pictures fit the 1280 x 720 identification mode; the 3 MiB one
    // fills a packet buffer almost exactly.
    for (const Size& size : {Size{"1 MiB", 512, 512, 600}, Size{"3 MiB", 1280, 613, 200}}) {
        // Three rounds of each, interleaved with the raw bus, so a load
        // change on the machine hits both; the medians are compared.
        std::vector<double> pipeline, raw;
        std::size_t packetSize = 0;
        bool allAcked = true;
        for (int round = 0; round < 3; ++round) {
            // One packet, stamped with each frame's index before it is
            // queued (Enqueue copies it).
            static std::uint32_t frame = 1;
            std::vector<std::uint8_t> packet = FramePacket(size.w, size.h, frame);
            packetSize = packet.size();
            const auto t0 = Clock::now();
            for (int i = 0; i < size.count; ++i, ++frame) {
                orv::bytes::PutU32(packet, orv::adapter::kOffFrameIndex, (frame << 8) | 0x01);
                // At most eight frames in flight, as a paced frame pipeline keeps.
                Until([&] {
                    return (frame - (adapter->LastAckFrameIndex() >> 8)) <= 8 ||
                           adapter->LastAckFrameIndex() == 0;
                });
                while (!adapter->Enqueue(packet.data(), static_cast<std::uint32_t>(packet.size())))
                    std::this_thread::yield();
            }
            const std::uint32_t last = ((frame - 1) << 8) | 0x01;
            allAcked = Until([&] { return adapter->LastAckFrameIndex() == last; }) && allAcked;
            const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
            pipeline.push_back(double(packetSize) * size.count / seconds);
            raw.push_back(RawBus(packetSize, size.count));
        }
        std::sort(pipeline.begin(), pipeline.end());
        std::sort(raw.begin(), raw.end());
        const double bytesPerSecond = pipeline[1], rawPerSecond = raw[1];
        std::printf(
            "Frame packets of %s (%zu bytes)%s: %.1f packets/s, %.0f MB/s; raw bus %.0f MB/s; "
            "ratio %.2f (medians of 3; target >= 0.80)\n",
            size.name, packetSize, allAcked ? "" : " [not all acknowledged]",
            bytesPerSecond / double(packetSize), bytesPerSecond / 1e6, rawPerSecond / 1e6,
            bytesPerSecond / rawPerSecond);
    }
    std::printf("Simulator violations: %llu\n",
                static_cast<unsigned long long>(sim.Stats().violations));
    manager.Stop();
}

}  // namespace

int main() {
    Bench bench;
    ArrivalToNumbers(bench);
    FrameThroughput(bench);
    return 0;
}
