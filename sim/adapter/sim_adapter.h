// One simulated USB display adapter on the simulated bus.
//
// Listens at <bus>/<name>.sock, one host connection at a time; sends DESC
// first, then serves the host's frames: SETALT picks an interface setting,
// OUT transfers are adapter packets, checked (packet_check.h) and answered on
// 0x82 as the service expects; notifications go out on 0x81 (monitor plug
// state after power-on and on every change, frame acknowledgements after the
// configured delay, a keep-alive every keepAliveMs). Violations are counted
// and logged, and a violating packet is not acted on (no reply, no ack),
// except that a serial-ROM access outside the ROM is answered with a failed
// status, and a frame packet whose picture fails its check is still
// acknowledged (it was taken). A frame for a monitor unplugged meanwhile is
// acknowledged without a violation: the host cannot have known.
//
// Threads (started by Attach, joined by Detach and the destructor):
//   "sim-io-<n>"  accepts the host, reads its frames, answers; the only user
//                 of the serial ROM.
//   "sim-ntf-<n>" sends notifications (plug state, acks, keep-alive).
// Control operations (Plug, Stats, ...) come from any thread. Pictures are
// decoded on the I/O thread outside the state lock (only that thread touches
// a monitor's back buffer), so snapshots and statistics never wait for a
// decode.
//
// Locks: lifecycleMutex_ (Attach/Detach only, held while joining; the
// adapter's threads never take it) -> none of the others while joining.
// stateMutex_ guards the adapter's state and is never held while sending.
// sendMutex_ serialises writes to the connection and is held across a send
// (a socket takes one writer at a time); it is taken before connMutex_, which
// only guards the connection's descriptor and is held for no I/O.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_annotations.h"
#include "protocol/adapter/packets.h"
#include "sim/adapter/frame_decode.h"
#include "sim/adapter/packet_check.h"
#include "sim/adapter/serial_rom.h"
#include "sim/adapter/sim_config.h"

namespace orv::posix {
class WakeableWait;
}

namespace orv::sim {

struct AdapterStats {
    std::uint64_t packets = 0;  // OUT transfers
    std::uint64_t frames = 0;   // frame packets (types 0, 4) taken
    std::uint64_t acks = 0;     // frame acknowledgements sent
    std::uint64_t shows = 0;    // show-frame commands
    std::uint64_t commits = 0;
    std::uint64_t romWrites = 0;  // serial-ROM writes done
    std::uint64_t violations = 0;
};

// What the next EDID replies get wrong (see CorruptNextEdid).
enum class EdidCorruption { kNone, kChecksum, kSize200, kWrongPort };

// A monitor changing to a new frame: the frame number (bits 8..31 of the
// FrameIndex of the picture it now shows) and when, in microseconds of the
// monotonic clock (CLOCK_MONOTONIC, comparable between the processes of one
// machine).
struct Flip {
    std::uint32_t frame = 0;
    std::int64_t atUs = 0;
};

struct MonitorState {
    std::uint8_t port = 0;
    bool plugged = false;
    bool outputOn = false;
    std::vector<std::uint8_t> edid;
    MonitorPicture picture;
};

// One monitor's flips, without its pictures.
struct MonitorFlips {
    std::uint8_t port = 0;
    bool plugged = false;
    std::uint32_t frame = 0;  // the frame number it shows
    std::vector<Flip> flips;  // the most recent kFlipsKept, oldest first
};
inline constexpr std::size_t kFlipsKept = 4096;

class SimAdapter {
public:
    // Opens (or creates) the serial ROM and builds the monitors' EDIDs.
    // Nothing (and `error`) when the ROM or an EDID file is unusable.
    // `index` numbers the threads and the generated EDID serials.
    static std::unique_ptr<SimAdapter> Create(const AdapterConfig& config, std::size_t index,
                                              const std::string& busDir, std::string* error);
    ~SimAdapter();
    SimAdapter(const SimAdapter&) = delete;
    SimAdapter& operator=(const SimAdapter&) = delete;

    // Creates the socket and starts the threads. False (and `error`) when the
    // socket cannot be made; true at once when already attached.
    bool Attach(std::string* error);
    // Removes the socket file, drops the host, joins the threads. Blocks until
    // they have ended (a send in progress is cut short).
    void Detach();
    bool Attached() const;

    const std::string& Name() const { return config_.name; }
    std::string SocketPath() const;
    const SerialRom& Rom() const { return *rom_; }

    // Plugs a monitor in (a new one on a free port gets a generated EDID;
    // `edid` replaces the EDID). A plug on a plugged port with another EDID
    // is a monitor swap. Sends the plug notification.
    bool Plug(std::uint8_t port, std::optional<std::vector<std::uint8_t>> edid);
    // False when no monitor is plugged there.
    bool Unplug(std::uint8_t port);
    void SetAcksEnabled(bool enabled);
    // A broken link sends nothing more (no replies, no notifications) until
    // mended; the host's reads then time out.
    void SetLinkBroken(bool broken);
    void CorruptNextEdid(EdidCorruption how, unsigned count = 1);

    AdapterStats Stats() const;
    std::vector<std::string> RecentViolations() const;
    std::uint8_t MonitorMask() const;
    // A snapshot of one monitor, without the pictures kept for show-frame
    // commands still to come.
    std::optional<MonitorState> Monitor(std::uint8_t port) const;
    // Every monitor known to the adapter, in port order.
    std::vector<MonitorFlips> Flips() const;
    Topology CurrentTopology() const;

private:
    struct PendingAck {
        std::chrono::steady_clock::time_point due;
        std::uint32_t frameIndex;
    };
    struct ViewState {
        std::uint16_t modeW = 0, modeH = 0, regionW = 0, regionH = 0, wallW = 0, wallH = 0;
        std::uint8_t lastType = 0;
    };

    SimAdapter(AdapterConfig config, std::size_t index, std::string busDir,
               std::unique_ptr<SerialRom> rom);

    void IoThread();
    void NotifierThread();
    void Serve(int fd);
    void HandleFrame(const bus::FrameHeader& header, const std::vector<std::uint8_t>& payload);
    void HandlePacket(std::uint8_t endpoint, bytes::ConstBytes packet);
    // Each returns the reply to send on 0x82, or nothing for write-only
    // commands and refused packets.
    std::optional<adapter::Packet> HandleTopology(bytes::ConstBytes p);
    std::optional<adapter::Packet> HandleView(bytes::ConstBytes p);
    std::optional<adapter::Packet> HandleEdidQuery(bytes::ConstBytes p);
    std::optional<adapter::Packet> HandleVersionQuery(bytes::ConstBytes p);
    std::optional<adapter::Packet> HandleSerialRom(bytes::ConstBytes p);
    void HandleFramePacket(bytes::ConstBytes p);
    void HandleShowFrame(bytes::ConstBytes p);

    void Violation(const std::string& what) EXCLUDES(stateMutex_);
    bool SendIn(std::uint8_t endpoint, bytes::ConstBytes packet) EXCLUDES(stateMutex_);
    bool SendRaw(bus::FrameKind kind, std::uint8_t endpoint, bytes::ConstBytes payload)
        EXCLUDES(stateMutex_);
    std::uint8_t MaskLocked() const REQUIRES(stateMutex_);
    bool HasEndpointLocked(std::uint8_t endpoint) const REQUIRES(stateMutex_);
    void MarkPlugChangeLocked() REQUIRES(stateMutex_);

    const AdapterConfig config_;
    const std::size_t index_;
    const std::string busDir_;
    const std::unique_ptr<SerialRom> rom_;  // I/O thread only
    std::vector<std::uint8_t> caps_;

    Mutex lifecycleMutex_ ACQUIRED_BEFORE(stateMutex_, connMutex_);
    std::thread io_ GUARDED_BY(lifecycleMutex_);
    std::thread notifier_ GUARDED_BY(lifecycleMutex_);
    // Made by Attach and closed by Detach (under lifecycleMutex_) while the
    // threads are not running; the threads only read them.
    int listenFd_ = -1;
    std::unique_ptr<posix::WakeableWait> wait_;  // woken by Detach
    std::atomic<bool> attached_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> broken_{false};

    Mutex sendMutex_ ACQUIRED_BEFORE(connMutex_);
    Mutex connMutex_ ACQUIRED_AFTER(lifecycleMutex_, sendMutex_);
    int connFd_ GUARDED_BY(connMutex_) = -1;  // closed only under sendMutex_

    mutable Mutex stateMutex_ ACQUIRED_AFTER(lifecycleMutex_);
    CondVar notifierWake_;
    std::map<std::uint8_t, MonitorState> monitors_ GUARDED_BY(stateMutex_);
    std::map<std::uint8_t, std::deque<Flip>> flips_ GUARDED_BY(stateMutex_);  // by port
    Topology topology_ GUARDED_BY(stateMutex_);
    ViewState views_[2] GUARDED_BY(stateMutex_);
    std::size_t setting_ GUARDED_BY(stateMutex_) = 0;  // index into config_.descriptor
    bool connected_ GUARDED_BY(stateMutex_) = false;
    bool powered_ GUARDED_BY(stateMutex_) = false;
    bool plugChangePending_ GUARDED_BY(stateMutex_) = false;
    bool acksEnabled_ GUARDED_BY(stateMutex_) = true;
    EdidCorruption corruption_ GUARDED_BY(stateMutex_) = EdidCorruption::kNone;
    unsigned corruptionsLeft_ GUARDED_BY(stateMutex_) = 0;  // EDID replies still to corrupt
    std::deque<PendingAck> acks_ GUARDED_BY(stateMutex_);
    std::chrono::steady_clock::time_point nextKeepAlive_ GUARDED_BY(stateMutex_);
    AdapterStats stats_ GUARDED_BY(stateMutex_);
    std::deque<std::string> violations_ GUARDED_BY(stateMutex_);  // the most recent ones
};

}  // namespace orv::sim
