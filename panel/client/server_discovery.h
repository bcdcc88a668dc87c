// The server list dialog's search for services that announce themselves on
// UDP (ServerDiscovery thread).
//
// A search opens a datagram socket on the wildcard address and the
// discovery port (address reuse on), then makes up to 50 attempts, each of
// which waits at most the attempt time-out for one announcement; datagrams
// that are not announcements are skipped, up to 100 in an attempt. The
// first attempt that fails (time-out, too many other datagrams, a socket
// error) ends the search, so every search ends after one quiet time-out.
// Each announcement and the end of each search go to the events.
//
// Threads: the owner (UI thread) constructs, requests searches and stops;
// the discovery thread ("kalmiro-disc") runs the searches and calls the
// events, which should post to the UI thread. `mutex_` guards the request
// and stop flags; it is never held while receiving or calling an event.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "common/thread_annotations.h"
#include "panel/model/panel_discovery.h"

namespace orv::panel {

class ServerDiscovery {
public:
    struct Events {
        std::function<void(Announcement)> found;
        // A search ended by its failed attempt (not by Stop).
        std::function<void()> ended;
    };

    static constexpr int kMaxAttempts = 50;
    static constexpr int kMaxSkippedDatagrams = 100;
    static constexpr std::chrono::milliseconds kAttemptTimeout{10000};

    ServerDiscovery(std::uint16_t port, Events events,
                    std::chrono::milliseconds attemptTimeout = kAttemptTimeout);
    ~ServerDiscovery();  // Stop
    ServerDiscovery(const ServerDiscovery&) = delete;
    ServerDiscovery& operator=(const ServerDiscovery&) = delete;

    // Starts a search when none runs (a request during one is kept for after
    // it).
    void RequestSearch() EXCLUDES(mutex_);
    // Ends the thread within about 100 ms, a search included; joins.
    void Stop() EXCLUDES(mutex_);

private:
    void Run() EXCLUDES(mutex_);
    void Search() EXCLUDES(mutex_);
    bool Stopping() EXCLUDES(mutex_);

    const std::uint16_t port_;
    const Events events_;
    const std::chrono::milliseconds attemptTimeout_;
    Mutex mutex_;
    CondVar changed_;
    bool requested_ GUARDED_BY(mutex_) = false;
    bool stopping_ GUARDED_BY(mutex_) = false;
    std::thread thread_;
};

}  // namespace orv::panel
