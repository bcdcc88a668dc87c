// The device end of one simulated-bus connection for tests: a listening
// socket in a private temporary folder, accepted on demand, with helpers to
// describe the device, send IN transfers and receive the host's frames. No
// threads: the test drives both ends.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "protocol/bus/bus_frame.h"
#include "tests/support/temp_dir.h"

namespace orv::test {

struct HostFrame {
    bus::FrameKind kind = bus::FrameKind::kOut;
    std::uint8_t endpoint = 0;
    std::vector<std::uint8_t> payload;
};

class TestDevice {
public:
    explicit TestDevice(std::string name = "adapter.sock") : path_(dir_.Path() + "/" + name) {
        listener_ = bus::ListenAt(path_);
        EXPECT_GE(listener_, 0);
    }
    ~TestDevice() {
        Close();
        if (listener_ >= 0) close(listener_);
    }

    const std::string& path() const { return path_; }

    // Takes the host's pending connection and, unless `settings` is empty,
    // sends the DESC frame.
    void Accept(
        const std::vector<bus::SettingDescriptor>& settings = bus::StandardAdapterDescriptor()) {
        connection_ = accept(listener_, nullptr, nullptr);
        ASSERT_GE(connection_, 0);
        if (!settings.empty()) Send(bus::FrameKind::kDesc, 0, bus::EncodeDescriptor(settings));
    }
    void Send(bus::FrameKind kind, std::uint8_t endpoint, const std::vector<std::uint8_t>& data) {
        EXPECT_TRUE(bus::SendFrame(connection_, kind, endpoint, data));
    }
    void SendIn(std::uint8_t endpoint, const std::vector<std::uint8_t>& data) {
        Send(bus::FrameKind::kIn, endpoint, data);
    }
    // The host's next frame (blocks until it comes).
    HostFrame Next() {
        HostFrame frame;
        bus::FrameHeader header;
        EXPECT_EQ(bus::RecvFrame(connection_, header, frame.payload, nullptr), bus::IoResult::kOk);
        frame.kind = header.kind;
        frame.endpoint = header.endpoint;
        return frame;
    }
    void Close() {
        if (connection_ >= 0) close(connection_);
        connection_ = -1;
    }
    int connection() const { return connection_; }

private:
    TempDir dir_;
    std::string path_;
    int listener_ = -1;
    int connection_ = -1;
};

}  // namespace orv::test
