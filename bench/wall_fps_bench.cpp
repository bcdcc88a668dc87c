// Frames per second end to end, as real processes: zentrelle with a 2 x 2
// wall of 1280 x 720 monitors (the TestWallLayout registry value), the
// adapter simulator with two adapters of two monitors that check and
// acknowledge every packet at once without decoding it, and
// orv-display-driver cycling 8 precomputed JPEG frames, unpaced. The rate is
// the frames every monitor flipped to per second, from the simulator's flip
// record; each process's CPU (and its busiest thread) over the same window,
// from /proc, says which one holds the wall back.
// Anchor, in the same run: the same driver program against an in-process
// stand-in for the service that releases each half at once (the driver's
// own ceiling). Target: at least 60 frames per second. Two runs: the test
// pattern (flat cells, small packets) and a busy still picture (packets of a
// busy desktop's size).
//
// Every wait has a time-out, and an alarm ends a run that hangs regardless.
//
// Usage: wall_fps_bench [SECONDS measured, default 5]
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "bench/driver_stand_in.h"
#include "common/png/png_io.h"
#include "sim/adapter/control_server.h"
#include "tests/support/child_process.h"

using namespace orv;
using Clock = std::chrono::steady_clock;
using orv::testing::ChildProcess;

namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "wall_fps_bench: %s\n", what.c_str());
    std::exit(1);
}

std::int64_t NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

// On-CPU and run-queue nanoseconds of /proc/<pid>/task/<tid>/schedstat, by
// thread name (names repeat: summed), and of the whole process under "".
struct Times {
    double runNs = 0;
    double waitNs = 0;  // runnable, waiting for a CPU
};
std::map<std::string, Times> Cpu(pid_t pid) {
    std::map<std::string, Times> out;
    const std::string base = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(base.c_str());
    if (dir == nullptr) return out;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const std::string task = base + "/" + e->d_name;
        std::string name;
        Times t;
        std::ifstream(task + "/comm") >> name;
        std::ifstream(task + "/schedstat") >> t.runNs >> t.waitNs;
        out[name].runNs += t.runNs;
        out[name].waitNs += t.waitNs;
        out[""].runNs += t.runNs;
        out[""].waitNs += t.waitNs;
    }
    closedir(dir);
    return out;
}

struct Usage {
    double process = 0;  // cores
    double waiting = 0;  // cores' worth of time runnable but not running
    std::string busiest;
    double busiestCores = 0;
};
Usage UsageBetween(const std::map<std::string, Times>& a, const std::map<std::string, Times>& b,
                   double seconds) {
    Usage u;
    for (const auto& [name, t] : b) {
        const auto before = a.find(name);
        const Times zero;
        const Times& t0 = before == a.end() ? zero : before->second;
        const double cores = (t.runNs - t0.runNs) / 1e9 / seconds;
        if (name.empty()) {
            u.process = cores;
            u.waiting = (t.waitNs - t0.waitNs) / 1e9 / seconds;
        } else if (cores > u.busiestCores) {
            u.busiest = name;
            u.busiestCores = cores;
        }
    }
    return u;
}

// Which monitors ("adapter:port") flipped to each frame, every flip in
// [from, to], from one "flips" answer; added to `seen`.
using FlipSets = std::map<std::uint32_t, std::set<std::string>>;
void CollectFlips(const std::string& flipsAnswer, std::int64_t from, std::int64_t to,
                  FlipSets& seen) {
    if (flipsAnswer.rfind("ok ", 0) != 0) return;
    const auto json = nlohmann::json::parse(flipsAnswer.substr(3));
    for (const auto& m : json["monitors"]) {
        const std::string name =
            m["adapter"].get<std::string>() + ":" + std::to_string(m["port"].get<int>());
        for (const auto& flip : m["flips"]) {
            const auto at = flip[1].get<std::int64_t>();
            if (at >= from && at <= to) seen[flip[0].get<std::uint32_t>()].insert(name);
        }
    }
}
std::size_t OnAllFour(const FlipSets& seen) {
    return static_cast<std::size_t>(std::count_if(
        seen.begin(), seen.end(), [](const auto& s) { return s.second.size() == 4; }));
}

template <typename F>
bool Until(F done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The driver program against the in-process stand-in: frames per second.
double DriverAlone(const std::map<std::string, std::string>& env,
                   const std::vector<std::string>& driverArgs, double seconds) {
    bench::DriverStandIn service;
    std::string error;
    if (!service.Listen(&error)) Fail("listen: " + error);
    std::vector<std::string> argv{DISPLAY_DRIVER, "--port", std::to_string(service.Port())};
    argv.insert(argv.end(), driverArgs.begin(), driverArgs.end());
    ChildProcess driver(argv, env);
    if (!driver.Started() || !service.Connect({2560, 1440, 2, 2}, 224, 10000))
        Fail("the driver did not take the stand-in's view");
    for (int i = 0; i < 5; ++i)  // precomputation and warm-up
        if (!service.ServeFrame(10000)) Fail("no frame from the driver");
    std::uint64_t frames = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
        if (!service.ServeFrame(5000)) Fail("no frame from the driver");
        ++frames;
    }
    const double fps =
        static_cast<double>(frames) / std::chrono::duration<double>(Clock::now() - start).count();
    service.Drop(5000);
    driver.Signal(SIGTERM);
    driver.Wait(std::chrono::seconds(10));
    return fps;
}

// The wall's processes on private folders, ports and IPC names.
struct Setup {
    std::string root;
    std::string ns;
    std::map<std::string, std::string> env;
};

Setup MakeSetup(const std::string& root, int run) {
    Setup s;
    s.root = root;
    s.ns = "fpsbench" + std::to_string(getpid()) + "-" + std::to_string(run);
    const int port = 20000 + (getpid() * 3 + run * 3) % 20000;
    for (const char* d : {"/run", "/rom", "/etc/orv-videowall"})
        std::filesystem::create_directories(root + d);
    s.env = {{"ORV_ROOT", root},
             {"ORV_RUNTIME_DIR", root + "/run"},
             {"ORV_IPC_NAMESPACE", s.ns},
             {"ORV_DRIVER_PORT", std::to_string(port)},
             {"ORV_CONTROL_PORT", std::to_string(port + 1)},
             {"ORV_DISCOVERY_PORT", std::to_string(port + 2)},
             {"ORV_SYSTEMCTL", "/bin/true"}};
    return s;
}

// One measured run with the driver serving `source`; prints its figures.
void Measure(const std::string& root, int run, const std::string& source, const std::string& what,
             double seconds) {
    const Setup setup = MakeSetup(root, run);
    const auto& env = setup.env;
    const std::string control = root + "/run/sim.ctl";
    std::ofstream(root + "/sim.json")
        << R"({"bus": ")" << root << R"(/run/usb", "rom_dir": ")" << root
        << R"(/rom", "control": ")" << control << R"(", "adapters": [
      {"name": "a0", "decode_frames": false, "monitors": [
        {"port": 1, "width": 1280, "height": 720}, {"port": 4, "width": 1280, "height": 720}]},
      {"name": "a1", "decode_frames": false, "monitors": [
        {"port": 1, "width": 1280, "height": 720}, {"port": 4, "width": 1280, "height": 720}]}]})";
    ChildProcess sim({SIMULATOR, "--config", root + "/sim.json"}, env);
    if (!Until([&] { return sim::AskSimulator(control, "list").rfind("ok", 0) == 0; },
               std::chrono::seconds(10)))
        Fail("the simulator did not start");

    std::ofstream(root + "/etc/orv-videowall/registry.conf")
        << "[Software\\ORVVideoWallControlSet]\nTestWallLayout=REG_SZ:2 2 2560 1440 1280 720 "
           "1:0:0 2:1:0 3:0:1 4:1:1\n";
    ChildProcess service({ZENTRELLE}, env);
    const std::string log = root + "/var/log/orv-videowall/ServiceManager.log.txt";
    if (!orv::testing::WaitForFileContaining(log, "--ORVPlugInMonitor::MonitorID=4--",
                                             std::chrono::seconds(30)))
        Fail("the service did not number the four monitors");
    const std::vector<std::string> driverArgs = {"--source",     source, "--fps",       "0",
                                                 "--precompute", "8",    "--report-ms", "0"};
    std::vector<std::string> argv{DISPLAY_DRIVER};
    argv.insert(argv.end(), driverArgs.begin(), driverArgs.end());
    ChildProcess driver(argv, env);
    // Frames flow once every monitor flipped a few times in the last second.
    if (!Until(
            [&] {
                const std::int64_t now = NowMicros();
                FlipSets seen;
                CollectFlips(sim::AskSimulator(control, "flips"), now - 1000000, now, seen);
                return OnAllFour(seen) >= 10;
            },
            std::chrono::seconds(30)))
        Fail("frames did not reach the four monitors");
    std::this_thread::sleep_for(std::chrono::seconds(1));

    const pid_t pids[3] = {service.Pid(), sim.Pid(), driver.Pid()};
    const char* const names[3] = {"zentrelle", "orv-adapter-sim", "orv-display-driver"};
    std::map<std::string, Times> before[3], after[3];
    const std::string statsBefore = sim::AskSimulator(control, "stats");
    for (int i = 0; i < 3; ++i) before[i] = Cpu(pids[i]);
    const std::int64_t from = NowMicros();
    const std::int64_t to = from + static_cast<std::int64_t>(seconds * 1e6);
    // The simulator keeps the last 4096 flips a monitor: read them twice a
    // second so none of the window is lost.
    FlipSets seen;
    while (NowMicros() < to) {
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::clamp<std::int64_t>((to - NowMicros()) / 1000, 0, 500)));
        CollectFlips(sim::AskSimulator(control, "flips"), from, to, seen);
    }
    for (int i = 0; i < 3; ++i) after[i] = Cpu(pids[i]);
    CollectFlips(sim::AskSimulator(control, "flips"), from, to, seen);
    const std::size_t frames = OnAllFour(seen);
    const double window = static_cast<double>(to - from) / 1e6;
    const std::string violations = sim::AskSimulator(control, "violations a0") + "; " +
                                   sim::AskSimulator(control, "violations a1");
    driver.Signal(SIGTERM);
    driver.Wait(std::chrono::seconds(10));
    setenv("ORV_IPC_NAMESPACE", setup.ns.c_str(), 1);  // the stand-in's names
    const double alone = DriverAlone(env, driverArgs, seconds);
    service.Signal(SIGTERM);
    service.Wait(std::chrono::seconds(40));
    sim.Signal(SIGTERM);
    sim.Wait(std::chrono::seconds(10));

    const double fps = static_cast<double>(frames) / window;
    std::printf("== %s, %.1f s\n", what.c_str(), window);
    std::printf(
        "end to end: %.1f frames per second on all four monitors (target >= 60); "
        "simulator violations: %s\n",
        fps, violations.c_str());
    std::printf("anchor, the same driver against a stand-in that releases at once: %.1f fps\n",
                alone);
    std::printf("CPU over the window, in cores (%ld on this machine):\n",
                sysconf(_SC_NPROCESSORS_ONLN));
    double worst = 0, total = 0, waiting = 0;
    int bottleneck = 0;
    for (int i = 0; i < 3; ++i) {
        const Usage u = UsageBetween(before[i], after[i], window);
        total += u.process;
        waiting += u.waiting;
        std::printf("  %-19s %.2f running, %.2f waiting for a CPU  (busiest thread %s %.2f)\n",
                    names[i], u.process, u.waiting, u.busiest.c_str(), u.busiestCores);
        if (u.busiestCores > worst) {
            worst = u.busiestCores;
            bottleneck = i;
        }
    }
    const double cores = static_cast<double>(sysconf(_SC_NPROCESSORS_ONLN));
    if (worst >= 0.8)
        std::printf("bottleneck: %s, whose busiest thread takes a whole core\n", names[bottleneck]);
    else if (total >= 0.9 * cores || waiting >= 0.5 * total)
        std::printf(
            "bottleneck: the machine's cores (the wall's threads waited %.2f cores' worth "
            "for a CPU, beside running %.2f); %s has the busiest thread\n",
            waiting, total, names[bottleneck]);
    else
        std::printf(
            "bottleneck: none saturated; the rate is bound by the round trip of each "
            "frame (route, send, acknowledge, show; at most three in flight), and %s "
            "has the busiest thread\n",
            names[bottleneck]);
}

// A 2560 x 1440 picture of gradients and fine noise: JPEG cells of the size
// a busy desktop gives, where the test pattern's flat cells give small ones.
std::string WriteBusyPicture(const std::string& path) {
    png::Image image;
    image.width = 2560;
    image.height = 1440;
    image.bgrx.resize(std::size_t{image.width} * image.height * 4);
    std::minstd_rand noise(7);
    for (std::size_t y = 0; y < image.height; ++y)
        for (std::size_t x = 0; x < image.width; ++x) {
            std::uint8_t* p = &image.bgrx[(y * image.width + x) * 4];
            const auto n = static_cast<std::size_t>(noise() % 24);
            p[0] = static_cast<std::uint8_t>(x * 255 / image.width + n);
            p[1] = static_cast<std::uint8_t>(y * 255 / image.height + n);
            p[2] = static_cast<std::uint8_t>(((x + y) / 8 % 2 ? 200 : 40) + n / 2);
            p[3] = 0xFF;
        }
    std::string error;
    if (!png::WritePng(path, image, error)) Fail("cannot write " + path + ": " + error);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 5.0;
    alarm(300);  // the default action ends a run that hangs
    orv::testing::TempDir tmp;
    std::printf("2 x 2 wall of 1280 x 720 monitors, 8 precomputed JPEG (224) frames, unpaced\n");
    std::filesystem::create_directories(tmp.Path() + "/pattern");
    Measure(tmp.Path() + "/pattern", 0, "pattern", "test pattern (flat cells)", seconds);
    std::filesystem::create_directories(tmp.Path() + "/busy");
    const std::string busy = WriteBusyPicture(tmp.Path() + "/busy.png");
    Measure(tmp.Path() + "/busy", 1, "still:" + busy, "busy still picture", seconds);
    return 0;
}
