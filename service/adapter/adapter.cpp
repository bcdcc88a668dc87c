#include "service/adapter/adapter.h"

#include <chrono>
#include <cstring>

#include "platform/thread_name.h"
#include "service/link/adapter_commands.h"
#include "service/log/logger.h"

namespace orv::adapter {

using orv::log::ServiceLog;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kCompressionYuv = 228;
constexpr std::array<int, 3> kPoweredOutputs = {0x01, 0x02, 0x04};

int BitCount(std::uint8_t v) {
    int n = 0;
    for (; v != 0; v &= static_cast<std::uint8_t>(v - 1)) ++n;
    return n;
}

}  // namespace

int ComputeModeClass(const DisplayMode& mode, bool showIdentification,
                     std::uint32_t compressionCode) {
    int modeClass = 2;
    if ((mode.width == 3840 && mode.height == 2160) || (mode.width == 2560 && mode.height == 1440))
        modeClass = 1;
    else if (mode.width == 1920 && mode.height == 1080)
        modeClass = 0;
    if (mode.bitsPerPixel != 32) modeClass = 2;
    if (!showIdentification && compressionCode == kCompressionYuv) modeClass = 2;
    return modeClass;
}

std::uint8_t EffectivePlugMask(std::uint8_t reported, std::uint8_t previous, std::size_t known) {
    if (BitCount(reported) <= 2) return reported;
    switch (known) {
        case 0:
            return 0x05;
        case 1:
            if ((previous & 0x04) == 0) return static_cast<std::uint8_t>(previous | 0x04);
            if ((previous & 0x01) == 0) return static_cast<std::uint8_t>(previous | 0x01);
            return previous;
        case 2:
            return previous;
        default:
            return reported;
    }
}

COvwAdapter::COvwAdapter(AdapterServices services)
    : services_(std::move(services)),
      itemPool_(16, 1024, 1024),
      bufferPool_(kPacketBufferSize, 10 * kPacketBufferSize, kPacketBufferSize,
                  MemPool::CMemoryPool::Search::kFirstFit) {
    for (auto& s : screens_) s = ScreenEntry{};
    notificationThread_ = std::thread([this] { NotificationReader(); });
    sendThread_ = std::thread([this] { SendThread(); });
    plugThread_ = std::thread([this] { PlugWorker(); });
}

COvwAdapter::~COvwAdapter() {
    stop_ = 1;
    plugWorkerStop_ = 1;
    plugEvent_.Set();
    sendQueue_.Stop();
    // Aborting the pipes ends transfers the threads may be waiting in; the
    // link object itself lives until the threads are joined.
    if (link_) link_->Disconnect();
    notificationThread_.join();
    sendThread_.join();
    plugThread_.join();

    DestroyMonitors();
    {
        MutexLock lock(modeSetLock_);
        Drain(false);
    }
    link_.reset();
}

void COvwAdapter::DestroyMonitors() {
    std::vector<COvwMonitor*> leaving = Monitors();
    if (leaving.empty()) return;
    // Every output's monitor leaves with the adapter, whatever its port, so
    // the wall model never keeps a pointer to a destroyed monitor.
    if (services_.wall) services_.wall->BeginAdapterTeardown(leaving);
    for (COvwMonitor* monitor : leaving) {
        if (services_.wall) services_.wall->MonitorLeaves(*monitor);
        std::unique_ptr<COvwMonitor> owned;
        {
            MutexLock lock(monitorMutex_);
            monitorMap_.erase(monitor->PortBit());
            for (auto it = monitors_.begin(); it != monitors_.end(); ++it)
                if (it->get() == monitor) {
                    owned = std::move(*it);
                    monitors_.erase(it);
                    break;
                }
        }
        // Gives a frame pipeline that still holds the monitor from its last
        // frame time to let go of it.
        std::this_thread::sleep_for(200ms);
        owned.reset();
    }
    if (services_.wall) services_.wall->EndAdapterTeardown();
}

void COvwAdapter::SetLink(LinkPtr link) {
    link_ = std::move(link);
}

void COvwAdapter::SendControl(std::uint8_t dataType, const ControlBody& body) {
    if (link_) link::SendControlCommand(*link_, dataType, body);
}

int COvwAdapter::StartDev() {
    if (!link_) return -1;
    SendControl(type::kPowerOn, PowerOnBody());
    {
        MutexLock lock(powerMutex_);
        powered_ = 1;
    }
    ServiceLog("- Send POWER: Success %d -\n", 1);
    Commit();

    ServiceLog("- Query version:Begin -\n");
    std::string firmwareVersion;
    if (!services_.versionCheck || services_.versionCheck(*link_, firmwareVersion) != 0) {
        ServiceLog("- Get version error -\n");
        return -1;
    }
    if (!firmwareVersion.empty()) info_.firmwareVersion = firmwareVersion;

    PowerOffOutputs();

    ServiceLog("- Query Caps:Begin -\n");
    Packet caps = BuildCapsQuery();
    std::vector<std::uint8_t> reply(kCapsReplyBuffer);
    std::uint32_t requestLength = static_cast<std::uint32_t>(caps.size());
    std::uint32_t replyLength = static_cast<std::uint32_t>(reply.size());
    int r = link_->Transact(kPipeOutCommands, caps.data(), requestLength, kPipeInReply,
                            reply.data(), replyLength);
    if (CheckCapsReply(r, bytes::ConstBytes(reply).first(replyLength)) != ReplyFault::kNone) {
        ServiceLog("- Query Caps: error -\n");
        return -1;
    }
    std::memcpy(caps_.data(), reply.data() + kOffCapsBlock, kCapsBlockSize);
    ServiceLog("- Finish Get version-caps-modelist -\n");

    // The identity from the serial-ROM information; a failed read leaves it
    // zero and is not reported.
    Packet srom = BuildSromRead(kSromInfoAddress, kSromInfoSize, false);
    std::vector<std::uint8_t> sromReply(kSromInfoRequestSize);
    requestLength = static_cast<std::uint32_t>(srom.size());
    replyLength = static_cast<std::uint32_t>(sromReply.size());
    r = link_->Transact(kPipeOutCommands, srom.data(), requestLength, kPipeInReply,
                        sromReply.data(), replyLength);
    const bytes::ConstBytes received = bytes::ConstBytes(sromReply).first(replyLength);
    if (CheckSromReply(r, received) == ReplyFault::kNone) {
        const bytes::ConstBytes id =
            bytes::Slice(received, kOffSromData + kSromOffIdentity, kIdentitySize);
        if (!id.empty()) std::memcpy(identity_.data(), id.data(), kIdentitySize);
    }
    started_ = 1;
    return 0;
}

void COvwAdapter::PowerOffOutputs() {
    for (int port : kPoweredOutputs)
        SendControl(type::kOutputPower, OutputPowerBody(static_cast<std::uint8_t>(port), true));
}

void COvwAdapter::Commit() {
    MutexLock lock(commitMutex_);
    if (!link_) return;
    Packet commit = BuildControlCommand(CommitBody());
    std::uint32_t length = static_cast<std::uint32_t>(commit.size());
    if (const int r = link_->Write(kPipeOutCommands, commit.data(), length); r != link::kLinkOk)
        ServiceLog("COvwAdapter::Commit():link write failed, result=%d\n", r);
}

bool COvwAdapter::Enqueue(const std::uint8_t* packet, std::uint32_t length) {
    if (framesBlocked_ || stop_ || !sendQueue_.Running()) return false;
    if (packet == nullptr || length == 0 || length > kPacketBufferSize) return false;
    // Only the frame pipeline enqueues, from one thread per view, so the
    // bound can be overshot by at most one packet per view.
    if (sendQueue_.Size() >= kSendQueueBound) {
        ++skippedPackets_;
        return false;
    }
    auto* item = static_cast<QueueItem*>(itemPool_.Allocate(sizeof(QueueItem)));
    auto* buffer = static_cast<std::uint8_t*>(bufferPool_.Allocate(length));
    if (item == nullptr || buffer == nullptr) {
        itemPool_.Free(item);
        bufferPool_.Free(buffer);
        return false;
    }
    std::memcpy(buffer, packet, length);
    *item = QueueItem{buffer, length};
    if (!sendQueue_.Push(item)) {
        ReleaseItem(item);
        return false;
    }
    return true;
}

void COvwAdapter::ReleaseItem(QueueItem* item) {
    bufferPool_.Free(item->packet);
    itemPool_.Free(item);
}

void COvwAdapter::Drain(bool acknowledge) {
    while (std::optional<QueueItem*> item = sendQueue_.TryPop()) {
        const bytes::ConstBytes packet((*item)->packet, (*item)->length);
        std::uint8_t dataType = 0xFF;
        std::uint32_t frameIndex = 0;
        if (acknowledge && bytes::GetU8(packet, kOffDataType, dataType) &&
            IsFramePacketType(dataType) && bytes::GetU32(packet, kOffFrameIndex, frameIndex)) {
            MutexLock lock(monitorMutex_);
            auto it = monitorMap_.find(frameIndex & 0xFF);
            if (it != monitorMap_.end()) it->second->Acknowledge(frameIndex);
        }
        ReleaseItem(*item);
    }
}

void COvwAdapter::WaitFrameIndex(const char* timeoutText) {
    if (stop_) return;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kFrameWaitMs);
    while (lastAckFrameIndex_ != lastSentFrameIndex_) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ServiceLog("%s", timeoutText);
            return;
        }
        std::this_thread::sleep_for(1ms);
    }
}

ScreenEntry COvwAdapter::Screen(int slot) const {
    MutexLock lock(modeSetLock_);
    return screens_.at(static_cast<std::size_t>(slot));
}

void COvwAdapter::UnderModeSetLock(const std::function<void()>& change) {
    MutexLock lock(modeSetLock_);
    change();
}

int COvwAdapter::monitorcallSetMode(int portBit, int& screenIndex, const DisplayMode& mode,
                                    int wallFlag, int showIdentification) {
    MutexLock lock(modeSetLock_);
    framesBlocked_ = 1;
    Drain(true);
    WaitFrameIndex("COvwAdapter::monitorcallSetMode()-Wait frame index timeout.\n");

    wallMode_ = 0;
    int slot = -1;
    if (screenIndex < 0) {
        for (int s = 0; s < 2 && slot < 0; ++s)
            if (screens_[static_cast<std::size_t>(s)].width == 0) slot = s;
        if (slot >= 0) screenIndex = slot;
    } else if (screenIndex <= 1) {
        slot = screenIndex;
    }
    if (slot < 0) {
        framesBlocked_ = 0;
        return -1;
    }

    ScreenEntry& entry = screens_[static_cast<std::size_t>(slot)];
    entry.screenIndex = static_cast<std::uint8_t>(slot);
    entry.portBit = static_cast<std::uint8_t>(portBit);
    entry.width = mode.width;
    entry.height = mode.height;
    entry.bitsPerPixel = mode.bitsPerPixel;
    entry.refresh = mode.refresh;
    entry.flags = mode.flags;
    wallMode_ = wallFlag;

    PowerOffOutputs();
    SendTopo(showIdentification);
    for (const ScreenEntry& s : screens_)
        if (COvwMonitor* m = MonitorOnPort(s.portBit)) m->SendViewCommands();
    SendOutputPower();

    framesBlocked_ = 0;
    return 0;
}

void COvwAdapter::SendTopo(int showIdentification) {
    const std::uint32_t code = services_.compressionCode ? services_.compressionCode() : 224;
    for (ScreenEntry& s : screens_) {
        if (s.Empty()) continue;
        const DisplayMode mode{s.width, s.height, s.bitsPerPixel, s.refresh, s.flags};
        s.modeClass =
            static_cast<std::uint8_t>(ComputeModeClass(mode, showIdentification != 0, code));
        if (COvwMonitor* m = MonitorOnPort(s.portBit)) m->SetModeClass(s.modeClass);
    }
    if (link_) link::SendTopo(*link_, screens_[0], screens_[1], showIdentification);
}

void COvwAdapter::SendOutputPower() {
    for (const ScreenEntry& s : screens_) {
        if (MonitorOnPort(s.portBit) == nullptr) continue;
        const bool off = s.screenIndex > 1;
        if (off) ServiceLog("=ViewList[i]->m_bMonitorStatus = ORVPTC_MonitorOff=\n");
        SendControl(type::kOutputPower, OutputPowerBody(s.portBit, off));
    }
}

COvwMonitor* COvwAdapter::MonitorOnPort(int portBit) const {
    MutexLock lock(monitorMutex_);
    auto it = monitorMap_.find(portBit);
    return it == monitorMap_.end() ? nullptr : it->second;
}

std::vector<COvwMonitor*> COvwAdapter::Monitors() const {
    MutexLock lock(monitorMutex_);
    std::vector<COvwMonitor*> out;
    for (const auto& m : monitors_) out.push_back(m.get());
    return out;
}

bool COvwAdapter::GetEdid(int portBit, std::array<std::uint8_t, 256>& edid, std::uint32_t& length) {
    int retriesLeft = 3;   // for an unusable EDID
    int attemptsLeft = 4;  // for a reply of the wrong kind
    for (;;) {
        Packet query = BuildEdidQuery(static_cast<std::uint8_t>(portBit));
        std::vector<std::uint8_t> reply(kEdidReplyBuffer);
        std::uint32_t requestLength = static_cast<std::uint32_t>(query.size());
        std::uint32_t replyLength = static_cast<std::uint32_t>(reply.size());
        const int r = link_ ? link_->Transact(kPipeOutCommands, query.data(), requestLength,
                                              kPipeInReply, reply.data(), replyLength)
                            : link::kLinkNotConnected;
        const bytes::ConstBytes received = bytes::ConstBytes(reply).first(r == 0 ? replyLength : 0);
        const EdidCheck check = CheckEdidReply(r, received, static_cast<std::uint8_t>(portBit));
        switch (check.fault) {
            case ReplyFault::kNone:
                std::memcpy(edid.data(), check.edid.data(), check.edid.size());
                length = static_cast<std::uint32_t>(check.edid.size());
                return true;
            case ReplyFault::kLink:
            case ReplyFault::kMagic:
            case ReplyFault::kLength:
                return false;
            case ReplyFault::kDataType:
            case ReplyFault::kPort:
                ServiceLog("= GetEdid(): Query EDID: Data type error:Data type:%d =\n",
                           received.size() > kOffReplyType ? received[kOffReplyType] : 0);
                if (--attemptsLeft <= 0) return false;
                continue;
            default:
                ServiceLog(
                    "= COrfgView Construction: Query EDID: EDID is illegal, or bError, or EDIDSize "
                    "= %d  = %d =\n",
                    check.bError, static_cast<int>(check.size));
                if (retriesLeft-- <= 0) {
                    ServiceLog(
                        "= COrfgView Construction: Query EDID: HW EDID is also illegal, report "
                        "non-EDID =\n");
                    return false;
                }
                ServiceLog("= COrfgView Construction: Query EDID: Try get EDID from HW =\n");
                continue;
        }
    }
}

bool COvwAdapter::WritePacket(std::uint8_t* packet, std::uint32_t length) {
    if (!link_ || packet == nullptr || length <= kOffDataType) return false;
    const std::uint8_t dataType = packet[kOffDataType];
    if (dataType == type::kShowFrame) {
        std::uint32_t number = 0;
        if (!bytes::GetU32(bytes::ConstBytes(packet, length), kOffShowFrameNumber, number))
            return false;
        if (!showFrame_.Claim(number)) return true;  // a repeat: counts as sent
    }
    return link_->Write(OutPipeFor(dataType), packet, length) == link::kLinkOk;
}

void COvwAdapter::ShowFrame(std::uint32_t frameNumber) {
    if (!link_ || !showFrame_.Claim(frameNumber)) return;
    Packet packet = BuildShowFrame(frameNumber);
    std::uint32_t length = static_cast<std::uint32_t>(packet.size());
    // Dropped on purpose: a failed write was logged by the link, which is
    // broken from then on, and a frame not shown is never acknowledged, which
    // the frame path already handles. A line per frame would flood the log.
    (void)link_->Write(kPipeOutCommands, packet.data(), length);
}

void COvwAdapter::SendThread() {
    platform::SetCurrentThreadName("orv-ad-send");
    while (!stop_) {
        if (!sendQueue_.Wait()) break;  // stopped
        MutexLock lock(modeSetLock_);
        std::optional<QueueItem*> item = sendQueue_.TryPop();
        if (!item) continue;  // drained by a mode set meanwhile
        std::uint8_t* packet = (*item)->packet;
        const std::uint32_t length = (*item)->length;
        const bytes::ConstBytes view(packet, length);
        std::uint8_t dataType = 0xFF;
        std::uint32_t frameIndex = 0;
        const bool frame = bytes::GetU8(view, kOffDataType, dataType) &&
                           IsFramePacketType(dataType) &&
                           bytes::GetU32(view, kOffFrameIndex, frameIndex);
        COvwMonitor* monitor = frame ? MonitorOnPort(static_cast<int>(frameIndex & 0xFF)) : nullptr;
        if (monitor != nullptr) {
            if (monitor->SendPacket(packet, length))
                lastSentFrameIndex_ = frameIndex;
            else
                monitor->Acknowledge(frameIndex);
        }
        // A packet without a monitor to send it is dropped.
        ReleaseItem(*item);
    }
}

void COvwAdapter::NotificationReader() {
    platform::SetCurrentThreadName("orv-ad-notify");
    std::vector<std::uint8_t> buffer(kNotificationBuffer);
    while (!stop_) {
        if (!started_) {
            std::this_thread::sleep_for(100ms);
            continue;
        }
        std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
        if (link_->Read(kPipeInNotify, buffer.data(), length) != link::kLinkOk) {
            stop_ = 1;
            break;
        }
        const std::optional<Notification> n =
            ParseNotification(bytes::ConstBytes(buffer).first(length));
        if (!n) continue;  // no magic: ignored
        if (n->IsMonitorPnp()) {
            HandleMonitorPnp(n->status);
        } else if (n->IsFrameAck()) {
            lastAckFrameIndex_ = n->frameIndex;
            MutexLock lock(monitorMutex_);
            auto it = monitorMap_.find(static_cast<int>(n->frameIndex & 0xFF));
            if (it != monitorMap_.end()) it->second->Acknowledge(n->frameIndex);
        }
        std::memset(buffer.data(), 0, length);
    }
}

void COvwAdapter::HandleMonitorPnp(std::uint8_t reported) {
    ServiceLog("- NOTIFICATION_MONITOR_PNP: Monitor status=%d -\n", reported);
    std::size_t known;
    {
        MutexLock lock(monitorMutex_);
        known = monitorMap_.size();
    }
    const std::uint8_t s = previousMask_;
    const std::uint8_t b = EffectivePlugMask(reported, s, known);
    auto in = [](std::uint8_t mask, int port) { return (mask & port) != 0; };

    for (int port : {0x10, 0x08, 0x02})
        if (in(s, port) && !in(b, port)) {
            ORVPlugOutMonitor(port);
            std::this_thread::sleep_for(5ms);
        }
    for (int port : {0x01, 0x04})
        if (in(s, port) && !in(b, port)) {
            QueuePlug(false, port);
            std::this_thread::sleep_for(5ms);
        }
    for (int port : {0x04, 0x01}) {
        if (!in(b, port)) continue;
        if (!in(s, port)) {
            QueuePlug(true, port);
        } else if (EdidChanged(port)) {
            QueuePlug(false, port);
            QueuePlug(true, port);
        }
    }
    for (int port : {0x02, 0x08, 0x10})
        if (in(b, port) && !in(s, port)) ORVPlugInMonitor(port);
    previousMask_ = b;
}

bool COvwAdapter::EdidChanged(int portBit) {
    {
        MutexLock lock(powerMutex_);
        if (powered_ == 0) return false;
    }
    std::array<std::uint8_t, 256> fresh{};
    std::uint32_t freshLength = 0;
    if (!GetEdid(portBit, fresh, freshLength)) freshLength = 256;  // unreadable: zeros
    MutexLock lock(monitorMutex_);
    auto it = monitorMap_.find(portBit);
    if (it == monitorMap_.end()) return false;
    const bytes::ConstBytes stored = it->second->Edid();
    if (stored.empty()) {
        for (std::uint32_t i = 0; i < freshLength; ++i)
            if (fresh[i] != 0) return true;
        return false;
    }
    return stored.size() != freshLength ||
           std::memcmp(stored.data(), fresh.data(), freshLength) != 0;
}

void COvwAdapter::QueuePlug(bool plugIn, int portBit) {
    {
        MutexLock lock(plugQueueMutex_);
        plugQueue_.emplace_back(plugIn, portBit);
    }
    plugEvent_.Set();
}

void COvwAdapter::PlugWorker() {
    platform::SetCurrentThreadName("orv-ad-plug");
    while (!plugWorkerStop_) {
        plugEvent_.Wait();
        while (!plugWorkerStop_) {
            std::pair<bool, int> request;
            {
                MutexLock lock(plugQueueMutex_);
                if (plugQueue_.empty()) break;
                request = plugQueue_.front();
                plugQueue_.erase(plugQueue_.begin());
            }
            if (request.first)
                ORVPlugInMonitor(request.second);
            else
                ORVPlugOutMonitor(request.second);
        }
    }
}

int COvwAdapter::ORVPlugInMonitor(int portBit) {
    ServiceLog("++ORVPlugInMonitor++\n");
    auto monitor = std::make_unique<COvwMonitor>(*this, portBit);
    std::array<std::uint8_t, 256> edid{};
    std::uint32_t length = 0;
    if (GetEdid(portBit, edid, length)) monitor->SetEdid(bytes::ConstBytes(edid).first(length));
    COvwMonitor* raw = monitor.get();
    {
        MutexLock lock(monitorMutex_);
        monitors_.push_back(std::move(monitor));
        monitorMap_[portBit] = raw;
    }
    if (services_.wall) services_.wall->AssignMonitorId(*raw);
    ServiceLog("--ORVPlugInMonitor::MonitorID=%d--\n", raw->MonitorId());
    return 1;
}

void COvwAdapter::ORVPlugOutMonitor(int portBit) {
    ServiceLog("++ORVPlugOutMonitor++\n");
    COvwMonitor* monitor = MonitorOnPort(portBit);
    if (monitor == nullptr) return;

    {
        MutexLock lock(modeSetLock_);
        const int slot = monitor->ScreenIndex();
        if (slot == 0 || slot == 1) screens_[static_cast<std::size_t>(slot)] = ScreenEntry{};
        framesBlocked_ = 1;
        Drain(true);
        WaitFrameIndex("COvwAdapter::ORVPlugOutMonitor()-Wait frame index timeout.\n");

        PowerOffOutputs();
        SendTopo(0);
        for (const ScreenEntry& s : screens_) {
            if (s.Empty()) continue;
            if (COvwMonitor* m = MonitorOnPort(s.portBit)) m->SendViewCommands();
        }
        SendOutputPower();
    }
    // Frames stay blocked; the wall model drops its pointers to the monitor
    // (taking WallLayoutLock, which is taken before ModeSetLock) before the
    // monitor is destroyed.
    if (services_.wall) services_.wall->MonitorLeaves(*monitor);
    // Second phase, under ModeSetLock again: the send thread is not inside
    // the monitor while it goes.
    MutexLock lock(modeSetLock_);
    std::unique_ptr<COvwMonitor> owned;
    {
        MutexLock mapLock(monitorMutex_);
        monitorMap_.erase(portBit);
        for (auto it = monitors_.begin(); it != monitors_.end(); ++it)
            if (it->get() == monitor) {
                owned = std::move(*it);
                monitors_.erase(it);
                break;
            }
    }
    ServiceLog("--ORVPlugOutMonitor,monitorID=%d--\n", monitor->MonitorId());
    monitor->MarkRemoved();
    owned.reset();
    framesBlocked_ = 0;
}

}  // namespace orv::adapter
