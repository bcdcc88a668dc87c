// Reading simulated monitors' flip records (sim::Flip) for tests of frames
// across a wall: whether every monitor flipped often enough, and whether all
// flipped to the same frames. Records come from the simulator's "flips"
// command or from in-process simulated adapters.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/adapter/sim_adapter.h"

namespace orv::testing {

// Each monitor's flips, oldest first, by "adapter:port".
using FlipRecords = std::map<std::string, std::vector<sim::Flip>>;

// The records of in-process simulated adapters.
inline FlipRecords RecordsOf(const std::vector<const sim::SimAdapter*>& adapters) {
    FlipRecords out;
    for (const sim::SimAdapter* a : adapters)
        for (const sim::MonitorFlips& m : a->Flips())
            out[a->Name() + ":" + std::to_string(m.port)] = m.flips;
    return out;
}

// Now on the clock the flip times use.
inline std::int64_t NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// True once each of `monitors` has flipped `count` times after `sinceUs`,
// reading the records with `read` every 100 ms for at most `timeout`.
inline bool EachFlippedSince(const std::function<FlipRecords()>& read,
                             const std::vector<std::string>& monitors, std::int64_t sinceUs,
                             int count, std::chrono::seconds timeout) {
    for (auto deadline = std::chrono::steady_clock::now() + timeout;
         std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
        const FlipRecords all = read();
        const bool done = std::all_of(monitors.begin(), monitors.end(), [&](const std::string& m) {
            const auto it = all.find(m);
            return it != all.end() &&
                   std::count_if(it->second.begin(), it->second.end(),
                                 [&](const sim::Flip& f) { return f.atUs > sinceUs; }) >= count;
        });
        if (done) return true;
    }
    return false;
}

// The frames every record covers: from the latest first frame to the
// earliest last one. Empty (from >= to) when some record is empty or they
// share no span.
struct FlipWindow {
    std::uint32_t from = 0, to = 0;
    bool Shared() const { return from < to; }
};

inline FlipWindow CommonWindow(const FlipRecords& records) {
    FlipWindow w{0, ~0u};
    for (const auto& [name, flips] : records) {
        if (flips.empty()) return {};
        w.from = std::max(w.from, flips.front().frame);
        w.to = std::min(w.to, flips.back().frame);
    }
    return records.empty() ? FlipWindow{} : w;
}

// The frames a record flipped to within `w`.
inline std::set<std::uint32_t> FramesWithin(const std::vector<sim::Flip>& flips, FlipWindow w) {
    std::set<std::uint32_t> frames;
    for (const sim::Flip& f : flips)
        if (f.frame >= w.from && f.frame <= w.to) frames.insert(f.frame);
    return frames;
}

// Reads records until all of `monitors` cover a common window (one adapter
// may run a frame or two behind another on a loaded machine), at most 50
// reads; then expects every monitor to have flipped to the same frames
// within it: none skipped on one monitor and shown on another. False when no
// window was found.
inline bool ExpectFlippedInStep(const std::function<FlipRecords()>& read, std::size_t monitors) {
    FlipRecords records;
    FlipWindow window;
    for (int i = 0; i < 50 && !window.Shared(); ++i) {
        records = read();
        window = records.size() == monitors ? CommonWindow(records) : FlipWindow{};
    }
    if (!window.Shared()) return false;
    const std::set<std::uint32_t> first = FramesWithin(records.begin()->second, window);
    for (const auto& [name, flips] : records) EXPECT_EQ(FramesWithin(flips, window), first) << name;
    return true;
}

}  // namespace orv::testing
