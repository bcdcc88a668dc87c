// A private X server for one test: Xvfb with one screen (640 x 480 at 24
// bits unless the test gives another) on the first free display number,
// which Xvfb picks and writes to its standard output (-displayfd). Stopped
// with the object.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/eventually.h"

namespace orv::testing {

class PrivateXvfb {
public:
    static constexpr const char* kProgram = "/usr/bin/Xvfb";
    static bool Installed() { return access(kProgram, X_OK) == 0; }

    explicit PrivateXvfb(const std::string& screen = "640x480x24")
        : server_({kProgram, "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"}, {}) {
        // The number is written once the server accepts clients.
        if (!orv::test::Eventually(
                [&] { return server_.Output().find('\n') != std::string::npos; }))
            return;
        const std::string& out = server_.Output();
        display_ = ":" + out.substr(0, out.find('\n'));
    }
    ~PrivateXvfb() {
        server_.Signal(SIGTERM);
        server_.Wait(std::chrono::seconds(10));
    }
    PrivateXvfb(const PrivateXvfb&) = delete;
    PrivateXvfb& operator=(const PrivateXvfb&) = delete;

    // ":N", or empty when the server did not start.
    const std::string& Display() const { return display_; }

private:
    ChildProcess server_;
    std::string display_;
};

}  // namespace orv::testing
