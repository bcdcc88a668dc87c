// The simulator's control socket: a Unix stream socket that takes one text
// command per line and answers each with one line.
//
// Threads: one, "sim-control", started by Start and joined by Stop (and the
// destructor); it serves one client at a time and calls the handler on
// itself. No locks of its own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace orv::posix {
class WakeableWait;
}

namespace orv::sim {

class ControlServer {
public:
    using Handler = std::function<std::string(std::string_view line)>;

    ControlServer(std::string path, Handler handler);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // False (and `error`) when the socket cannot be made.
    bool Start(std::string* error);
    // Ends the thread, closes and removes the socket.
    void Stop();

private:
    void Run();
    void Serve(int fd);

    const std::string path_;
    const Handler handler_;
    int listenFd_ = -1;
    std::unique_ptr<posix::WakeableWait> wait_;  // made by Start, woken by Stop
    std::thread thread_;
};

// The client side: sends one command line to the control socket at `path`
// and returns the one-line answer (without its line end), or an "error: ..."
// line when the socket cannot be reached. Blocks until the answer comes.
std::string AskSimulator(const std::string& path, std::string_view line);

}  // namespace orv::sim
