// Helpers of the platform tests: private folders, a private IPC namespace and
// child processes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "tests/support/temp_dir.h"

namespace orv::platform::test {

using orv::test::TempDir;

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// Gives the test its own shared-memory and event names, so parallel runs of
// the suite never meet.
inline void UsePrivateIpcNamespace() {
    static int counter = 0;
    const std::string ns = "ut" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    setenv("ORV_IPC_NAMESPACE", ns.c_str(), 1);
}

// Runs `body` in a forked child whose exit code is body's result.
inline pid_t ForkChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

// The child's exit code, or -1 when it did not exit normally.
inline int WaitChild(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace orv::platform::test
