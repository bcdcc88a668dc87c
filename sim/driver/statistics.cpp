#include "sim/driver/statistics.h"

#include <algorithm>

namespace orv::driver {
namespace {

double Percentile(std::vector<std::int64_t>& us, double q) {
    const std::size_t k = static_cast<std::size_t>(q * static_cast<double>(us.size() - 1) + 0.5);
    std::nth_element(us.begin(), us.begin() + static_cast<std::ptrdiff_t>(k), us.end());
    return static_cast<double>(us[k]) / 1000.0;
}

}  // namespace

LatencySummary Summarise(std::vector<std::int64_t>& us) {
    LatencySummary s;
    s.samples = us.size();
    if (us.empty()) return s;
    s.medianMs = Percentile(us, 0.5);
    s.p99Ms = Percentile(us, 0.99);
    return s;
}

void Statistics::AddFrame() {
    MutexLock lock(mutex_);
    ++frames_;
    ++intervalFrames_;
}

void Statistics::AddRelease(std::int64_t latencyUs) {
    MutexLock lock(mutex_);
    interval_.push_back(latencyUs);
    if (all_.size() < kSamplesKept)
        all_.push_back(latencyUs);
    else
        all_[releases_ % kSamplesKept] = latencyUs;
    ++releases_;
}

void Statistics::AddFallbacks(std::uint64_t n) {
    MutexLock lock(mutex_);
    fallbacks_ += n;
}

Statistics::Interval Statistics::TakeInterval() {
    std::vector<std::int64_t> samples;
    Interval out;
    {
        MutexLock lock(mutex_);
        samples.swap(interval_);
        out.frames = intervalFrames_;
        intervalFrames_ = 0;
    }
    out.latency = Summarise(samples);
    return out;
}

Statistics::Totals Statistics::Total() const {
    std::vector<std::int64_t> samples;
    Totals out;
    {
        MutexLock lock(mutex_);
        samples = all_;
        out.frames = frames_;
        out.releases = releases_;
        out.fallbacks = fallbacks_;
    }
    out.latency = Summarise(samples);
    return out;
}

}  // namespace orv::driver
