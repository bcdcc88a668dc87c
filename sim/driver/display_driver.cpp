#include "sim/driver/display_driver.h"

#include "platform/net/tcp.h"
#include "platform/paths.h"
#include "platform/thread_name.h"
#include "sim/driver/driver_log.h"

namespace orv::driver {
namespace {

constexpr std::uint32_t kRetryMs = 500;
constexpr int kPollMs = 50;

}  // namespace

DisplayDriver::DisplayDriver(DriverOptions options) : options_(std::move(options)) {}

DisplayDriver::~DisplayDriver() {
    Stop();
}

bool DisplayDriver::Start(std::string* error) {
    for (std::size_t i = 0; i < events_.size(); ++i) {
        platform::ErrorCode code = 0;
        events_[i] = platform::NamedEvent::Create(kEventNames[i], false, false, &code);
        if (!events_[i]) {
            if (error)
                *error = "cannot create the event " + std::string(kEventNames[i]) + " (error " +
                         std::to_string(code) + ")";
            return false;
        }
    }
    stop_ = false;
    stopped_.Reset();
    thread_ = std::thread([this] { ConnectionThread(); });
    return true;
}

void DisplayDriver::Stop() {
    stop_ = true;
    stopped_.Set();
    if (thread_.joinable()) thread_.join();
}

DriverCounts DisplayDriver::Counts() const {
    MutexLock lock(countsMutex_);
    return counts_;
}

void DisplayDriver::ConnectionThread() {
    platform::SetCurrentThreadName("drv-conn");
    const std::uint16_t port = options_.port ? options_.port : platform::DriverPort();
    bool reported = false;  // the first failed attempt is logged, not every retry
    while (!stop_) {
        std::string error;
        std::unique_ptr<net::TcpConnection> connection =
            net::TcpConnection::Connect(options_.host, port, &error);
        if (!connection) {
            if (!reported)
                DriverLog("cannot reach the service at %s:%u (%s); retrying", options_.host.c_str(),
                          port, error.c_str());
            reported = true;
            stopped_.Wait(kRetryMs);
            continue;
        }
        reported = false;
        DriverLog("connected to %s", connection->Peer().c_str());
        Serve(*connection);
        DropView();
        if (!stop_) DriverLog("connection to the service lost");
    }
}

void DisplayDriver::Serve(net::TcpConnection& connection) {
    if (!connection.Send(EncodeHello().Span())) return;
    MessageCutter cutter(Direction::kToDriver);
    std::uint8_t buffer[1024];
    while (!stop_) {
        if (!connection.WaitReadable(kPollMs)) continue;
        const long n = connection.Receive(buffer);
        if (n <= 0) return;
        cutter.Append({buffer, static_cast<std::size_t>(n)});
        Message m;
        for (;;) {
            const MessageCutter::Step step = cutter.Next(m);
            if (step == MessageCutter::Step::kNeedMore) break;
            if (step == MessageCutter::Step::kDiscarded) {
                DriverLog("a message of unknown type from the service, its receive dropped");
                continue;
            }
            if (!Handle(m, connection)) return;
        }
    }
}

bool DisplayDriver::Handle(const Message& m, net::TcpConnection& connection) {
    switch (m.type) {
        case msg::kHelloReply: {
            MutexLock lock(countsMutex_);
            ++counts_.connections;
            return true;
        }
        case msg::kModeValue: {
            MutexLock lock(countsMutex_);
            counts_.mode = m.fields[0];
            return true;
        }
        case msg::kCalgValue: {
            MutexLock lock(countsMutex_);
            counts_.calg = m.fields[0];
            return true;
        }
        case msg::kCreateView: {
            const bool created = CreateView(m);
            return connection.Send(EncodeCreateAnswer(created ? 1 : 0, m.fields[0]).Span());
        }
        case msg::kDropView: {
            const bool ours = view_ && view_->Id() == m.fields[0];
            if (ours) DropView();
            if (!ours) DriverLog("drop of view %d, which is not served", m.fields[0]);
            return connection.Send(EncodeDropAnswer(ours ? 1 : 0, m.fields[0]).Span());
        }
        default:
            return true;
    }
}

bool DisplayDriver::CreateView(const Message& m) {
    const std::int32_t id = m.fields[0];
    auto refuse = [&](const std::string& why) {
        DriverLog("view %d refused: %s", id, why.c_str());
        MutexLock lock(countsMutex_);
        ++counts_.viewsRefused;
        return false;
    };
    if (view_) return refuse("view " + std::to_string(view_->Id()) + " is being served");
    for (std::size_t i = 1; i < 5; ++i)
        if (m.fields[i] <= 0) return refuse("a size or cell count is not positive");
    const ViewGeometry geometry{
        static_cast<std::uint32_t>(m.fields[1]), static_cast<std::uint32_t>(m.fields[2]),
        static_cast<std::uint32_t>(m.fields[3]), static_cast<std::uint32_t>(m.fields[4])};
    const EventSet events{events_[0].get(), events_[1].get(), events_[2].get(), events_[3].get()};
    std::string error;
    view_ = ViewProducer::Create(id, geometry, Counts().calg, options_, events, stats_, &error);
    if (!view_) return refuse(error);
    view_->Start();
    MutexLock lock(countsMutex_);
    ++counts_.viewsCreated;
    return true;
}

void DisplayDriver::DropView() {
    if (!view_) return;
    view_->Stop();
    DriverLog("view %d dropped", view_->Id());
    view_.reset();
    MutexLock lock(countsMutex_);
    ++counts_.viewsDropped;
}

}  // namespace orv::driver
