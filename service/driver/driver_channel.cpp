#include "service/driver/driver_channel.h"

#include <chrono>
#include <thread>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/thread_name.h"
#include "service/log/logger.h"

namespace orv::driver {

using log::ServiceLog;
using namespace std::chrono_literals;

// ---------------------------------------------------------------- view

COvwWallView::COvwWallView(int viewId, const ShareLayout& layout,
                           std::unique_ptr<platform::SharedMemory> memory)
    : viewId_(viewId), layout_(layout), memory_(std::move(memory)) {}

std::unique_ptr<COvwWallView> COvwWallView::Create(int viewId, const ViewGeometry& geometry) {
    const std::optional<ShareLayout> layout = LayoutFor(geometry);
    if (!layout) {
        ServiceLog("Failed to create share memory! GetLastError()=%d.\n",
                   static_cast<int>(platform::kErrorInvalidParameter));
        return nullptr;
    }
    platform::ErrorCode error = platform::kErrorSuccess;
    std::unique_ptr<platform::SharedMemory> memory;
    for (int attempt = 0; attempt < 3 && !memory; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(10ms);
        memory = platform::SharedMemory::Create(ShareBufferName(viewId), layout->size, &error);
    }
    if (!memory) {
        ServiceLog("Failed to create share memory! GetLastError()=%d.\n", static_cast<int>(error));
        return nullptr;
    }
    // An object left by an earlier run is reused: it must start zeroed too.
    std::fill(memory->Bytes().begin(), memory->Bytes().end(), std::uint8_t{0});
    return std::unique_ptr<COvwWallView>(new COvwWallView(viewId, *layout, std::move(memory)));
}

COvwWallView::~COvwWallView() {
    {
        MutexLock lock(wall::WallLayoutLock);
        LinkGrid(nullptr);
    }
    if (frames_) frames_->Stop();
}

bool COvwWallView::Open() {
    for (std::size_t i = 0; i < events_.size(); ++i) {
        platform::ErrorCode error = platform::kErrorSuccess;
        events_[i] = platform::NamedEvent::Open(kEventNames[i], &error);
        if (!events_[i]) {
            ServiceLog("CreateView: the driver's event %s does not exist (%d), view %d refused.\n",
                       std::string(kEventNames[i]).c_str(), static_cast<int>(error), viewId_);
            return false;
        }
    }
    frames_ = std::make_unique<frame::CFrameDispatch>(
        memory_->Bytes(), layout_,
        std::array<platform::NamedEvent*, 4>{events_[0].get(), events_[1].get(), events_[2].get(),
                                             events_[3].get()});
    frames_->Start();
    return true;
}

void COvwWallView::LinkGrid(wall::WallGrid* grid) {
    if (grid_ != nullptr && grid_->view == this) grid_->view = nullptr;
    grid_ = grid;
    if (grid_ != nullptr) grid_->view = this;
    if (frames_) frames_->LinkGrid(grid);
}

// ---------------------------------------------------------------- view list

COvwUSBDongle::~COvwUSBDongle() {
    while (!views_.empty()) views_.pop_back();
    answerEvent_.Set();
}

COvwWallView* COvwUSBDongle::ViewById(int viewId) const {
    for (const auto& v : views_)
        if (v->ViewId() == viewId) return v.get();
    return nullptr;
}

int COvwUSBDongle::CreateView(int viewId, int width, int height, int columns, int rows) {
    const ViewGeometry g{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                         static_cast<std::uint32_t>(columns), static_cast<std::uint32_t>(rows)};
    if (width <= 0 || height <= 0 || columns <= 0 || rows <= 0) {
        ServiceLog("Failed to create share memory! GetLastError()=%d.\n",
                   static_cast<int>(platform::kErrorInvalidParameter));
        return 0;
    }
    std::unique_ptr<COvwWallView> view = COvwWallView::Create(viewId, g);
    if (!view) return 0;

    std::uint32_t calg = 0;
    const platform::Registry registry = platform::Registry::Load();
    const bool read = registry.ReadDword({platform::kControlSetKey, platform::kControlSetKeyWow},
                                         "CALG", calg) == platform::kErrorSuccess;
    const std::int32_t calgValue = read ? static_cast<std::int32_t>(calg) : kCalgUnread;
    channel_.Send(EncodeCalgValue(calgValue));

    // A late answer to an earlier request must not satisfy this one.
    answerEvent_.Reset();
    createResult_ = 0;
    lastViewId_ = 0;
    channel_.Send(EncodeCreateView(viewId, width, height, columns, rows));
    answerEvent_.Wait(kAnswerWaitMs);
    const int result = createResult_;
    if (result == 0 || lastViewId_ != viewId) return 0;
    if (!view->Open()) {
        // The driver keeps a view the service cannot pace: ask it to drop it.
        channel_.Send(EncodeDropView(viewId));
        return 0;
    }
    views_.push_back(std::move(view));
    return result;
}

int COvwUSBDongle::PlugOut(int viewId) {
    ServiceLog("++COvwUSBDongle::PlugOut++\n");
    auto it = views_.begin();
    while (it != views_.end() && (*it)->ViewId() != viewId) ++it;
    if (it == views_.end()) return 0;
    answerEvent_.Reset();
    dropResult_ = 0;
    lastViewId_ = 0;
    frame::CFrameDispatch* frames = (*it)->Frames();
    frames->SetStopping(true);
    channel_.Send(EncodeDropView(viewId));
    answerEvent_.Wait(kAnswerWaitMs);
    const int result = dropResult_;
    if (result != 0 && lastViewId_ == viewId)
        views_.erase(it);
    else
        frames->SetStopping(false);
    ServiceLog("--COvwUSBDongle::PlugOut result=%d--\n", result);
    return result;
}

void COvwUSBDongle::OnMessage(const Message& m) {
    switch (m.type) {
        case msg::kCreateView:
            createResult_ = m.fields[0];
            if (m.fields[0] != 0) lastViewId_ = m.fields[1];
            answerEvent_.Set();
            break;
        case msg::kDropView:
            dropResult_ = m.fields[0];
            if (m.fields[0] != 0) lastViewId_ = m.fields[1];
            answerEvent_.Set();
            break;
        case msg::kViewNotice:
            if (m.fields[0] != 0) lastViewId_ = m.fields[1];
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------- channel

DriverChannelOptions ServiceDriverChannelOptions() {
    DriverChannelOptions o;
    o.port = platform::DriverPort();
    std::uint32_t all = 0;
    o.allInterfaces = platform::Registry::Load().ReadDword(
                          {platform::kControlSetKey, platform::kControlSetKeyWow}, kListenAllValue,
                          all) == platform::kErrorSuccess &&
                      all == 1;
    return o;
}

COvwCommDriver::COvwCommDriver(DriverChannelOptions options) : options_(std::move(options)) {
    std::string error;
    listener_ = net::TcpListener::Listen(options_.port, options_.allInterfaces, &error);
    if (!listener_) {
        ServiceLog("Driver channel: cannot listen on port %u: %s\n",
                   static_cast<unsigned>(options_.port), error.c_str());
        return;
    }
    worker_ = std::thread([this] { Worker(); });
}

COvwCommDriver::~COvwCommDriver() {
    Stop();
}

void COvwCommDriver::Stop() {
    stop_ = 1;
    if (listener_) listener_->Stop();
    {
        MutexLock lock(sendMutex_);
        if (connection_ != nullptr) connection_->Interrupt();
    }
    if (worker_.joinable()) worker_.join();
    DropViewList();
}

void COvwCommDriver::DropViewList() {
    std::unique_ptr<COvwUSBDongle> dongle;
    MutexLock lock(listMutex_);
    dongle.swap(dongle_);
    dongle.reset();
}

bool COvwCommDriver::Send(const Encoded& message) {
    MutexLock lock(sendMutex_);
    if (connection_ != nullptr) connection_->Send(message.Span());
    return true;
}

void COvwCommDriver::SetModeValue(int value) {
    modeValue_ = value;
    Send(EncodeModeValue(value));
}

void COvwCommDriver::Worker() {
    platform::SetCurrentThreadName("orv-driver");
    std::vector<std::uint8_t> buffer;
    while (!stop_) {
        DropViewList();
        std::unique_ptr<net::TcpConnection> connection = listener_->Accept();
        if (!connection) {
            if (!stop_) std::this_thread::sleep_for(10ms);
            continue;
        }
        if (buffer.empty()) buffer.resize(kReceiveBufferSize);
        Serve(*connection, buffer);
        MutexLock lock(sendMutex_);
        connection_ = nullptr;
    }
}

void COvwCommDriver::Serve(net::TcpConnection& connection, std::vector<std::uint8_t>& buffer) {
    {
        MutexLock lock(sendMutex_);
        if (stop_) return;
        connection_ = &connection;  // so that Stop can interrupt the receive
    }
    MessageCutter cutter(Direction::kToService);
    Message m;
    // The greeting: the first message must be a hello.
    while (cutter.Buffered() < kHelloSize) {
        const long n = connection.Receive(buffer);
        if (n <= 0) return;
        cutter.Append(bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(n)));
    }
    std::uint32_t first = 0;
    if (cutter.Next(m) != MessageCutter::Step::kMessage || m.type != msg::kHello) {
        bytes::GetU32(buffer, 0, first);
        ServiceLog("Driver channel: first message of type %u is not a greeting, closed.\n",
                   static_cast<unsigned>(first));
        return;
    }
    if (!connection.Send(EncodeHelloReply().Span())) return;
    if (modeValue_ > 0) Send(EncodeModeValue(modeValue_));
    // Only this thread makes and destroys the view list, so it may keep a
    // pointer to it without the list lock, which a waiting request holds.
    COvwUSBDongle* dongle = nullptr;
    {
        MutexLock lock(listMutex_);
        if (!dongle_) dongle_ = std::make_unique<COvwUSBDongle>(*this);
        dongle = dongle_.get();
    }
    ServiceLog("VW Controller and service manager build connect finish!\n");
    driverConnected_ = 1;

    for (;;) {
        for (MessageCutter::Step step; (step = cutter.Next(m)) != MessageCutter::Step::kNeedMore;) {
            if (step == MessageCutter::Step::kDiscarded) continue;  // unknown type: ignored
            dongle->OnMessage(m);
        }
        const long n = connection.Receive(buffer);
        if (n <= 0) break;
        cutter.Append(bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(n)));
    }
    if (stop_) return;
    ServiceLog("Disconnect with the video wall driver!\n");
    {
        MutexLock lock(sendMutex_);
        connection_ = nullptr;
    }
    // The views go first: a wall destroyed next then has no view to ask the
    // lost driver to drop (which would only wait out the answer time).
    DropViewList();
    if (options_.driverLost) options_.driverLost();
}

}  // namespace orv::driver
