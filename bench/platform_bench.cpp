// Set-to-wake latency of the named events between two processes, beside the
// same ping-pong over a pipe pair and over in-process events (threads).
//
// Each iteration is one round trip: this process signals "ping" and waits for
// "pong", which a forked echo process (or thread) sends back as soon as it
// wakes. The reported counter median_one_way_us is half the median round trip.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/named_event.h"

namespace {

using orv::platform::Event;
using orv::platform::kWaitObject0;
using orv::platform::NamedEvent;

// Runs `roundTrip` once per iteration and reports half the median.
void MeasureRoundTrips(benchmark::State& state, const std::function<void()>& roundTrip) {
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        roundTrip();
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    if (times.empty()) return;
    std::nth_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2),
                     times.end());
    state.counters["median_one_way_us"] = times[times.size() / 2] / 2;
}

void StopEcho(pid_t echo) {
    kill(echo, SIGKILL);
    waitpid(echo, nullptr, 0);
}

void BM_NamedEventPingPong(benchmark::State& state) {
    setenv("ORV_IPC_NAMESPACE", ("bench" + std::to_string(getpid())).c_str(), 1);
    auto ping = NamedEvent::Create("Global\\BenchPing", false, false);
    auto pong = NamedEvent::Create("Global\\BenchPong", false, false);
    if (!ping || !pong) return state.SkipWithError("cannot create the events");
    const pid_t echo = fork();
    if (echo == 0) {
        auto in = NamedEvent::Open("Global\\BenchPing");
        auto out = NamedEvent::Open("Global\\BenchPong");
        while (in && out && in->Wait() == kWaitObject0) out->Set();
        _exit(1);
    }
    MeasureRoundTrips(state, [&] {
        ping->Set();
        pong->Wait();
    });
    StopEcho(echo);
}
BENCHMARK(BM_NamedEventPingPong)->Iterations(20000);

void BM_PipePingPong(benchmark::State& state) {
    int there[2];
    int back[2];
    if (pipe(there) != 0 || pipe(back) != 0) return state.SkipWithError("pipe failed");
    const pid_t echo = fork();
    if (echo == 0) {
        char b;
        while (read(there[0], &b, 1) == 1 && write(back[1], &b, 1) == 1) {
        }
        _exit(1);
    }
    MeasureRoundTrips(state, [&] {
        char b = 'p';
        if (write(there[1], &b, 1) != 1 || read(back[0], &b, 1) != 1)
            state.SkipWithError("pipe broke");
    });
    StopEcho(echo);
    for (int fd : {there[0], there[1], back[0], back[1]}) close(fd);
}
BENCHMARK(BM_PipePingPong)->Iterations(20000);

void BM_InProcessEventPingPong(benchmark::State& state) {
    Event ping;
    Event pong;
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        for (;;) {
            ping.Wait();
            if (stop) break;
            pong.Set();
        }
    });
    MeasureRoundTrips(state, [&] {
        ping.Set();
        pong.Wait();
    });
    stop = true;
    ping.Set();
    echo.join();
}
BENCHMARK(BM_InProcessEventPingPong)->Iterations(20000);

}  // namespace
