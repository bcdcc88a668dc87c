// The display driver's counters: frames handed to the service and the latency
// from a half's "new frame" event to its release, per report interval and in
// total.
//
// Any thread; one leaf lock (mutex_), held only to update or copy.
#pragma once

#include <cstdint>
#include <vector>

#include "common/thread_annotations.h"

namespace orv::driver {

struct LatencySummary {
    std::uint64_t samples = 0;
    double medianMs = 0;
    double p99Ms = 0;
};

// The median and 99th percentile of `us` (microseconds); reorders `us`.
LatencySummary Summarise(std::vector<std::int64_t>& us);

class Statistics {
public:
    void AddFrame();
    void AddRelease(std::int64_t latencyUs);
    void AddFallbacks(std::uint64_t n);

    struct Interval {
        std::uint64_t frames = 0;
        LatencySummary latency;
    };
    // What happened since the previous call; starts the next interval.
    Interval TakeInterval();

    struct Totals {
        std::uint64_t frames = 0;
        std::uint64_t releases = 0;
        std::uint64_t fallbacks = 0;
        LatencySummary latency;  // over the most recent kSamplesKept releases
    };
    Totals Total() const;

    static constexpr std::size_t kSamplesKept = 1u << 20;

private:
    mutable Mutex mutex_;
    std::uint64_t frames_ GUARDED_BY(mutex_) = 0;
    std::uint64_t releases_ GUARDED_BY(mutex_) = 0;
    std::uint64_t fallbacks_ GUARDED_BY(mutex_) = 0;
    std::uint64_t intervalFrames_ GUARDED_BY(mutex_) = 0;
    std::vector<std::int64_t> interval_ GUARDED_BY(mutex_);
    std::vector<std::int64_t> all_ GUARDED_BY(mutex_);  // a ring once full
};

}  // namespace orv::driver
