#include "panel/client/server_discovery.h"

#include <Poco/Exception.h>
#include <Poco/Net/DatagramSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <vector>

#include "panel/model/panel_log.h"
#include "platform/thread_name.h"

namespace orv::panel {
namespace {
// How often a waiting receive looks at the stop flag.
constexpr std::chrono::milliseconds kStopPoll{100};
constexpr std::size_t kDatagramBuffer = 64 * 1024;
}  // namespace

ServerDiscovery::ServerDiscovery(std::uint16_t port, Events events,
                                 std::chrono::milliseconds attemptTimeout)
    : port_(port), events_(std::move(events)), attemptTimeout_(attemptTimeout) {
    thread_ = std::thread([this] { Run(); });
}

ServerDiscovery::~ServerDiscovery() {
    Stop();
}

void ServerDiscovery::RequestSearch() {
    MutexLock lock(mutex_);
    requested_ = true;
    changed_.NotifyAll();
}

void ServerDiscovery::Stop() {
    {
        MutexLock lock(mutex_);
        stopping_ = true;
        changed_.NotifyAll();
    }
    if (thread_.joinable()) thread_.join();
}

bool ServerDiscovery::Stopping() {
    MutexLock lock(mutex_);
    return stopping_;
}

void ServerDiscovery::Run() {
    platform::SetCurrentThreadName("kalmiro-disc");
    for (;;) {
        {
            MutexLock lock(mutex_);
            while (!requested_ && !stopping_) changed_.Wait(mutex_);
            if (stopping_) return;
            requested_ = false;
        }
        Search();
    }
}

void ServerDiscovery::Search() {
    Poco::Net::DatagramSocket socket;
    try {
        socket.bind(Poco::Net::SocketAddress("0.0.0.0", port_), true);
    } catch (const Poco::Exception& e) {
        PanelLog("discovery cannot listen on UDP port %u: %s", port_, e.displayText().c_str());
        if (events_.ended) events_.ended();
        return;
    }
    std::vector<std::uint8_t> buffer(kDatagramBuffer);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        bool found = false;
        int skipped = 0;
        const auto deadline = std::chrono::steady_clock::now() + attemptTimeout_;
        while (!found && skipped < kMaxSkippedDatagrams) {
            if (Stopping()) return;
            if (std::chrono::steady_clock::now() >= deadline) break;
            try {
                if (!socket.poll(Poco::Timespan(kStopPoll.count() * 1000),
                                 Poco::Net::Socket::SELECT_READ)) {
                    continue;
                }
                const int n = socket.receiveBytes(buffer.data(), static_cast<int>(buffer.size()));
                const auto a = ParseAnnouncement(
                    bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(n)));
                if (!a) {
                    ++skipped;
                    continue;
                }
                found = true;
                if (events_.found) events_.found(*a);
            } catch (const Poco::Exception& e) {
                PanelLog("discovery receive failed: %s", e.displayText().c_str());
                break;
            }
        }
        if (!found) break;
    }
    if (events_.ended && !Stopping()) events_.ended();
}

}  // namespace orv::panel
