#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace orv::testing {

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& env) {
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : env) merged[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : merged) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (posix_spawn(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    outFd_ = fds[0];
    fcntl(outFd_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exitCode_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) close(outFd_);
}

void ChildProcess::Signal(int sig) const {
    if (pid_ > 0 && !exitCode_) kill(pid_, sig);  // never a reaped pid, which may be reused
}

void ChildProcess::Drain(bool block) {
    if (outFd_ < 0) return;
    char buf[4096];
    for (;;) {
        if (block) {
            pollfd p{outFd_, POLLIN, 0};
            poll(&p, 1, 100);
        }
        const ssize_t n = read(outFd_, buf, sizeof buf);
        if (n > 0) {
            output_.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        return;
    }
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (exitCode_) return exitCode_;
    if (pid_ <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        Drain(false);
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            Drain(false);
            return exitCode_;
        }
        if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

const std::string& ChildProcess::Output() {
    Drain(false);
    return output_;
}

RunResult Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              std::chrono::milliseconds timeout) {
    ChildProcess child(argv, env);
    RunResult r;
    r.exitCode = child.Wait(timeout);
    r.output = child.Output();
    return r;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool WaitForFileContaining(const std::string& path, const std::string& needle,
                           std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (ReadFile(path).find(needle) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace orv::testing
