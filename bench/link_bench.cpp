// Bulk OUT throughput of 3 MiB transfers (the size of the adapter's packet
// buffers): COvwCommUSB::Write over SimUsb to a device end that receives
// frames with the bus code, beside its anchor, the same bytes written to a
// plain Unix stream socket and read by a plain receiver. Target: the link
// keeps at least 0.8 of the anchor's rate.
//
// Built with umockdev, the same transfers also go through the libusb backend
// to a mocked USB device (tests/support/umockdev_bed.h) whose node hands them
// to the same device end over SimUsb: a figure of the test bed (libusb,
// umockdev's ioctl forwarding and the bus), not of hardware. It needs
// umockdev-wrapper: `umockdev-wrapper build/bench/link_bench`.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/bus/bus_frame.h"
#include "service/link/comm_usb.h"
#ifdef ORV_HAVE_UMOCKDEV
#include "tests/support/umockdev_bed.h"
#endif

namespace {

constexpr std::uint32_t kTransferSize = 3u * 1024u * 1024u;

// A listening socket in a private temporary folder and a device thread that
// serves one connection with `serve`, which returns the payload bytes it got.
class DeviceEnd {
public:
    explicit DeviceEnd(std::function<std::uint64_t(int)> serve) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orv-bench-XXXXXX").string();
        folder_ = mkdtemp(pattern.data()) ? pattern : std::string();
        path_ = folder_ + "/adapter.sock";
        listener_ = orv::bus::ListenAt(path_);
        thread_ = std::thread([this, serve] {
            const int connection = accept(listener_, nullptr, nullptr);
            if (connection < 0) return;
            received_ = serve(connection);
            close(connection);
        });
    }
    // Waits until the host has closed its end; the bytes the device got.
    std::uint64_t Finish() {
        thread_.join();
        close(listener_);
        std::filesystem::remove_all(folder_);
        return received_;
    }
    const std::string& path() const { return path_; }
    bool ok() const { return listener_ >= 0; }

private:
    std::string folder_;
    std::string path_;
    int listener_ = -1;
    std::uint64_t received_ = 0;
    std::thread thread_;
};

void Report(benchmark::State& state, std::uint64_t received) {
    const std::uint64_t sent = static_cast<std::uint64_t>(state.iterations()) * kTransferSize;
    if (received < sent) state.SkipWithError("the device end did not get every byte");
    state.SetBytesProcessed(static_cast<std::int64_t>(sent));
}

// The device end of the link benchmarks: describes the adapter, counts the
// bytes of the OUT transfers until the host goes.
std::uint64_t DrainOutTransfers(int connection) {
    orv::bus::SendFrame(connection, orv::bus::FrameKind::kDesc, 0,
                        orv::bus::EncodeDescriptor(orv::bus::StandardAdapterDescriptor()));
    orv::bus::FrameHeader header;
    std::vector<std::uint8_t> payload;
    std::uint64_t bytes = 0;
    while (orv::bus::RecvFrame(connection, header, payload, nullptr) == orv::bus::IoResult::kOk)
        if (header.kind == orv::bus::FrameKind::kOut) bytes += payload.size();
    return bytes;
}

// 3 MiB writes on 0x01 through a connected link.
void WriteLoop(benchmark::State& state, orv::link::COvwCommUSB& link) {
    std::vector<std::uint8_t> packet(kTransferSize, 0x5A);
    for (auto _ : state) {
        std::uint32_t length = kTransferSize;
        if (link.Write(0x01, packet.data(), length) != 0) {
            state.SkipWithError("write failed");
            break;
        }
    }
}

void BM_LinkBulkOut3MiB(benchmark::State& state) {
    DeviceEnd device(DrainOutTransfers);
    orv::link::COvwCommUSB link;
    if (!device.ok() || link.Connect(device.path()) != 0) {
        state.SkipWithError("cannot connect the link");
        device.Finish();
        return;
    }
    WriteLoop(state, link);
    link.Disconnect();
    Report(state, device.Finish());
}
BENCHMARK(BM_LinkBulkOut3MiB)->UseRealTime();

// Anchor: the same bytes through a plain Unix stream socket.
void BM_RawUnixSocket3MiB(benchmark::State& state) {
    DeviceEnd device([](int connection) {
        std::vector<std::uint8_t> buffer(kTransferSize);
        std::uint64_t bytes = 0;
        for (ssize_t n; (n = recv(connection, buffer.data(), buffer.size(), MSG_WAITALL)) > 0;)
            bytes += static_cast<std::uint64_t>(n);
        return bytes;
    });
    const int host = orv::bus::ConnectTo(device.path());
    if (host < 0) {
        state.SkipWithError("cannot connect");
        device.Finish();
        return;
    }
    std::vector<std::uint8_t> packet(kTransferSize, 0x5A);
    for (auto _ : state) {
        for (std::size_t done = 0; done < packet.size();) {
            const ssize_t n = send(host, packet.data() + done, packet.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                state.SkipWithError("send failed");
                break;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    close(host);
    Report(state, device.Finish());
}
BENCHMARK(BM_RawUnixSocket3MiB)->UseRealTime();

#ifdef ORV_HAVE_UMOCKDEV
// The same writes through the libusb backend under umockdev.
void BM_LinkBulkOut3MiBLibUsbUmockdev(benchmark::State& state) {
    if (!orv::testing::UsbTestbed::Preloaded()) {
        state.SkipWithError("run under umockdev-wrapper");
        return;
    }
    DeviceEnd device(DrainOutTransfers);
    std::uint64_t received = 0;
    {
        orv::testing::UsbTestbed bed;
        orv::link::COvwCommUSB link;
        if (!device.ok() ||
            !bed.AddUsbDevice(1, device.path(), orv::testing::kAdapterConfiguration) ||
            link.Connect("libusb:1-1") != 0) {
            state.SkipWithError("cannot connect the link");
            device.Finish();
            return;
        }
        WriteLoop(state, link);
        link.Disconnect();  // the node's connection to the device end closes with it
    }
    received = device.Finish();
    Report(state, received);
}
BENCHMARK(BM_LinkBulkOut3MiBLibUsbUmockdev)->UseRealTime();
#endif

}  // namespace

BENCHMARK_MAIN();
