// The control channel on loopback, beside its anchor in the same run:
//   round trip  a 0x42 request and its 5-byte answer through COvwCommUI,
//               against a bare echo of 5 bytes over the same TCP helpers
//               (Poco::Net), median and p99;
//   notices     0x57 notices a second that one panel receives while four
//               threads report monitors arriving.
// Prints its figures; run by hand: build/bench/control_bench [round trips]
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/tcp.h"
#include "protocol/control/control_protocol.h"
#include "service/control/comm_ui.h"
#include "service/wall/ui.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace ctl = orv::control;

struct Figures {
    double medianUs = 0, p99Us = 0;
};

Figures Summarise(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

// Sends `request` and reads until `answerSize` bytes are back, `n` times.
std::vector<double> RoundTrips(orv::net::TcpConnection& c, const std::vector<std::uint8_t>& request,
                               std::size_t answerSize, int n) {
    std::vector<double> us;
    std::array<std::uint8_t, 256> buffer{};
    for (int i = 0; i < n; ++i) {
        const auto start = Clock::now();
        if (!c.Send(request)) break;
        std::size_t got = 0;
        while (got < answerSize) {
            const long r = c.Receive(buffer);
            if (r <= 0) return us;
            got += static_cast<std::size_t>(r);
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return us;
}

Figures Echo(int n) {
    auto listener = orv::net::TcpListener::Listen(0, false);
    std::thread server([&] {
        auto c = listener->Accept();
        std::array<std::uint8_t, 256> buffer{};
        for (long r; c && (r = c->Receive(buffer)) > 0;)
            c->Send(orv::bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(r)));
    });
    auto client = orv::net::TcpConnection::Connect("127.0.0.1", listener->Port());
    const Figures f = Summarise(RoundTrips(*client, {0x42, 0, 0, 0, 0}, 5, n));
    client.reset();
    server.join();
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::max(10, atoi(argv[1])) : 300;
    const std::string root =
        std::filesystem::temp_directory_path() / ("orv-control-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(root);
    setenv("ORV_ROOT", root.c_str(), 1);  // the service log goes there
    {
        orv::wall::COvwUI ui(root + "/config.ini");
        ctl::ControlChannelOptions options;
        options.port = 0;
        auto owned = std::make_unique<ctl::COvwCommUI>(ui, options);
        ctl::COvwCommUI* server = owned.get();
        ui.SetControlChannel(std::move(owned));
        if (server->Connect() != 1) return 1;
        auto panel = orv::net::TcpConnection::Connect("127.0.0.1", server->Port());
        if (!panel) return 1;

        const Figures echo = Echo(n);
        const Figures control =
            Summarise(RoundTrips(*panel, ctl::EncodeRequest(ctl::GetEncodeMode{}), 5, n));
        std::printf("round trip over loopback, %d each (us)   median      p99\n", n);
        std::printf("  bare TCP echo (Poco::Net)             %8.1f %8.1f\n", echo.medianUs,
                    echo.p99Us);
        std::printf("  control channel 0x42 -> 0x42          %8.1f %8.1f\n", control.medianUs,
                    control.p99Us);
        std::printf("  (the server thread sleeps 10 ms after each receive)\n");

        // Notices: four threads report arrivals of ids 1..64 while the panel
        // counts whole 0x57 messages.
        constexpr int kPerThread = 5000, kThreads = 4;
        std::atomic<long> received{0};
        std::thread reader([&] {
            ctl::MessageCutter cutter(ctl::Direction::kToPanel);
            std::vector<std::uint8_t> buffer(1 << 16), message;
            ctl::Refusal refusal;
            while (received < long{kPerThread} * kThreads) {
                const long r = panel->Receive(buffer);
                if (r <= 0) return;
                cutter.Append(orv::bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(r)));
                while (cutter.Next(message, refusal) == ctl::MessageCutter::Step::kMessage)
                    if (message[0] == ctl::type::kMonitorChange) ++received;
            }
        });
        const auto start = Clock::now();
        std::vector<std::thread> senders;
        for (int t = 0; t < kThreads; ++t)
            senders.emplace_back([&, t] {
                for (int i = 0; i < kPerThread; ++i)
                    ui.NotifyMonitorChange(true, 1 + (t * 16 + i % 16));
            });
        for (std::thread& s : senders) s.join();
        reader.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("notices: %ld whole 0x57 from %d threads in %.3f s = %.0f a second\n",
                    received.load(), kThreads, seconds, static_cast<double>(received) / seconds);
        panel.reset();
    }
    std::filesystem::remove_all(root);
    return 0;
}
