// A child process for integration tests: spawned with extra environment,
// standard output captured, waited for with a time-out, killed if still
// running when the object goes away.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace orv::testing {

class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    void Signal(int sig) const;
    // The exit code (128 + signal when killed), or nothing after `timeout`.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    // Everything the child wrote to standard output so far.
    const std::string& Output();

private:
    void Drain(bool block);

    pid_t pid_ = -1;
    int outFd_ = -1;
    std::string output_;
    std::optional<int> exitCode_;
};

// Runs a program to its end (at most `timeout`) and returns its output and
// exit code (nothing on time-out).
struct RunResult {
    std::optional<int> exitCode;
    std::string output;
};
RunResult Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              std::chrono::milliseconds timeout = std::chrono::seconds(30));

using orv::test::TempDir;

std::string ReadFile(const std::string& path);
// Polls until `path` contains `needle` or `timeout` passes.
bool WaitForFileContaining(const std::string& path, const std::string& needle,
                           std::chrono::milliseconds timeout);

}  // namespace orv::testing
