#include "sim/adapter/sim_adapter.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/posix/wakeable_wait.h"
#include "platform/thread_name.h"
#include "sim/adapter/edid.h"
#include "sim/adapter/sim_log.h"

namespace orv::sim {
namespace {

namespace t = adapter::type;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kViolationsKept = 32;
// Largest serial-ROM transfer: the service's transfer buffer is 1 MiB.
constexpr std::uint32_t kMaxSromTransfer = 1024 * 1024 - adapter::kHeaderSize;

std::uint32_t U32(bytes::ConstBytes b, std::size_t o) {
    std::uint32_t v = 0;
    bytes::GetU32(b, o, v);
    return v;
}

std::uint16_t U16(bytes::ConstBytes b, std::size_t o) {
    std::uint16_t v = 0;
    bytes::GetU16(b, o, v);
    return v;
}

int ScreenOf(bytes::ConstBytes p) {
    return (U32(p, adapter::kOffControlWord) & adapter::kControlWordSecondOutput) ? 1 : 0;
}

std::vector<std::uint8_t> DefaultCaps() {
    std::vector<std::uint8_t> caps(adapter::kCapsBlockSize);
    for (std::size_t i = 0; i < caps.size(); ++i) caps[i] = static_cast<std::uint8_t>(i);
    return caps;
}

EdidParams ParamsFor(const MonitorConfig& m, std::size_t adapterIndex) {
    EdidParams p;
    p.name = m.name.empty()
                 ? "ORV SIM " + std::to_string(adapterIndex) + "-" + std::to_string(m.port)
                 : m.name;
    p.serial =
        m.serial != 0 ? m.serial : static_cast<std::uint32_t>((adapterIndex + 1) * 100 + m.port);
    p.width = m.width;
    p.height = m.height;
    p.refresh = m.refresh;
    p.size = m.edidSize;
    return p;
}

void NameThread(const char* role, std::size_t index) {
    char name[16];
    std::snprintf(name, sizeof name, "sim-%s-%zu", role, index);
    platform::SetCurrentThreadName(name);
}

}  // namespace

std::unique_ptr<SimAdapter> SimAdapter::Create(const AdapterConfig& config, std::size_t index,
                                               const std::string& busDir, std::string* error) {
    auto rom = SerialRom::Open(config.romFile, config.romSize, config.identity, error);
    if (!rom) return nullptr;
    std::unique_ptr<SimAdapter> a(new SimAdapter(config, index, busDir, std::move(rom)));
    for (const MonitorConfig& m : config.monitors) {
        MonitorState state;
        state.port = m.port;
        state.plugged = m.plugged;
        if (m.edidFile.empty()) {
            state.edid = GenerateEdid(ParamsFor(m, index));
        } else {
            auto edid = LoadEdidHex(m.edidFile, error);
            if (!edid) return nullptr;
            state.edid = std::move(*edid);
        }
        MutexLock lock(a->stateMutex_);  // not shared yet, but the member is guarded
        a->monitors_[m.port] = std::move(state);
    }
    return a;
}

SimAdapter::SimAdapter(AdapterConfig config, std::size_t index, std::string busDir,
                       std::unique_ptr<SerialRom> rom)
    : config_(std::move(config)), index_(index), busDir_(std::move(busDir)), rom_(std::move(rom)) {
    caps_ = config_.caps.empty() ? DefaultCaps() : config_.caps;
    caps_.resize(adapter::kCapsBlockSize, 0);
    for (auto& e : topology_) e = adapter::ScreenEntry{};
}

SimAdapter::~SimAdapter() {
    Detach();
}

std::string SimAdapter::SocketPath() const {
    return busDir_ + "/" + config_.name + ".sock";
}

bool SimAdapter::Attached() const {
    return attached_;
}

bool SimAdapter::Attach(std::string* error) {
    MutexLock lifecycle(lifecycleMutex_);
    if (attached_) return true;
    wait_ = std::make_unique<posix::WakeableWait>(posix::WakeableWait::WakeKind::kStays);
    listenFd_ = wait_->Ok() ? bus::ListenAt(SocketPath()) : -1;
    if (listenFd_ < 0) {
        if (error) *error = SocketPath() + ": " + std::strerror(errno);
        wait_.reset();
        return false;
    }
    stopping_ = false;
    attached_ = true;
    io_ = std::thread([this] { IoThread(); });
    notifier_ = std::thread([this] { NotifierThread(); });
    SimLog("%s: listening at %s", Name().c_str(), SocketPath().c_str());
    return true;
}

void SimAdapter::Detach() {
    MutexLock lifecycle(lifecycleMutex_);
    if (!attached_) return;
    // The file goes first: to the host that is the device leaving.
    unlink(SocketPath().c_str());
    {
        MutexLock lock(stateMutex_);
        stopping_ = true;
    }
    notifierWake_.NotifyAll();
    wait_->Wake();
    {
        MutexLock lock(connMutex_);
        if (connFd_ >= 0) shutdown(connFd_, SHUT_RDWR);
    }
    io_.join();
    notifier_.join();
    close(listenFd_);
    listenFd_ = -1;
    wait_.reset();
    attached_ = false;
    SimLog("%s: detached", Name().c_str());
}

// ---------------------------------------------------------------- control

bool SimAdapter::Plug(std::uint8_t port, std::optional<std::vector<std::uint8_t>> edid) {
    MutexLock lock(stateMutex_);
    MonitorState& m = monitors_[port];
    if (m.port == 0) {
        MonitorConfig generated;
        generated.port = port;
        m.port = port;
        m.edid = GenerateEdid(ParamsFor(generated, index_));
    }
    if (edid) m.edid = std::move(*edid);
    m.plugged = true;
    MarkPlugChangeLocked();
    return true;
}

bool SimAdapter::Unplug(std::uint8_t port) {
    MutexLock lock(stateMutex_);
    auto it = monitors_.find(port);
    if (it == monitors_.end() || !it->second.plugged) return false;
    it->second.plugged = false;
    MarkPlugChangeLocked();
    return true;
}

void SimAdapter::MarkPlugChangeLocked() {
    plugChangePending_ = true;
    notifierWake_.NotifyAll();
}

void SimAdapter::SetAcksEnabled(bool enabled) {
    MutexLock lock(stateMutex_);
    acksEnabled_ = enabled;
    if (!enabled) acks_.clear();
}

void SimAdapter::SetLinkBroken(bool broken) {
    broken_ = broken;
}

void SimAdapter::CorruptNextEdid(EdidCorruption how, unsigned count) {
    MutexLock lock(stateMutex_);
    corruption_ = how;
    corruptionsLeft_ = how == EdidCorruption::kNone ? 0 : count;
}

AdapterStats SimAdapter::Stats() const {
    MutexLock lock(stateMutex_);
    return stats_;
}

std::vector<std::string> SimAdapter::RecentViolations() const {
    MutexLock lock(stateMutex_);
    return {violations_.begin(), violations_.end()};
}

std::uint8_t SimAdapter::MonitorMask() const {
    MutexLock lock(stateMutex_);
    return MaskLocked();
}

std::optional<MonitorState> SimAdapter::Monitor(std::uint8_t port) const {
    MutexLock lock(stateMutex_);
    auto it = monitors_.find(port);
    if (it == monitors_.end()) return std::nullopt;
    // The pictures kept for their show-frame commands stay behind: copying
    // them (up to 8 screens) under the state lock would hold up the I/O thread.
    const MonitorState& m = it->second;
    MonitorState copy{m.port, m.plugged, m.outputOn, m.edid, {}};
    const MonitorPicture& p = m.picture;
    copy.picture = {p.width,          p.height,          p.bitsPerPixel, p.back, p.front,
                    p.backFrameIndex, p.frontFrameIndex, p.pictures,     {},     p.showCommands};
    return copy;
}

std::vector<MonitorFlips> SimAdapter::Flips() const {
    MutexLock lock(stateMutex_);
    std::vector<MonitorFlips> out;
    for (const auto& [port, m] : monitors_) {
        MonitorFlips f{port, m.plugged, m.picture.frontFrameIndex >> 8, {}};
        if (auto it = flips_.find(port); it != flips_.end())
            f.flips.assign(it->second.begin(), it->second.end());
        out.push_back(std::move(f));
    }
    return out;
}

Topology SimAdapter::CurrentTopology() const {
    MutexLock lock(stateMutex_);
    return topology_;
}

std::uint8_t SimAdapter::MaskLocked() const {
    std::uint8_t mask = 0;
    for (const auto& [port, m] : monitors_)
        if (m.plugged) mask |= port;
    return mask;
}

bool SimAdapter::HasEndpointLocked(std::uint8_t endpoint) const {
    const auto& eps = config_.descriptor[setting_].endpoints;
    return std::any_of(eps.begin(), eps.end(),
                       [&](const bus::EndpointDescriptor& e) { return e.address == endpoint; });
}

void SimAdapter::Violation(const std::string& what) {
    {
        MutexLock lock(stateMutex_);
        ++stats_.violations;
        violations_.push_back(what);
        if (violations_.size() > kViolationsKept) violations_.pop_front();
    }
    SimLog("%s: protocol violation: %s", Name().c_str(), what.c_str());
}

// ---------------------------------------------------------------- sending

bool SimAdapter::SendRaw(bus::FrameKind kind, std::uint8_t endpoint, bytes::ConstBytes payload) {
    MutexLock send(sendMutex_);
    int fd;
    {
        MutexLock lock(connMutex_);
        fd = connFd_;
    }
    return fd >= 0 && bus::SendFrame(fd, kind, endpoint, payload);
}

bool SimAdapter::SendIn(std::uint8_t endpoint, bytes::ConstBytes packet) {
    if (broken_) return false;
    {
        MutexLock lock(stateMutex_);
        if (!HasEndpointLocked(endpoint)) return false;
    }
    return SendRaw(bus::FrameKind::kIn, endpoint, packet);
}

// ---------------------------------------------------------------- threads

void SimAdapter::IoThread() {
    NameThread("io", index_);
    while (!stopping_) {
        const posix::WakeableWait::Readiness r = wait_->Wait({listenFd_});
        if (r.failed) {
            SimLog("%s: poll failed: %s", Name().c_str(), std::strerror(errno));
            return;
        }
        if (r.woken) return;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) Serve(fd);
    }
}

void SimAdapter::Serve(int fd) {
    {
        MutexLock lock(connMutex_);
        connFd_ = fd;
    }
    {
        MutexLock lock(stateMutex_);
        connected_ = true;
        powered_ = false;
        plugChangePending_ = false;
        setting_ = 0;
        acks_.clear();
        for (auto& e : topology_) e = adapter::ScreenEntry{};
        nextKeepAlive_ = Clock::now() + std::chrono::milliseconds(config_.keepAliveMs);
    }
    notifierWake_.NotifyAll();
    SimLog("%s: host connected", Name().c_str());
    SendRaw(bus::FrameKind::kDesc, 0, bus::EncodeDescriptor(config_.descriptor));

    bus::FrameHeader header;
    std::vector<std::uint8_t> payload;
    while (!stopping_) {
        const posix::WakeableWait::Readiness r = wait_->Wait({fd, listenFd_});
        if (r.woken || r.failed) break;
        if (r.ready[0]) {
            // The current host first: when it has just gone, its end of
            // stream is read here and a waiting new host is taken next.
            std::string error;
            const bus::IoResult r = bus::RecvFrame(fd, header, payload, &error);
            if (r == bus::IoResult::kClosed) break;
            if (r == bus::IoResult::kBadFrame) {
                Violation("bus: " + error + "; connection dropped");
                break;
            }
            HandleFrame(header, payload);
        } else if (r.ready[1]) {
            // One host at a time: a second live connection is closed at once.
            const int extra = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (extra >= 0) {
                SimLog("%s: second host connection refused", Name().c_str());
                close(extra);
            }
        }
    }

    {
        MutexLock lock(stateMutex_);
        connected_ = false;
        acks_.clear();
    }
    {
        MutexLock lock(connMutex_);
        connFd_ = -1;
    }
    shutdown(fd, SHUT_RDWR);
    {
        // A notification being sent finishes (or fails) before the close.
        MutexLock send(sendMutex_);
        close(fd);
    }
    SimLog("%s: host disconnected", Name().c_str());
}

void SimAdapter::NotifierThread() {
    NameThread("ntf", index_);
    stateMutex_.lock();
    while (!stopping_) {
        const auto now = Clock::now();
        struct Outgoing {
            adapter::Packet packet;
            bool ack;
        };
        std::vector<Outgoing> out;
        if (connected_) {
            if (plugChangePending_) {
                out.push_back({adapter::BuildMonitorPnp(MaskLocked()), false});
                plugChangePending_ = false;
            }
            while (!acks_.empty() && acks_.front().due <= now) {
                out.push_back({adapter::BuildFrameAck(acks_.front().frameIndex), true});
                acks_.pop_front();
            }
            if (now >= nextKeepAlive_) {
                out.push_back({adapter::BuildKeepAlive(), false});
                nextKeepAlive_ = now + std::chrono::milliseconds(config_.keepAliveMs);
            }
        }
        if (!out.empty()) {
            stateMutex_.unlock();  // never held while sending
            std::uint64_t sentAcks = 0;
            for (const Outgoing& o : out)
                if (SendIn(adapter::kPipeInNotify, o.packet) && o.ack) ++sentAcks;
            stateMutex_.lock();
            stats_.acks += sentAcks;
            continue;
        }
        // Nothing is due now (the lock has been held since the checks above).
        // Without a host there is nothing to time; a new host (its first
        // keep-alive is due) wakes the thread like any other change. Every
        // wake-up, the deadline's included, goes round the loop, which sends
        // what has become due.
        auto deadline = connected_ ? nextKeepAlive_ : now + std::chrono::hours(1);
        if (connected_ && !acks_.empty()) deadline = std::min(deadline, acks_.front().due);
        notifierWake_.WaitUntil(stateMutex_, deadline);
    }
    stateMutex_.unlock();
}

// ---------------------------------------------------------------- packets

void SimAdapter::HandleFrame(const bus::FrameHeader& header,
                             const std::vector<std::uint8_t>& payload) {
    char what[128];
    switch (header.kind) {
        case bus::FrameKind::kSetAlt: {
            MutexLock lock(stateMutex_);
            const auto& settings = config_.descriptor;
            auto it = payload.size() != 1
                          ? settings.end()
                          : std::find_if(settings.begin(), settings.end(), [&](const auto& s) {
                                return s.alternateSetting == payload[0];
                            });
            if (it != settings.end()) {
                setting_ = static_cast<std::size_t>(it - settings.begin());
                return;
            }
            std::snprintf(what, sizeof what,
                          "SETALT of %zu bytes names no setting of the descriptor", payload.size());
            break;
        }
        case bus::FrameKind::kReset:
        case bus::FrameKind::kAbort:
        case bus::FrameKind::kFlush:
            return;
        case bus::FrameKind::kOut: {
            bool known;
            {
                MutexLock lock(stateMutex_);
                known = (header.endpoint & 0x80) == 0 && HasEndpointLocked(header.endpoint);
            }
            if (known) {
                HandlePacket(header.endpoint, payload);
                return;
            }
            std::snprintf(what, sizeof what,
                          "OUT transfer on endpoint 0x%02X, which the setting lacks",
                          header.endpoint);
            Violation(what);
            return;
        }
        case bus::FrameKind::kDesc:
        case bus::FrameKind::kIn:
            std::snprintf(what, sizeof what, "bus frame kind 0x%02X is not sent by a host",
                          static_cast<unsigned>(header.kind));
            break;
    }
    Violation(what);
}

void SimAdapter::HandlePacket(std::uint8_t endpoint, bytes::ConstBytes p) {
    std::string violation;
    {
        MutexLock lock(stateMutex_);
        ++stats_.packets;
        violation = CheckOutPacket(endpoint, p, topology_);
    }
    if (!violation.empty()) {
        Violation(violation);
        return;
    }
    const std::uint8_t dataType = p[adapter::kOffDataType];
    std::optional<adapter::Packet> reply;
    switch (dataType) {
        case t::kTopology:
            reply = HandleTopology(p);
            break;
        case t::kOutputPower: {
            if (!IsPortBit(p[adapter::kOffPowerPort])) {
                Violation("output power for port " + std::to_string(p[adapter::kOffPowerPort]));
                break;
            }
            MutexLock lock(stateMutex_);
            auto it = monitors_.find(p[adapter::kOffPowerPort]);
            if (it != monitors_.end()) it->second.outputOn = p[adapter::kOffPowerOff] == 0;
            reply = adapter::BuildStatusReply(dataType, 0);
            break;
        }
        case t::kPowerOn: {
            MutexLock lock(stateMutex_);
            if (!powered_) MarkPlugChangeLocked();  // the first plug state goes out now
            powered_ = true;
            reply = adapter::BuildStatusReply(dataType, 0);
            break;
        }
        case t::kViewMode62:
        case t::kViewMode64:
        case t::kViewGeometry63:
        case t::kViewGeometry65:
        case t::kViewGeometry76:
            reply = HandleView(p);
            break;
        case t::kCommit: {
            MutexLock lock(stateMutex_);
            ++stats_.commits;
            break;
        }
        case t::kShowFrame:
            HandleShowFrame(p);
            break;
        case t::kEdidQuery:
            reply = HandleEdidQuery(p);
            break;
        case t::kVersionQuery:
            reply = HandleVersionQuery(p);
            break;
        case t::kCapsQuery:
            reply = adapter::BuildCapsReply(caps_);
            break;
        case t::kSerialRom:
            reply = HandleSerialRom(p);
            break;
        case t::kFrame:
        case t::kFrameAlt:
            HandleFramePacket(p);
            break;
        default:
            break;  // the other frame-path types are taken without effect
    }
    if (reply) SendIn(adapter::kPipeInReply, *reply);
}

std::optional<adapter::Packet> SimAdapter::HandleTopology(bytes::ConstBytes p) {
    std::string violation;
    const std::optional<Topology> next = ReadTopology(p, &violation);
    if (!next) {
        Violation(violation);
        return std::nullopt;
    }
    MutexLock lock(stateMutex_);
    topology_ = *next;
    for (const adapter::ScreenEntry& e : topology_) {
        if (e.Empty()) continue;
        auto it = monitors_.find(e.portBit);
        if (it == monitors_.end()) continue;
        MonitorPicture& pic = it->second.picture;
        if (pic.width != e.width || pic.height != e.height || pic.bitsPerPixel != e.bitsPerPixel) {
            pic = MonitorPicture{};
            pic.width = e.width;
            pic.height = e.height;
            pic.bitsPerPixel = e.bitsPerPixel;
        }
    }
    return adapter::BuildStatusReply(t::kTopology, 0);
}

std::optional<adapter::Packet> SimAdapter::HandleView(bytes::ConstBytes p) {
    const std::uint8_t dataType = p[adapter::kOffDataType];
    const bool mode = dataType == t::kViewMode62 || dataType == t::kViewMode64;
    MutexLock lock(stateMutex_);
    ViewState& v = views_[ScreenOf(p)];
    v.lastType = dataType;
    v.regionH = U16(p, adapter::kOffViewRegionH);
    v.wallW = U16(p, adapter::kOffViewWallW);
    v.wallH = U16(p, adapter::kOffViewWallH);
    if (mode) {
        v.modeW = U16(p, adapter::kOffViewModeW);
        v.modeH = static_cast<std::uint16_t>(p[adapter::kOffViewModeHLow] |
                                             p[adapter::kOffViewModeHHigh] << 8);
        // Only RW's high byte travels in the mode commands.
        v.regionW =
            static_cast<std::uint16_t>((v.regionW & 0xFF) | p[adapter::kOffViewRegionWHigh] << 8);
    } else {
        v.regionW = static_cast<std::uint16_t>(p[adapter::kOffViewRegionWLow] |
                                               p[adapter::kOffViewRegionWHigh] << 8);
    }
    return adapter::BuildStatusReply(dataType, 0);
}

std::optional<adapter::Packet> SimAdapter::HandleEdidQuery(bytes::ConstBytes p) {
    const std::uint8_t port = p[adapter::kOffQueryPort];
    if (!IsPortBit(port)) {
        Violation("EDID query for port " + std::to_string(port));
        return std::nullopt;
    }
    MutexLock lock(stateMutex_);
    auto it = monitors_.find(port);
    if (it == monitors_.end() || !it->second.plugged)
        return adapter::BuildEdidReply(port, 1, 0, {});
    std::vector<std::uint8_t> edid = it->second.edid;
    std::uint8_t replyPort = port;
    EdidCorruption corruption = EdidCorruption::kNone;
    if (corruptionsLeft_ > 0) {
        corruption = corruption_;
        if (--corruptionsLeft_ == 0) corruption_ = EdidCorruption::kNone;
    }
    switch (corruption) {
        case EdidCorruption::kNone:
            break;
        case EdidCorruption::kChecksum:
            edid.back() = static_cast<std::uint8_t>(edid.back() + 1);
            break;
        case EdidCorruption::kSize200:
            edid.resize(200, 0);
            break;
        case EdidCorruption::kWrongPort:
            replyPort = port == 0x01 ? 0x04 : 0x01;
            break;
    }
    return adapter::BuildEdidReply(replyPort, 0, static_cast<std::uint32_t>(edid.size()), edid);
}

std::optional<adapter::Packet> SimAdapter::HandleVersionQuery(bytes::ConstBytes p) {
    const std::uint8_t subType = p[adapter::kOffQuerySubType];
    if (subType == adapter::kVersionFirmware)
        return adapter::BuildVersionReply(
            rom_->FirmwareVersionTag().value_or(config_.firmwareVersion));
    if (subType == adapter::kVersionLayout)
        return adapter::BuildLayoutReply(rom_->LayoutVersionTag().value_or(config_.layoutVersion));
    Violation("version query sub-type " + std::to_string(subType) + " unknown");
    return std::nullopt;
}

std::optional<adapter::Packet> SimAdapter::HandleSerialRom(bytes::ConstBytes p) {
    const std::uint8_t op = p[adapter::kOffSromOp];
    const std::uint32_t address = U32(p, adapter::kOffSromAddress);
    const std::uint32_t length = U32(p, adapter::kOffSromLength);
    char what[128];
    if (length > kMaxSromTransfer || !bytes::Fits(rom_->Size(), address, length)) {
        std::snprintf(what, sizeof what,
                      "serial-ROM %s of %u bytes at 0x%X leaves the ROM of 0x%X bytes",
                      op == adapter::kSromRead ? "read" : "write", length, address, rom_->Size());
        Violation(what);
        return adapter::BuildSromReply(op, address, false, {});
    }
    if (op == adapter::kSromRead) {
        std::vector<std::uint8_t> data;
        const bool ok = rom_->Read(address, length, data);
        return adapter::BuildSromReply(op, address, ok,
                                       ok ? bytes::ConstBytes(data) : bytes::ConstBytes{});
    }
    const bool ok = rom_->Write(address, p.subspan(adapter::kOffSromData, length));
    if (!ok) SimLog("%s: serial-ROM file write failed at 0x%X", Name().c_str(), address);
    {
        MutexLock lock(stateMutex_);
        if (ok) ++stats_.romWrites;
    }
    return adapter::BuildSromReply(op, address, ok, {});
}

void SimAdapter::HandleFramePacket(bytes::ConstBytes p) {
    const std::uint32_t frameIndex = U32(p, adapter::kOffFrameIndex);
    const bytes::ConstBytes picture =
        p.subspan(adapter::kOffFramePicture, U32(p, adapter::kOffFramePictureLen));
    // The target's picture is taken out of the state for the decode and put
    // back after it. Only this thread changes pictures, so nothing else can
    // have replaced it meanwhile; readers see the previous front buffer.
    std::uint8_t port = 0;
    MonitorPicture work;
    {
        MutexLock lock(stateMutex_);
        ++stats_.frames;
        const std::optional<int> slot = FrameTarget(p, topology_);  // checked before
        auto it = monitors_.find(topology_[slot.value_or(0)].portBit);
        if (it != monitors_.end() && it->second.plugged) {
            port = it->first;
            work.width = it->second.picture.width;
            work.height = it->second.picture.height;
            work.bitsPerPixel = it->second.picture.bitsPerPixel;
            work.backFrameIndex = it->second.picture.backFrameIndex;
            work.frontFrameIndex = it->second.picture.frontFrameIndex;
            work.showCommands = it->second.picture.showCommands;
            work.back.swap(it->second.picture.back);
            work.unshown.swap(it->second.picture.unshown);
        }
    }
    std::string error;
    const bool decoded =
        port == 0 || DecodeFramePicture(work, frameIndex, picture, &error, config_.decodeFrames);
    {
        MutexLock lock(stateMutex_);
        auto it = monitors_.find(port);
        if (it != monitors_.end()) {
            MonitorPicture& shown = it->second.picture;
            shown.back.swap(work.back);
            shown.unshown.swap(work.unshown);
            if (work.pictures != 0) {
                shown.backFrameIndex = work.backFrameIndex;
                ++shown.pictures;
            }
            // A picture outside the frame path (the monitor's number) gets no
            // show-frame command: it is shown as soon as it is decoded.
            if (decoded && frameIndex == 0) ShowFrame(shown);
        }
        // A monitor that left meanwhile: the packet is consumed and acknowledged.
        if (frameIndex != 0 && acksEnabled_) {
            acks_.push_back(
                {Clock::now() + std::chrono::milliseconds(config_.ackDelayMs), frameIndex});
            notifierWake_.NotifyAll();
        }
    }
    if (!decoded) {
        char what[64];
        std::snprintf(what, sizeof what, "frame 0x%X: ", frameIndex);
        Violation(what + error);
    }
}

void SimAdapter::HandleShowFrame(bytes::ConstBytes p) {
    if (p[adapter::kOffShowFrameAll] != 0xFF) {
        Violation("show-frame byte 21 is not 0xFF");
        return;
    }
    // One time for every screen of the command: they flip together.
    const std::int64_t nowUs =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
            .count();
    const std::uint32_t frameNumber = U32(p, adapter::kOffShowFrameNumber);
    MutexLock lock(stateMutex_);
    ++stats_.shows;
    for (const adapter::ScreenEntry& e : topology_) {
        if (e.Empty()) continue;
        auto it = monitors_.find(e.portBit);
        if (it == monitors_.end()) continue;
        MonitorPicture& picture = it->second.picture;
        const std::uint32_t before = picture.frontFrameIndex;
        ShowFrame(picture, frameNumber);
        if (picture.frontFrameIndex == before || !it->second.plugged) continue;
        std::deque<Flip>& flips = flips_[e.portBit];
        flips.push_back({picture.frontFrameIndex >> 8, nowUs});
        if (flips.size() > kFlipsKept) flips.pop_front();
    }
}

}  // namespace orv::sim
