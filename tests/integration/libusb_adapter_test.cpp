// The libusb path against a simulated adapter, without hardware: umockdev
// gives libusb a mocked USB device (sysfs entry, descriptors, device node)
// whose usbdevfs ioctls are answered here. Bulk URBs go to a simulated
// adapter (sim/adapter): the device end talks to it with the simulated bus's
// own client (SimUsb), so the adapter model checks every packet as it does
// for the service.
//
// Runs under umockdev-wrapper (CTest starts it so); started otherwise it
// skips.
#include <gtest/gtest.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/paths.h"
#include "platform/usb/device_watchers.h"
#include "platform/usb/usb_interface.h"
#include "service/device/device_manager.h"
#include "service/firmware/firmware_updater.h"
#include "service/link/comm_usb.h"
#include "service/wall/ui.h"
#include "tests/support/sim_fixture.h"
#include "tools/orvfwtool/sample_images.h"

namespace {

using namespace orv;
using orv::testing::Eventually;

// Device descriptor: USB 2.0, max packet 64 on endpoint 0, vendor 3f7a,
// product 5e21, one configuration.
constexpr char kDeviceDescriptor[] = "12010002000000407a3f215e000101020301";
// Configuration 1, one vendor-specific interface with the adapter's four
// bulk pipes (512-byte packets).
constexpr char kAdapterConfiguration[] =
    "09022e00010100c001"
    "0904000004ff000000"
    "07050102000200"
    "07050202000200"
    "07058102000200"
    "07058202000200";
// The same ids with only two pipes: not an adapter.
constexpr char kTwoPipeConfiguration[] =
    "09022000010100c001"
    "0904000002ff000000"
    "07050202000200"
    "07058202000200";

// One URB the host submitted and has not reaped yet.
struct Urb {
    UMockdevIoctlData* data = nullptr;  // the usbdevfs_urb (a reference held)
    std::uint8_t endpoint = 0;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> in;  // what an IN URB received
    int status = 0;
};

// The device end of a mocked device node: answers usbdevfs ioctls (on
// umockdev's handler thread) and moves bulk transfers to and from a simulated
// adapter through `device` (one reader thread per IN pipe).
class MockAdapterNode {
public:
    explicit MockAdapterNode(std::unique_ptr<usb::Interface> device)
        : device_(std::move(device)), handler_(umockdev_ioctl_base_new()) {
        g_signal_connect_after(handler_, "handle-ioctl", G_CALLBACK(&MockAdapterNode::OnIoctl),
                               this);
        for (std::uint8_t ep : {0x81, 0x82}) readers_.emplace_back([this, ep] { Reader(ep); });
    }
    ~MockAdapterNode() {
        stopping_ = true;
        cv_.notify_all();
        for (std::thread& t : readers_) t.join();
        for (Urb& u : pending_) umockdev_ioctl_data_unref(u.data);
        for (Urb& u : done_) umockdev_ioctl_data_unref(u.data);
        g_object_unref(handler_);
    }
    UMockdevIoctlBase* Handler() const { return handler_; }

    // The device is unplugged: URBs waiting end with -ENODEV, later requests
    // fail with ENODEV, as usbdevfs does for a device that went away.
    void Vanish() {
        std::lock_guard lock(mutex_);
        gone_ = true;
        for (Urb& u : pending_) {
            u.status = -ENODEV;
            done_.push_back(std::move(u));
        }
        pending_.clear();
    }
    // The next URB submitted on `endpoint` ends with a stall (-EPIPE).
    void StallNext(std::uint8_t endpoint) {
        std::lock_guard lock(mutex_);
        stall_ = endpoint;
    }
    std::uint64_t Submitted() const { return submitted_; }

private:
    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        return static_cast<MockAdapterNode*>(self)->Handle(client);
    }

    gboolean Handle(UMockdevIoctlClient* client) {
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        if (Gone() && request != USBDEVFS_REAPURB && request != USBDEVFS_REAPURBNDELAY &&
            request != USBDEVFS_RELEASEINTERFACE && request != USBDEVFS_IOCTL) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                UMockdevIoctlData* d =
                    umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
                // One URB per transfer, whatever its size.
                *reinterpret_cast<guint32*>(d->data) =
                    USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                    USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
                umockdev_ioctl_data_unref(d);
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
            case USBDEVFS_GETDRIVER:  // no kernel driver bound
                umockdev_ioctl_client_complete(client, -1, ENODATA);
                return TRUE;
            case USBDEVFS_CLAIMINTERFACE:
            case USBDEVFS_DISCONNECT_CLAIM:  // claim, with no kernel driver to detach
            case USBDEVFS_RELEASEINTERFACE:
            case USBDEVFS_IOCTL:  // (re)attach a kernel driver: there is none
            case USBDEVFS_RESET:
            case USBDEVFS_RESETEP:
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            case USBDEVFS_CLEAR_HALT: {
                UMockdevIoctlData* d =
                    umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
                const auto ep =
                    static_cast<std::uint8_t>(*reinterpret_cast<unsigned int*>(d->data));
                umockdev_ioctl_data_unref(d);
                const bool ok = device_->ResetPipe(ep);
                umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : EINVAL);
                return TRUE;
            }
            case USBDEVFS_SETINTERFACE: {
                UMockdevIoctlData* d =
                    umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_setinterface), nullptr);
                const auto* s = reinterpret_cast<const usbdevfs_setinterface*>(d->data);
                const bool ok =
                    device_->SetCurrentAlternateSetting(static_cast<std::uint8_t>(s->altsetting));
                umockdev_ioctl_data_unref(d);
                umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : EINVAL);
                return TRUE;
            }
            case USBDEVFS_SUBMITURB:
                return Submit(client, arg);
            case USBDEVFS_REAPURB:
            case USBDEVFS_REAPURBNDELAY:
                return Reap(client, arg);
            case USBDEVFS_DISCARDURB:
                return Discard(client, arg);
            default:
                ADD_FAILURE() << "usbdevfs request 0x" << std::hex
                              << umockdev_ioctl_client_get_request(client) << " not answered";
                return FALSE;
        }
    }

    gboolean Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(data->data);
        if (urb->type != USBDEVFS_URB_TYPE_BULK || urb->buffer_length < 0) {
            umockdev_ioctl_data_unref(data);
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return TRUE;
        }
        ++submitted_;
        Urb u{data, urb->endpoint, static_cast<std::uint32_t>(urb->buffer_length), {}, 0};
        {
            std::lock_guard lock(mutex_);
            if (stall_ == u.endpoint) {
                stall_ = 0;
                u.status = -EPIPE;
                done_.push_back(std::move(u));
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
        }
        // The buffer becomes part of `data`: written back when it is reaped.
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
            data, G_STRUCT_OFFSET(usbdevfs_urb, buffer), u.length, nullptr);
        if (usb::IsInPipe(u.endpoint)) {
            umockdev_ioctl_data_unref(buffer);
            {
                std::lock_guard lock(mutex_);
                pending_.push_back(std::move(u));
            }
            cv_.notify_all();
        } else {
            std::uint32_t sent = 0;
            if (!device_->WritePipe(u.endpoint, buffer->data, u.length, sent)) u.status = -EPIPE;
            umockdev_ioctl_data_unref(buffer);
            std::lock_guard lock(mutex_);
            done_.push_back(std::move(u));
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    gboolean Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        Urb u;
        {
            std::lock_guard lock(mutex_);
            if (done_.empty()) {
                umockdev_ioctl_client_complete(client, -1, EAGAIN);
                return TRUE;
            }
            u = std::move(done_.front());
            done_.pop_front();
        }
        auto* urb = reinterpret_cast<usbdevfs_urb*>(u.data->data);
        urb->status = u.status;
        urb->actual_length = usb::IsInPipe(u.endpoint) ? static_cast<int>(u.in.size())
                             : u.status == 0           ? static_cast<int>(u.length)
                                                       : 0;
        if (!u.in.empty()) std::memcpy(urb->buffer, u.in.data(), u.in.size());
        UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(pointer, 0, u.data);
        umockdev_ioctl_data_unref(pointer);
        umockdev_ioctl_data_unref(u.data);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    gboolean Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        const gulong address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(arg->data));
        std::lock_guard lock(mutex_);
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (it->data->client_addr != address) continue;
            it->status = -ENOENT;
            done_.push_back(std::move(*it));
            pending_.erase(it);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    }

    // Waits for an IN URB on `endpoint`, reads the adapter's next transfer
    // on it and completes the URB. A URB discarded meanwhile loses the data.
    void Reader(std::uint8_t endpoint) {
        std::vector<std::uint8_t> buffer;
        while (!stopping_) {
            UMockdevIoctlData* wanted = nullptr;
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [&] { return stopping_ || FirstPending(endpoint) != nullptr; });
                if (stopping_) return;
                wanted = FirstPending(endpoint)->data;
                buffer.resize(FirstPending(endpoint)->length);
            }
            std::uint32_t got = 0;
            if (!device_->ReadPipe(endpoint, buffer.data(),
                                   static_cast<std::uint32_t>(buffer.size()), got))
                continue;  // the pipe's short time-out: look again
            std::lock_guard lock(mutex_);
            Urb* u = FirstPending(endpoint);
            if (u == nullptr || u->data != wanted) continue;
            u->in.assign(buffer.begin(), buffer.begin() + got);
            done_.push_back(std::move(*u));
            pending_.erase(pending_.begin() + (u - &pending_.front()));
        }
    }

    bool Gone() {
        std::lock_guard lock(mutex_);
        return gone_;
    }

    Urb* FirstPending(std::uint8_t endpoint) {
        for (Urb& u : pending_)
            if (u.endpoint == endpoint) return &u;
        return nullptr;
    }

    const std::unique_ptr<usb::Interface> device_;
    UMockdevIoctlBase* const handler_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Urb> pending_;  // IN URBs waiting for data
    std::deque<Urb> done_;     // URBs to reap, oldest first
    bool gone_ = false;
    std::uint8_t stall_ = 0;  // the endpoint whose next URB stalls
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> submitted_{0};
    std::vector<std::thread> readers_;
};

class LibUsbAdapterTest : public orv::testing::SimBusTest {
protected:
    void SetUp() override {
        // The testbed only works with the preload library in the process.
        const char* preload = getenv("LD_PRELOAD");
        if (preload == nullptr || std::strstr(preload, "umockdev-preload") == nullptr)
            GTEST_SKIP() << "run under umockdev-wrapper (LD_PRELOAD of libumockdev-preload)";
        SimBusTest::SetUp();
        testbed_ = umockdev_testbed_new();
    }
    void TearDown() override {
        if (testbed_ == nullptr) return;
        nodes_.clear();
        g_object_unref(testbed_);
        SimBusTest::TearDown();
    }

    // A simulated adapter's bus socket, reached through a mocked USB device
    // at bus 1, port `port`, with `configuration` as its descriptors.
    static std::string SysPath(int port) { return "/sys/devices/usb1/1-" + std::to_string(port); }

    void AddUsbDevice(int port, const std::string& socketPath, const char* configuration) {
        auto device = usb::CreateInterfaceFor(socketPath);
        ASSERT_TRUE(device->Open(socketPath) && device->Initialize());
        ASSERT_TRUE(device->SetCurrentAlternateSetting(0));
        // Short time-outs keep the readers responsive to the test's end.
        for (std::uint8_t ep : {0x81, 0x82})
            ASSERT_TRUE(device->SetPipePolicy(ep, usb::PipePolicy::kPipeTransferTimeout, 50));
        nodes_.push_back(std::make_unique<MockAdapterNode>(std::move(device)));
        const std::string node = "/dev/bus/usb/001/00" + std::to_string(port + 1);
        ASSERT_TRUE(umockdev_testbed_attach_ioctl(testbed_, node.c_str(), nodes_.back()->Handler(),
                                                  nullptr));
        const std::string record = "P: /devices/usb1/1-" + std::to_string(port) +
                                   "\n"
                                   "N: bus/usb/001/00" +
                                   std::to_string(port + 1) +
                                   "\n"
                                   "E: SUBSYSTEM=usb\n"
                                   "E: DEVTYPE=usb_device\n"
                                   "E: BUSNUM=001\n"
                                   "E: DEVNUM=00" +
                                   std::to_string(port + 1) + "\nE: DEVNAME=" + node +
                                   "\n"
                                   "A: busnum=1\\n\n"
                                   "A: devnum=" +
                                   std::to_string(port + 1) +
                                   "\\n\n"
                                   "A: bConfigurationValue=1\\n\n"
                                   "A: speed=480\\n\n"
                                   "H: descriptors=" +
                                   kDeviceDescriptor + configuration + "\n";
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_, record.c_str(), nullptr));
    }

    // The device's removal as udev reports it, then its sysfs entry goes.
    void RemoveUsbDevice(int port) {
        umockdev_testbed_uevent(testbed_, SysPath(port).c_str(), "remove");
        umockdev_testbed_remove_device(testbed_, SysPath(port).c_str());
    }

    UMockdevTestbed* testbed_ = nullptr;
    std::vector<std::unique_ptr<MockAdapterNode>> nodes_;
};

// Collects a watcher's broadcasts for the test thread.
class Events {
public:
    void Push(const platform::DeviceBroadcast& b) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(b);
        }
        cv_.notify_all();
    }
    // The next one, or nothing after `wait`.
    std::optional<platform::DeviceBroadcast> Next(
        std::chrono::milliseconds wait = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, wait, [&] { return !events_.empty(); })) return std::nullopt;
        platform::DeviceBroadcast b = events_.front();
        events_.pop_front();
        return b;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<platform::DeviceBroadcast> events_;
};

}  // namespace

TEST_F(LibUsbAdapterTest, EnumeratesTheAdapterAndExchangesAVersionQueryOverLibUsb) {
    sim::SimAdapter& adapter = AddAdapter("real", {0x01});
    sim::SimAdapter& other = AddAdapter("other", {});
    AddUsbDevice(1, BusPath("real"), kAdapterConfiguration);
    AddUsbDevice(2, BusPath("other"), kTwoPipeConfiguration);

    // Both carry the adapter ids; only the one with the four pipes counts.
    const auto watcher = platform::CreateLibUsbDeviceWatcher();
    ASSERT_EQ(watcher->Enumerate(), std::vector<std::string>{"libusb:1-1"});

    link::COvwCommUSB link;
    ASSERT_EQ(link.Connect("libusb:1-1"), 0);
    std::string version;
    EXPECT_EQ(orv::testing::QueryVersionOnly(link, version), 0);
    EXPECT_EQ(version, "v 00.00.1400.0001");
    link.Disconnect();

    EXPECT_GE(nodes_[0]->Submitted(), 2u);
    EXPECT_EQ(adapter.Stats().violations, 0u);
    EXPECT_EQ(other.Stats().packets, 0u);
}

TEST_F(LibUsbAdapterTest, HotplugReportsAdaptersArrivingAndLeavingAndNothingElse) {
    AddAdapter("real", {0x01});
    AddAdapter("other", {});
    const auto watcher = platform::CreateLibUsbDeviceWatcher();
    Events events;
    ASSERT_TRUE(watcher->Start([&](const platform::DeviceBroadcast& b) { events.Push(b); }));

    AddUsbDevice(2, BusPath("other"), kTwoPipeConfiguration);
    umockdev_testbed_uevent(testbed_, SysPath(2).c_str(), "add");
    AddUsbDevice(1, BusPath("real"), kAdapterConfiguration);
    umockdev_testbed_uevent(testbed_, SysPath(1).c_str(), "add");
    auto e = events.Next();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->eventType, platform::kDbtDeviceArrival);
    EXPECT_EQ(e->name, "libusb:1-1");
    EXPECT_EQ(e->classGuid, platform::kAdapterInterfaceClass);

    // The path the arrival named is what the link opens.
    link::COvwCommUSB link;
    ASSERT_EQ(link.Connect(e->name), 0);
    link.Disconnect();

    RemoveUsbDevice(2);
    RemoveUsbDevice(1);
    e = events.Next();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->eventType, platform::kDbtDeviceRemoveComplete);
    EXPECT_EQ(e->name, "libusb:1-1");
    watcher->Stop();
    EXPECT_FALSE(events.Next(std::chrono::milliseconds(0)));
}

TEST_F(LibUsbAdapterTest, AStallOrAVanishedDeviceBreaksTheLinkAtOnce) {
    AddAdapter("real", {0x01});
    AddUsbDevice(1, BusPath("real"), kAdapterConfiguration);

    {
        link::COvwCommUSB link;
        ASSERT_EQ(link.Connect("libusb:1-1"), 0);
        nodes_[0]->StallNext(0x82);
        std::string version;
        EXPECT_NE(orv::testing::QueryVersionOnly(link, version), 0);
        std::uint8_t byte = 0;
        std::uint32_t length = 1;
        EXPECT_EQ(link.Write(0x02, &byte, length), -1);  // broken: nothing reaches the device
        link.Disconnect();
    }

    link::COvwCommUSB link;
    ASSERT_EQ(link.Connect("libusb:1-1"), 0);
    // The notification reader waits on 0x81 when the adapter goes.
    std::atomic<int> result{1};
    std::thread reader([&] {
        std::vector<std::uint8_t> buffer(1 << 20);
        std::uint32_t length = 0;
        do {
            length = static_cast<std::uint32_t>(buffer.size());
            result = link.Read(0x81, buffer.data(), length);
        } while (result == 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    nodes_[0]->Vanish();
    reader.join();
    EXPECT_EQ(result, -1);
    // Not the three read time-outs: the device's absence ends the read.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    std::uint8_t byte = 0;
    std::uint32_t length = 1;
    EXPECT_EQ(link.Write(0x02, &byte, length), -1);
    link.Disconnect();
}

TEST_F(LibUsbAdapterTest, AReadThatTimesOutIsCancelledAndThePipeStaysUsable) {
    sim::SimAdapter& adapter = AddAdapter("real", {});
    AddUsbDevice(1, BusPath("real"), kAdapterConfiguration);
    auto usb = usb::CreateInterfaceFor("libusb:1-1");
    ASSERT_TRUE(usb->Open("libusb:1-1") && usb->Initialize());
    ASSERT_TRUE(usb->SetCurrentAlternateSetting(0));
    ASSERT_TRUE(usb->SetPipePolicy(0x82, usb::PipePolicy::kPipeTransferTimeout, 100));
    std::vector<std::uint8_t> reply(adapter::kVersionReplyBuffer);
    std::uint32_t got = 0;
    // Nothing was asked: no reply comes.
    EXPECT_FALSE(usb->ReadPipe(0x82, reply.data(), static_cast<std::uint32_t>(reply.size()), got));
    EXPECT_EQ(usb::LastError(), platform::kErrorSemTimeout);

    const adapter::Packet query = adapter::BuildVersionQuery(adapter::kVersionFirmware);
    std::uint32_t sent = 0;
    ASSERT_TRUE(usb->WritePipe(0x02, query.data(), static_cast<std::uint32_t>(query.size()), sent));
    EXPECT_EQ(sent, query.size());
    ASSERT_TRUE(usb->ReadPipe(0x82, reply.data(), static_cast<std::uint32_t>(reply.size()), got));
    EXPECT_EQ(adapter::CheckVersionReply(0, bytes::ConstBytes(reply).first(got),
                                         adapter::kVersionFirmware),
              adapter::ReplyFault::kNone);
    usb->Free();
    EXPECT_EQ(adapter.Stats().violations, 0u);
}

// The device manager with the service's libusb watcher: the adapter present
// at start and one arriving later come up with their monitors numbered; the
// late one leaves again on its removal.
TEST_F(LibUsbAdapterTest, TheDeviceManagerRunsAdaptersOverLibUsb) {
    sim::SimAdapter& early = AddAdapter("early", {0x01, 0x04});
    sim::SimAdapter& late = AddAdapter("late", {0x01});
    AddUsbDevice(1, BusPath("early"), kAdapterConfiguration);
    const auto watcher = platform::CreateLibUsbDeviceWatcher();
    Events events;
    ASSERT_TRUE(watcher->Start([&](const platform::DeviceBroadcast& b) { events.Push(b); }));

    device::DeviceManagerServices services;
    services.enumerate = [&] { return watcher->Enumerate(); };
    services.versionCheck = orv::testing::QueryVersionOnly;
    services.compressionCode = [] { return 224u; };
    services.batchDelay = std::chrono::milliseconds(1);
    services.makeWall = [] { return std::make_unique<wall::COvwUI>(platform::ConfigFilePath()); };
    device::COvwDeviceManager manager(std::move(services));
    manager.Start();
    ASSERT_EQ(manager.AdapterCount(), 1u);
    ASSERT_NE(manager.AdapterByPath("libusb:1-1"), nullptr);
    EXPECT_TRUE(Eventually([&] { return manager.Wall()->MonitorById(2) != nullptr; }));

    AddUsbDevice(2, BusPath("late"), kAdapterConfiguration);
    umockdev_testbed_uevent(testbed_, SysPath(2).c_str(), "add");
    auto e = events.Next();
    ASSERT_TRUE(e);
    ASSERT_EQ(e->eventType, platform::kDbtDeviceArrival);
    EXPECT_EQ(manager.USBAdapterPlugIn(e->name), 1);
    EXPECT_EQ(manager.AdapterCount(), 2u);
    EXPECT_TRUE(Eventually([&] { return manager.Wall()->MonitorById(3) != nullptr; }));

    RemoveUsbDevice(2);
    e = events.Next();
    ASSERT_TRUE(e);
    ASSERT_EQ(e->eventType, platform::kDbtDeviceRemoveComplete);
    EXPECT_EQ(manager.USBAdapterPlugOut(e->name), 1);
    EXPECT_EQ(manager.AdapterCount(), 1u);
    EXPECT_TRUE(Eventually([&] { return manager.Wall()->MonitorById(3) == nullptr; }));

    manager.Stop();
    watcher->Stop();
    EXPECT_EQ(early.Stats().violations, 0u) << early.RecentViolations().front();
    EXPECT_EQ(late.Stats().violations, 0u) << late.RecentViolations().front();
}

// A full serial-ROM update (erase, page writes, read-back) over libusb: the
// adapter reports the new version and saw no protocol violation.
TEST_F(LibUsbAdapterTest, TheSampleFirmwareUpdatesAnAdapterOverLibUsb) {
    sim::SimConfig config;
    config.busDir = (root_ / "usb").string();
    config.romDir = (root_ / "rom").string();
    config.adapters.push_back({});
    config.adapters[0].name = "fw";
    std::string error;
    ASSERT_TRUE(sim::FinishConfig(config, &error)) << error;
    auto adapter = sim::SimAdapter::Create(config.adapters[0], 0, config.busDir, &error);
    ASSERT_TRUE(adapter && adapter->Attach(&error)) << error;
    AddUsbDevice(1, BusPath("fw"), kAdapterConfiguration);
    ASSERT_TRUE(fwtool::Install(platform::DefaultFirmwareDir(), platform::RegistryFilePath(),
                                "00.00.1400.0003", 2, &error))
        << error;

    link::COvwCommUSB link;
    ASSERT_EQ(link.Connect("libusb:1-1"), 0);
    std::string version;
    EXPECT_EQ(firmware::CheckAdapterFirmware(link, version), 0);
    EXPECT_EQ(version, "v 00.00.1400.0001");
    EXPECT_GT(adapter->Stats().romWrites, 0u);
    EXPECT_EQ(adapter->Rom().FirmwareVersionTag(), "v 00.00.1400.0003");
    EXPECT_EQ(firmware::CheckAdapterFirmware(link, version), 0);
    EXPECT_EQ(version, "v 00.00.1400.0003");
    link.Disconnect();
    EXPECT_EQ(adapter->Stats().violations, 0u) << adapter->RecentViolations().front();
}
