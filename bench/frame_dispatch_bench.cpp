// The service's own work per frame on a 3 x 3 wall of 1920 x 1080 monitors
// fed JPEG (224) packets of 1080p pictures.
//
// In process: CFrameDispatch over a view block in memory, its grid holding
// the monitors of five real COvwAdapters that the device manager brought up
// on five simulated adapters (two monitors each, the last one), linked
// through COvwCommUSB and SimUsb as in the service. The simulated adapters
// check and acknowledge every packet at once without decoding its picture.
// The bench plays the display driver: it writes the nine slots into the free
// half and signals it, as fast as the dispatch releases the halves.
//
// Measured: the CPU time of the service's frame-path threads (frame thread,
// completion worker, each adapter's send thread and notification reader),
// from /proc/self/task/*/schedstat, per frame shown. Anchor, in the same run:
// per frame, for each of the nine packets, one memcpy into a 3 MiB buffer and
// one write of it on a Unix stream socket that a reader thread drains; the
// writing thread's CPU time. Target: the service at most 1.25 x the anchor.
//
// Every wait has a time-out, and an alarm ends a run that hangs regardless.
//
// Usage: frame_dispatch_bench [FRAMES a round, default 300]
#include <dirent.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "platform/named_event.h"
#include "protocol/driver/driver_protocol.h"
#include "service/device/device_manager.h"
#include "service/firmware/firmware_updater.h"
#include "service/frame/frame_dispatch.h"
#include "sim/adapter/sim_adapter.h"
#include "sim/adapter/sim_log.h"
#include "sim/driver/cell_encoder.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace orv;
using Clock = std::chrono::steady_clock;
namespace drv = orv::driver;

constexpr int kColumns = 3, kRows = 3, kWidth = 1920, kHeight = 1080;
constexpr std::uint32_t kWaitMs = 3000;  // any single wait; far beyond a frame

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "frame_dispatch_bench: %s\n", what);
    std::exit(1);
}

template <typename F>
bool Until(F done, std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// On-CPU nanoseconds of this process's threads, summed by thread name.
std::map<std::string, std::uint64_t> ThreadCpuByName() {
    std::map<std::string, std::uint64_t> out;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) return out;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::string name;
        std::uint64_t ns = 0;
        std::ifstream(task + "/comm") >> name;
        std::ifstream(task + "/schedstat") >> ns;
        out[name] += ns;
    }
    closedir(dir);
    return out;
}

std::uint64_t ThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(t.tv_nsec);
}

// A 1080p picture with gradients and fine noise, so its JPEG has the size of
// a busy desktop's rather than a flat colour's; encoded as the display driver
// encodes a cell.
std::vector<std::uint8_t> Encode1080p(std::uint32_t seed) {
    driver::Picture picture;
    picture.width = kWidth;
    picture.height = kHeight;
    picture.bgrx.resize(std::size_t{kWidth} * kHeight * 4);
    std::minstd_rand noise(seed);
    for (std::size_t y = 0; y < kHeight; ++y)
        for (std::size_t x = 0; x < kWidth; ++x) {
            std::uint8_t* p = &picture.bgrx[(y * kWidth + x) * 4];
            const auto n = static_cast<std::size_t>(noise() % 24);
            p[0] = static_cast<std::uint8_t>(x * 255 / kWidth + n);
            p[1] = static_cast<std::uint8_t>(y * 255 / kHeight + n + seed * 40);
            p[2] = static_cast<std::uint8_t>(((x + y) / 8 % 2 ? 200 : 40) + n / 2);
            p[3] = 0xFF;
        }
    std::vector<std::uint8_t> packet(drv::kMaxPacketSize);
    driver::CellEncoder encoder;
    const std::uint32_t n = encoder.Encode(picture, {kWidth, kHeight, 1, 1, 0}, 0, 0,
                                           adapter::kCompressJpegFromYuv, 85, packet);
    if (n <= adapter::kHeaderSize) Fail("the JPEG encoder failed");
    packet.resize(n);
    return packet;
}

// The anchor: CPU nanoseconds per frame of a memcpy of each packet into a
// buffer of its own (as each is copied into its adapter's buffer) plus one
// write of it on a Unix stream socket; and of the copies alone.
//
// And the same copies and writes placed as the service must place them: the
// packets freshly written by another thread (the driver fills the slots just
// before the service reads them), copied by one thread (the frame thread) and
// written by another (the adapter's send thread). The bytes then cross cores
// twice, which the plain anchor never pays; the difference between the two
// is the floor that the service's thread layout sets, apart from anything the
// service does.
struct Anchor {
    double totalNs = 0;
    double copyNs = 0;
    double handedOverNs = 0;
};
Anchor AnchorPerFrame(const std::vector<std::vector<std::uint8_t>>& packets, int frames) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) Fail("socketpair");
    std::thread reader([fd = sv[1]] {
        std::vector<std::uint8_t> buffer(1u << 20);
        while (read(fd, buffer.data(), buffer.size()) > 0) {
        }
    });
    std::vector<std::vector<std::uint8_t>> copies(packets.size(),
                                                  std::vector<std::uint8_t>(drv::kMaxPacketSize));
    Anchor a;
    std::uint64_t t0 = ThreadCpuNs();
    for (int f = 0; f < frames; ++f)
        for (std::size_t i = 0; i < packets.size(); ++i)
            std::memcpy(copies[i].data(), packets[i].data(), packets[i].size());
    a.copyNs = static_cast<double>(ThreadCpuNs() - t0) / frames;
    t0 = ThreadCpuNs();
    for (int f = 0; f < frames; ++f)
        for (std::size_t i = 0; i < packets.size(); ++i) {
            std::memcpy(copies[i].data(), packets[i].data(), packets[i].size());
            for (std::size_t done = 0; done < packets[i].size();) {
                const ssize_t n = write(sv[0], copies[i].data() + done, packets[i].size() - done);
                if (n <= 0) Fail("anchor write");
                done += static_cast<std::size_t>(n);
            }
        }
    a.totalNs = static_cast<double>(ThreadCpuNs() - t0) / frames;

    std::vector<std::vector<std::uint8_t>> fresh = packets;
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t queued = 0, written = 0;  // packets handed to the writer, and written
    std::uint64_t writerNs = 0;
    std::thread writer([&] {
        const std::uint64_t start = ThreadCpuNs();
        for (std::size_t next = 0;; ++next) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return queued > next || queued == SIZE_MAX; });
                if (queued == SIZE_MAX) break;
            }
            const std::size_t i = next % packets.size();
            for (std::size_t done = 0; done < packets[i].size();) {
                const ssize_t n = write(sv[0], copies[i].data() + done, packets[i].size() - done);
                if (n <= 0) Fail("anchor write");
                done += static_cast<std::size_t>(n);
            }
            {
                std::lock_guard lock(mutex);
                ++written;
            }
            changed.notify_all();
        }
        writerNs = ThreadCpuNs() - start;
    });
    std::uint64_t copierNs = 0;
    for (int f = 0; f < frames; ++f) {
        std::thread([&] {
            for (std::size_t i = 0; i < fresh.size(); ++i)
                std::memcpy(fresh[i].data(), packets[(i + f) % packets.size()].data(),
                            std::min(fresh[i].size(), packets[(i + f) % packets.size()].size()));
        }).join();
        t0 = ThreadCpuNs();
        for (std::size_t i = 0; i < packets.size(); ++i) {
            std::memcpy(copies[i].data(), fresh[i].data(), packets[i].size());
            {
                std::lock_guard lock(mutex);
                ++queued;
            }
            changed.notify_all();
        }
        copierNs += ThreadCpuNs() - t0;
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return written == queued; });
    }
    {
        std::lock_guard lock(mutex);
        queued = SIZE_MAX;
    }
    changed.notify_all();
    writer.join();
    a.handedOverNs = static_cast<double>(copierNs + writerNs) / frames;
    shutdown(sv[0], SHUT_WR);
    reader.join();
    close(sv[0]);
    close(sv[1]);
    return a;
}

struct Rig {
    test::TempDir tmp;
    std::vector<std::unique_ptr<sim::SimAdapter>> sims;
    std::unique_ptr<device::COvwDeviceManager> manager;
    std::vector<adapter::COvwMonitor*> monitors;  // wall order: column-major

    Rig() {
        namespace fs = std::filesystem;
        fs::create_directories(tmp.Path() + "/usb");
        fs::create_directories(tmp.Path() + "/rom");
        fs::create_directories(tmp.Path() + "/etc/orv-videowall");
        // The installed firmware matches the simulated one: no update.
        std::ofstream(tmp.Path() + "/etc/orv-videowall/registry.conf")
            << "[Software\\ORVVideoWallInfo]\nFirmwareVersion=REG_SZ:00.00.1400.0001\n"
               "LayoutVersion=REG_SZ:1\n";
        setenv("ORV_ROOT", tmp.Path().c_str(), 1);
        setenv("ORV_RUNTIME_DIR", tmp.Path().c_str(), 1);
        const std::string ns = "dispatchbench" + std::to_string(getpid());
        setenv("ORV_IPC_NAMESPACE", ns.c_str(), 1);
    }

    void Start() {
        device::DeviceManagerServices s;
        s.enumerate = [] { return std::vector<std::string>{}; };
        s.versionCheck = firmware::CheckAdapterFirmware;
        s.compressionCode = [] { return std::uint32_t{adapter::kCompressJpegFromYuv}; };
        manager = std::make_unique<device::COvwDeviceManager>(s);
        manager->Start();
        sim::SimConfig config;
        config.busDir = tmp.Path() + "/usb";
        config.romDir = tmp.Path() + "/rom";
        // Two monitors an adapter (a wall topology has two screens).
        constexpr int kMonitors = kColumns * kRows;
        for (int i = 0; 2 * i < kMonitors; ++i) {
            sim::AdapterConfig a;
            a.name = "a" + std::to_string(i);
            a.romSize = 0x10000;
            a.decodeFrames = false;
            for (int j = 0; j < 2 && 2 * i + j < kMonitors; ++j) {
                sim::MonitorConfig m;
                m.port = j == 0 ? 0x01 : 0x04;
                m.width = kWidth;
                m.height = kHeight;
                a.monitors.push_back(m);
            }
            config.adapters.push_back(a);
        }
        std::string error;
        if (!sim::FinishConfig(config, &error)) Fail(error.c_str());
        for (std::size_t i = 0; i < config.adapters.size(); ++i) {
            sims.push_back(sim::SimAdapter::Create(config.adapters[i], i, config.busDir, &error));
            if (!sims.back() || !sims.back()->Attach(&error)) Fail(error.c_str());
            const std::string path = sims.back()->SocketPath();
            manager->USBAdapterPlugIn(path);
            adapter::COvwAdapter* a = manager->AdapterByPath(path);
            const std::size_t want = config.adapters[i].monitors.size();
            if (a == nullptr || !Until([&] { return a->Monitors().size() == want; }))
                Fail("an adapter did not come up with its monitors");
            for (adapter::COvwMonitor* m : a->Monitors()) monitors.push_back(m);
        }
    }
    std::uint64_t Violations() const {
        std::uint64_t v = 0;
        for (const auto& s : sims) v += s->Stats().violations;
        return v;
    }
    std::uint64_t Acks() const {
        std::uint64_t v = 0;
        for (const auto& s : sims) v += s->Stats().acks;
        return v;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    alarm(300);  // the default action ends a run that hangs
    sim::SetSimLogQuiet(true);
    Rig rig;
    rig.Start();

    std::vector<std::vector<std::uint8_t>> packets;
    for (std::uint32_t i = 0; i < kColumns * kRows; ++i) packets.push_back(Encode1080p(i));
    std::size_t bytes = 0;
    for (const auto& p : packets) bytes += p.size();
    std::printf(
        "3 x 3 wall of %d x %d monitors on %zu simulated adapters, JPEG packets of %zu "
        "bytes a frame (%zu KiB a monitor)\n",
        kWidth, kHeight, rig.sims.size(), bytes, bytes / packets.size() / 1024);

    const drv::ShareLayout layout =
        *drv::LayoutFor({kColumns * kWidth, kRows * kHeight, kColumns, kRows});
    std::vector<std::uint8_t> block(layout.size);
    std::array<std::unique_ptr<platform::NamedEvent>, 4> owned;
    std::array<platform::NamedEvent*, 4> events{};
    for (std::size_t i = 0; i < 4; ++i) {
        owned[i] = platform::NamedEvent::Create(drv::kEventNames[i], false, false);
        if (!owned[i]) Fail("cannot create the view's events");
        owned[i]->Reset();
        events[i] = owned[i].get();
    }
    frame::CFrameDispatch dispatch(block, layout, events);
    wall::WallGrid grid(kColumns, kRows, kColumns * kWidth, kRows * kHeight, kWidth, kHeight);
    {
        MutexLock lock(wall::WallLayoutLock);
        for (std::size_t k = 0; k < rig.monitors.size(); ++k) {
            const int column = static_cast<int>(k) / kRows, row = static_cast<int>(k) % kRows;
            rig.monitors[k]->Place(column, row, {kWidth, kHeight, 32, 60, 0});
            grid.SetCell(column, row, rig.monitors[k]);
        }
        dispatch.LinkGrid(&grid);
        dispatch.SetIdle(false);
    }
    dispatch.Start();

    // The driver's side: one frame into the next half once the dispatch has
    // released it.
    int next = 0;
    bool used[2] = {false, false};
    auto publish = [&] {
        const int half = next;
        next = 1 - next;
        if (used[half] &&
            events[half == 0 ? drv::kEventHalf1Released : drv::kEventHalf2Released]->Wait(
                kWaitMs) != platform::kWaitObject0)
            Fail("the dispatch did not release a half in time");
        used[half] = true;
        const bytes::MutBytes bytes =
            bytes::MutBytes(block).subspan(layout.HalfOffset(half + 1), layout.half);
        std::uint32_t slot = 0;
        for (std::uint32_t column = 0; column < kColumns; ++column)
            for (std::uint32_t row = 0; row < kRows; ++row, ++slot)
                if (!drv::WriteFrameSlot(bytes, layout, slot, column, row, packets[slot]))
                    Fail("a packet does not fit its slot");
        drv::WriteSlotCount(bytes, layout, static_cast<std::uint16_t>(slot));
        events[half == 0 ? drv::kEventHalf1Ready : drv::kEventHalf2Ready]->Set();
    };
    auto shownAtLeast = [&](std::uint64_t n) {
        return Until([&] { return dispatch.Stats().shownFrames >= n; },
                     std::chrono::milliseconds(kWaitMs * 4));
    };

    // Warm up: the mode sets are done and the pools are filled.
    constexpr int kWarmUp = 20;
    for (int f = 0; f < kWarmUp; ++f) publish();
    if (!shownAtLeast(kWarmUp - 2)) Fail("no frame was shown during the warm-up");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    // One round of `frames` frames: the service's CPU per frame shown, by
    // thread name.
    struct Round {
        double ns = 0;
        std::map<std::string, double> byThread;
    };
    const char* const kServiceThreads[] = {"orv-frame", "orv-complete", "orv-ad-send",
                                           "orv-ad-notify"};
    std::uint64_t shown = 0, acks = 0;
    double seconds = 0;
    auto serviceRound = [&] {
        const std::uint64_t shownBefore = dispatch.Stats().shownFrames;
        const std::uint64_t acksBefore = rig.Acks();
        const auto cpuBefore = ThreadCpuByName();
        const auto t0 = Clock::now();
        for (int f = 0; f < frames; ++f) publish();
        if (!shownAtLeast(shownBefore + static_cast<std::uint64_t>(frames) - 2))
            Fail("the frames were not all shown");
        seconds += std::chrono::duration<double>(Clock::now() - t0).count();
        const auto cpuAfter = ThreadCpuByName();
        const std::uint64_t n = dispatch.Stats().shownFrames - shownBefore;
        shown += n;
        acks += rig.Acks() - acksBefore;
        Round r;
        for (const char* name : kServiceThreads) {
            const auto b = cpuBefore.find(name), after = cpuAfter.find(name);
            if (after == cpuAfter.end()) continue;
            const double ns =
                static_cast<double>(after->second - (b == cpuBefore.end() ? 0 : b->second)) /
                static_cast<double>(n);
            r.byThread[name] = ns;
            r.ns += ns;
        }
        return r;
    };

    // Three rounds of each, interleaved, so a change of load on the machine
    // hits both; the medians are compared.
    const frame::FrameStats before = dispatch.Stats();
    std::vector<Round> rounds;
    std::vector<Anchor> anchors;
    for (int round = 0; round < 3; ++round) {
        rounds.push_back(serviceRound());
        anchors.push_back(AnchorPerFrame(packets, frames));
    }
    const frame::FrameStats after = dispatch.Stats();
    dispatch.Stop();
    std::sort(rounds.begin(), rounds.end(),
              [](const Round& x, const Round& y) { return x.ns < y.ns; });
    std::sort(anchors.begin(), anchors.end(),
              [](const Anchor& x, const Anchor& y) { return x.totalNs < y.totalNs; });
    const double serviceNs = rounds[1].ns, anchorNs = anchors[1].totalNs;
    std::string breakdown;
    for (const auto& [name, ns] : rounds[1].byThread) {
        char part[96];
        std::snprintf(part, sizeof part, "%s%s %.0f us", breakdown.empty() ? "" : ", ",
                      name.c_str(), ns / 1000);
        breakdown += part;
    }

    std::printf(
        "%llu frames shown in %.2f s (%.1f fps), %llu acknowledgements, %llu dropped, "
        "%llu acknowledgement time-outs, %llu refused slots, %llu violations\n",
        static_cast<unsigned long long>(shown), seconds, static_cast<double>(shown) / seconds,
        static_cast<unsigned long long>(acks),
        static_cast<unsigned long long>(after.droppedFrames - before.droppedFrames),
        static_cast<unsigned long long>(after.ackTimeouts - before.ackTimeouts),
        static_cast<unsigned long long>(after.badSlots - before.badSlots),
        static_cast<unsigned long long>(rig.Violations()));
    std::printf("service CPU per frame: %.0f us (%s); rounds %.0f, %.0f, %.0f us\n",
                serviceNs / 1000, breakdown.c_str(), rounds[0].ns / 1000, rounds[1].ns / 1000,
                rounds[2].ns / 1000);
    std::printf(
        "anchor, memcpy + one Unix-socket write of each of the 9 packets: %.0f us per "
        "frame, of which the copies %.0f us; rounds %.0f, %.0f, %.0f us\n",
        anchorNs / 1000, anchors[1].copyNs / 1000, anchors[0].totalNs / 1000,
        anchors[1].totalNs / 1000, anchors[2].totalNs / 1000);
    std::printf(
        "the same bytes handed over as the service must (written by one thread, copied by a "
        "second, written to the socket by a third): %.0f us per frame, %.2f x the anchor\n",
        anchors[1].handedOverNs / 1000, anchors[1].handedOverNs / anchorNs);
    std::printf("ratio %.2f (medians of 3; target <= 1.25); against the handed-over bytes %.2f\n",
                serviceNs / anchorNs, serviceNs / anchors[1].handedOverNs);
    rig.manager->Stop();
    return 0;
}
