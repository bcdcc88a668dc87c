#include "sim/adapter/control_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/wakeable_wait.h"
#include "platform/thread_name.h"
#include "protocol/bus/bus_frame.h"
#include "sim/adapter/sim_log.h"

namespace orv::sim {
namespace {

constexpr std::size_t kMaxLine = 4096;

bool SendAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ControlServer::ControlServer(std::string path, Handler handler)
    : path_(std::move(path)), handler_(std::move(handler)) {}

ControlServer::~ControlServer() {
    Stop();
}

bool ControlServer::Start(std::string* error) {
    wait_ = std::make_unique<posix::WakeableWait>(posix::WakeableWait::WakeKind::kStays);
    // The bus helper makes any listening Unix stream socket.
    listenFd_ = wait_->Ok() ? bus::ListenAt(path_) : -1;
    if (listenFd_ < 0) {
        if (error) *error = path_ + ": " + std::strerror(errno);
        wait_.reset();
        return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void ControlServer::Stop() {
    if (!thread_.joinable()) return;
    wait_->Wake();
    thread_.join();
    close(listenFd_);
    unlink(path_.c_str());
    listenFd_ = -1;
    wait_.reset();
}

void ControlServer::Run() {
    platform::SetCurrentThreadName("sim-control");
    for (;;) {
        const posix::WakeableWait::Readiness r = wait_->Wait({listenFd_});
        if (r.woken || r.failed) return;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        Serve(fd);
        close(fd);
    }
}

void ControlServer::Serve(int fd) {
    std::string buffer;
    char chunk[1024];
    for (;;) {
        const posix::WakeableWait::Readiness r = wait_->Wait({fd});
        if (r.woken || r.failed) return;
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        buffer.append(chunk, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = buffer.find('\n')) != std::string::npos) {
            std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!SendAll(fd, handler_(line) + "\n")) return;
        }
        if (buffer.size() > kMaxLine) {
            SendAll(fd, "error: line too long\n");
            SimLog("control: a line longer than %zu bytes, client dropped", kMaxLine);
            return;
        }
    }
}

std::string AskSimulator(const std::string& path, std::string_view line) {
    const int fd = bus::ConnectTo(path);
    if (fd < 0) return "error: cannot reach " + path + ": " + std::strerror(errno);
    std::string out(line);
    out += '\n';
    std::string answer;
    std::size_t sent = 0;
    while (sent < out.size()) {
        const ssize_t n = send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    // One answer per connection, so whatever follows its line end is nothing.
    char chunk[4096];
    ssize_t n;
    while (answer.find('\n') == std::string::npos && (n = recv(fd, chunk, sizeof chunk, 0)) > 0)
        answer.append(chunk, static_cast<std::size_t>(n));
    close(fd);
    answer.erase(std::min(answer.find('\n'), answer.size()));
    return answer.empty() ? "error: no answer from " + path : answer;
}

}  // namespace orv::sim
