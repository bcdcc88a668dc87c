// A umockdev test bed for the libusb backend: mocked USB devices (sysfs
// entry, descriptors, device node) whose usbdevfs ioctls are answered by a
// MockAdapterNode. Bulk URBs go to a simulated adapter (sim/adapter): the
// node talks to it with the simulated bus's own client (SimUsb), one
// connection per host session, so the adapter model checks every packet as
// it does for the service.
//
// Only works with umockdev's preload library in the process (run the program
// under umockdev-wrapper); UsbTestbed::Preloaded says whether it is. The user
// links umockdev-1.0.
#pragma once

#include <gtest/gtest.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/usb/usb_interface.h"

namespace orv::testing {

// Device descriptor: USB 2.0, max packet 64 on endpoint 0, vendor 3f7a,
// product 5e21, one configuration.
inline constexpr char kDeviceDescriptor[] = "12010002000000407a3f215e000101020301";
// Configuration 1, one vendor-specific interface with the adapter's four
// bulk pipes (512-byte packets).
inline constexpr char kAdapterConfiguration[] =
    "09022e00010100c001"
    "0904000004ff000000"
    "07050102000200"
    "07050202000200"
    "07058102000200"
    "07058202000200";
// The same ids with only two pipes: not an adapter.
inline constexpr char kTwoPipeConfiguration[] =
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
// adapter over the simulated bus (one reader thread per IN pipe). Each host
// session (claim of the interface to its release) is one bus connection, so
// the adapter sees every new host as one, as a real adapter starts again
// with the host that opens it.
class MockAdapterNode {
public:
    explicit MockAdapterNode(std::string socketPath)
        : socketPath_(std::move(socketPath)), handler_(umockdev_ioctl_base_new()) {
        g_signal_connect_after(handler_, "handle-ioctl", G_CALLBACK(&MockAdapterNode::OnIoctl),
                               this);
        for (std::uint8_t ep : {0x81, 0x82}) readers_.emplace_back([this, ep] { Reader(ep); });
    }
    ~MockAdapterNode() {
        stopping_ = true;
        cv_.notify_all();
        for (std::thread& t : readers_) t.join();
        Disconnect();
        for (Urb& u : pending_) umockdev_ioctl_data_unref(u.data);
        for (Urb& u : done_) umockdev_ioctl_data_unref(u.data);
        g_object_unref(handler_);
    }
    UMockdevIoctlBase* Handler() const { return handler_; }

    // The device is unplugged: URBs waiting end with -ENODEV, later requests
    // fail with ENODEV, as usbdevfs does for a device that went away.
    // The connection to the adapter closes (the adapter can take another
    // host).
    void Vanish() {
        {
            std::lock_guard lock(mutex_);
            gone_ = true;
        }
        Disconnect();
    }
    // `endpoint` halts: every URB submitted on it ends with a stall (-EPIPE)
    // until the host clears the halt.
    void Stall(std::uint8_t endpoint) {
        std::lock_guard lock(mutex_);
        halted_.insert(endpoint);
    }
    bool Halted(std::uint8_t endpoint) {
        std::lock_guard lock(mutex_);
        return halted_.count(endpoint) != 0;
    }
    // OUT URBs submitted on `endpoint` from now on are taken but never
    // written, as by a device that stopped reading; they end when the device
    // vanishes (or the host discards them).
    void HoldWrites(std::uint8_t endpoint) {
        std::lock_guard lock(mutex_);
        held_ = endpoint;
    }
    // OUT URBs held so far.
    std::uint64_t HeldWrites() const { return heldWrites_; }
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
            case USBDEVFS_DISCONNECT_CLAIM: {  // claim, with no kernel driver to detach
                const bool ok = Connect();
                umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : EIO);
                return TRUE;
            }
            case USBDEVFS_RELEASEINTERFACE:
                Disconnect();
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
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
                {
                    std::lock_guard lock(mutex_);
                    halted_.erase(ep);
                }
                const auto device = Device();
                const bool ok = device && device->ResetPipe(ep);
                umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : EINVAL);
                return TRUE;
            }
            case USBDEVFS_SETINTERFACE: {
                UMockdevIoctlData* d =
                    umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_setinterface), nullptr);
                const auto* s = reinterpret_cast<const usbdevfs_setinterface*>(d->data);
                const auto device = Device();
                const bool ok = device && device->SetCurrentAlternateSetting(
                                              static_cast<std::uint8_t>(s->altsetting));
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
        // The buffer becomes part of `data`: written back when it is reaped.
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
            data, G_STRUCT_OFFSET(usbdevfs_urb, buffer), u.length, nullptr);
        std::shared_ptr<usb::Interface> writeTo;
        {
            // Decided under the lock that Vanish and the session's end take,
            // so every URB taken is either completed here or ended by them.
            std::lock_guard lock(mutex_);
            if (gone_ || !device_ || halted_.count(u.endpoint) != 0) {
                u.status = gone_ ? -ENODEV : device_ ? -EPIPE : -ENOENT;
                done_.push_back(std::move(u));
            } else if (usb::IsInPipe(u.endpoint) || held_ == u.endpoint) {
                if (!usb::IsInPipe(u.endpoint)) ++heldWrites_;
                pending_.push_back(std::move(u));
            } else {
                writeTo = device_;
            }
        }
        cv_.notify_all();
        if (writeTo) {
            std::uint32_t sent = 0;
            const bool ok = writeTo->WritePipe(u.endpoint, buffer->data, u.length, sent);
            std::lock_guard lock(mutex_);
            if (!ok) u.status = gone_ ? -ENODEV : -EPIPE;
            done_.push_back(std::move(u));
        }
        umockdev_ioctl_data_unref(buffer);
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
    // on it and completes the URB. Data read for a URB that was discarded
    // meanwhile goes to the next one of the same session, as a device keeps
    // what it had not sent.
    void Reader(std::uint8_t endpoint) {
        std::vector<std::uint8_t> buffer;
        bool held = false;          // `buffer` holds a transfer nobody took yet
        std::uint64_t session = 0;  // the session `buffer` was read in
        while (!stopping_) {
            std::shared_ptr<usb::Interface> device;
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [&] {
                    return stopping_ || (device_ && FirstPending(endpoint) != pending_.end());
                });
                if (stopping_) return;
                if (held && session != session_) held = false;  // its connection is gone
                device = device_;
                session = session_;
                if (!held) buffer.resize(FirstPending(endpoint)->length);
            }
            if (!held) {
                std::uint32_t got = 0;
                if (!device->ReadPipe(endpoint, buffer.data(),
                                      static_cast<std::uint32_t>(buffer.size()), got))
                    continue;  // the pipe's short time-out: look again
                buffer.resize(got);
                held = true;
            }
            std::lock_guard lock(mutex_);
            const auto u = FirstPending(endpoint);
            if (u == pending_.end() || session != session_) continue;
            if (buffer.size() > u->length) {
                buffer.resize(u->length);
                u->status = -EOVERFLOW;
            }
            u->in = std::move(buffer);
            buffer.clear();
            held = false;
            done_.push_back(std::move(*u));
            pending_.erase(u);
        }
    }

    // Opens the session's connection to the adapter (once per session).
    bool Connect() {
        if (Device()) return true;
        std::shared_ptr<usb::Interface> device = usb::CreateInterfaceFor(socketPath_);
        if (!device->Open(socketPath_) || !device->Initialize() ||
            !device->SetCurrentAlternateSetting(0))
            return false;
        // Short time-outs keep the readers responsive to the session's end.
        for (std::uint8_t ep : {0x81, 0x82})
            if (!device->SetPipePolicy(ep, usb::PipePolicy::kPipeTransferTimeout, 50)) return false;
        {
            std::lock_guard lock(mutex_);
            device_ = std::move(device);
            ++session_;
        }
        cv_.notify_all();
        return true;
    }
    // Ends the session: the adapter sees its host go. URBs not complete end
    // as usbfs ends them: -ENODEV for a device gone, -ENOENT (killed) for an
    // interface released.
    void Disconnect() {
        std::shared_ptr<usb::Interface> device;
        {
            std::lock_guard lock(mutex_);
            for (Urb& u : pending_) {
                u.status = gone_ ? -ENODEV : -ENOENT;
                done_.push_back(std::move(u));
            }
            pending_.clear();
            device = std::move(device_);
            device_.reset();
        }
        if (device) device->Free();
    }
    std::shared_ptr<usb::Interface> Device() {
        std::lock_guard lock(mutex_);
        return device_;
    }

    bool Gone() {
        std::lock_guard lock(mutex_);
        return gone_;
    }

    std::deque<Urb>::iterator FirstPending(std::uint8_t endpoint) {
        return std::find_if(pending_.begin(), pending_.end(),
                            [&](const Urb& u) { return u.endpoint == endpoint; });
    }

    const std::string socketPath_;
    UMockdevIoctlBase* const handler_;
    std::mutex mutex_;
    std::shared_ptr<usb::Interface> device_;  // the session's connection, if any
    std::uint64_t session_ = 0;               // counts sessions
    std::condition_variable cv_;
    std::deque<Urb> pending_;  // IN URBs waiting for data, OUT URBs held
    std::deque<Urb> done_;     // URBs to reap, oldest first
    bool gone_ = false;
    std::set<std::uint8_t> halted_;  // endpoints that stall until cleared
    std::uint8_t held_ = 0;          // the OUT endpoint whose URBs are never written
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> submitted_{0};
    std::atomic<std::uint64_t> heldWrites_{0};
    std::vector<std::thread> readers_;
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
inline constexpr bool kSanitized =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
inline constexpr bool kSanitized = false;
#endif

// The mocked devices of one test: bus 1, a device per port.
class UsbTestbed {
public:
    UsbTestbed() : testbed_(umockdev_testbed_new()) {}
    ~UsbTestbed() {
        nodes_.clear();
        g_object_unref(testbed_);
    }
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    // Whether umockdev's preload library is in the process.
    static bool Preloaded() {
        const char* preload = std::getenv("LD_PRELOAD");
        return preload != nullptr && std::strstr(preload, "umockdev-preload") != nullptr;
    }
    // Why the test bed cannot run in this process (a test skips with it), or
    // nothing when it can.
    static std::optional<std::string> Unavailable() {
        if (kSanitized)
            return "sanitizer build: its runtime must be the first library loaded and refuses "
                   "umockdev's LD_PRELOAD; the libusb test bed runs in the plain build";
        if (!Preloaded()) return "run under umockdev-wrapper (LD_PRELOAD of libumockdev-preload)";
        return std::nullopt;
    }

    static std::string SysPath(int port) { return "/sys/devices/usb1/1-" + std::to_string(port); }

    // A simulated adapter's bus socket, reached through a mocked USB device
    // at bus 1, port `port` (device path "libusb:1-<port>"), with
    // `configuration` as its configuration descriptors. No uevent is sent.
    bool AddUsbDevice(int port, const std::string& socketPath, const char* configuration) {
        const std::string number = std::to_string(port + 1);
        const std::string node = "/dev/bus/usb/001/00" + number;
        auto& slot = nodes_[port];
        if (slot) {
            // A device plugged in where one was: the old node's clients are
            // gone, its handler can go.
            umockdev_testbed_detach_ioctl(testbed_, node.c_str(), nullptr);
            slot.reset();
        }
        slot = std::make_unique<MockAdapterNode>(socketPath);
        if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), slot->Handler(), nullptr))
            return false;
        const std::string record =
            "P: /devices/usb1/1-" + std::to_string(port) + "\nN: bus/usb/001/00" + number +
            "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\n"
            "E: DEVNUM=00" +
            number + "\nE: DEVNAME=" + node + "\nA: busnum=1\\n\nA: devnum=" + number +
            "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\n"
            "H: descriptors=" +
            kDeviceDescriptor + configuration + "\n";
        return umockdev_testbed_add_from_string(testbed_, record.c_str(), nullptr);
    }

    void Uevent(int port, const char* action) {
        umockdev_testbed_uevent(testbed_, SysPath(port).c_str(), action);
    }

    // The device is unplugged: its node answers as for a device gone
    // (MockAdapterNode::Vanish), udev reports the removal, the sysfs entry
    // goes. The node stays until the port takes a device again, for the
    // host's handle still open on it.
    void RemoveUsbDevice(int port) {
        nodes_.at(port)->Vanish();
        Uevent(port, "remove");
        umockdev_testbed_remove_device(testbed_, SysPath(port).c_str());
    }

    // The device node's file in the test bed (what an open of
    // /dev/bus/usb/001/<n> reaches), e.g. to change its permissions.
    std::string NodeFile(int port) const {
        gchar* root = umockdev_testbed_get_root_dir(testbed_);
        std::string path = std::string(root) + "/dev/bus/usb/001/00" + std::to_string(port + 1);
        g_free(root);
        return path;
    }

    // The node of the device at `port`.
    MockAdapterNode& Node(int port) { return *nodes_.at(port); }

private:
    UMockdevTestbed* const testbed_;
    std::map<int, std::unique_ptr<MockAdapterNode>> nodes_;  // by port
};

}  // namespace orv::testing
