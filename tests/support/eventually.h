// Waiting for a condition that other threads or processes make true.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace orv::test {

// Polls `condition` every 5 ms for at most `timeout`; its last answer. The
// bound is generous for a loaded machine: the behaviour under test has no
// deadline of its own.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

}  // namespace orv::test
