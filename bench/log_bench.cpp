// Cost of one Log call as the caller sees it, beside spdlog's asynchronous
// logger writing the same lines to a file in the same run.
//
// Each round times a batch of calls on the calling thread only (the writer
// threads do the file work in the background), then waits, untimed, until the
// writer has caught up, so both loggers are measured with a drained queue.
// Prints the median and 90th percentile of the per-call cost over the rounds.
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "service/log/logger.h"

namespace {

constexpr int kRounds = 200;
constexpr int kBatch = 256;
const char* const kLine = "+ SendControlCommand: error :r=0,DataSize=48 +\n";

struct Figures {
    double median, p90;
};

Figures Measure(const std::function<void()>& call, const std::function<void()>& drain) {
    std::vector<double> perCall;
    for (int r = 0; r < kRounds; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatch; ++i) call();
        const auto t1 = std::chrono::steady_clock::now();
        perCall.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / kBatch);
        drain();
    }
    std::sort(perCall.begin(), perCall.end());
    return {perCall[perCall.size() / 2], perCall[perCall.size() * 9 / 10]};
}

}  // namespace

int main() {
    const auto dir =
        std::filesystem::temp_directory_path() / ("orv-log-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);

    orv::log::Logger ours(dir.string());
    const Figures a = Measure([&] { ours.Log({1, kLine, 0}); }, [&] { ours.Flush(); });

    spdlog::init_thread_pool(8192, 1);
    auto theirs = spdlog::create_async<spdlog::sinks::basic_file_sink_mt>(
        "bench", (dir / "spdlog.txt").string());
    theirs->set_pattern("%Y-%m-%d-%H-%M-%S-%e: %v");
    const Figures b = Measure([&] { theirs->info(kLine); },
                              [&] {
                                  while (spdlog::thread_pool()->queue_size() != 0)
                                      std::this_thread::yield();
                              });
    spdlog::shutdown();

    std::printf("Log call cost, ns per call (median / p90 over %d rounds of %d calls)\n", kRounds,
                kBatch);
    std::printf("  orv Logger::Log          %8.1f / %8.1f\n", a.median, a.p90);
    std::printf("  spdlog async logger      %8.1f / %8.1f   (anchor)\n", b.median, b.p90);
    std::printf("  ratio ours/anchor (median) %.2f  (target <= 1.00)\n", a.median / b.median);
    std::filesystem::remove_all(dir);
    return 0;
}
