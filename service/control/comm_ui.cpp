#include "service/control/comm_ui.h"

#include <algorithm>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/thread_name.h"
#include "service/log/logger.h"

namespace orv::control {

using log::ServiceLog;
using namespace std::chrono_literals;

namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

void Unplace(MonitorEntry& e) {
    e.cellIndex = kNotInWall;
    e.column = kNotInWall;
    e.row = kNotInWall;
}

}  // namespace

ControlChannelOptions ServiceControlChannelOptions() {
    ControlChannelOptions o;
    o.port = platform::ControlPort();
    std::uint32_t all = 0;
    o.allInterfaces = platform::Registry::Load().ReadDword(
                          {platform::kControlSetKey, platform::kControlSetKeyWow},
                          kControlListenAllValue, all) == platform::kErrorSuccess &&
                      all == 1;
    return o;
}

COvwCommUI::COvwCommUI(wall::COvwUI& ui, ControlChannelOptions options)
    : ui_(ui), options_(options) {}

COvwCommUI::~COvwCommUI() {
    Disconnect();
}

int COvwCommUI::Connect() {
    if (thread_.joinable()) return 1;
    std::string error;
    listener_ = net::TcpListener::Listen(options_.port, options_.allInterfaces, &error);
    if (!listener_) {
        ServiceLog("COvwCommUI::Connect(): cannot listen on port %u: %s\n",
                   static_cast<unsigned>(options_.port), error.c_str());
        return 0;
    }
    thread_ = std::thread([this] { TcpTransThread(); });
    return 1;
}

int COvwCommUI::Disconnect() {
    stop_ = 1;
    if (listener_) listener_->Stop();
    {
        // Wakes the thread's receive, and a send blocked on a panel that
        // does not read.
        MutexLock lock(connMutex_);
        if (connection_ != nullptr) connection_->Interrupt();
    }
    if (thread_.joinable()) thread_.join();
    listener_.reset();
    return 1;
}

void COvwCommUI::SetConnection(net::TcpConnection* connection) {
    MutexLock send(sendMutex_);
    MutexLock lock(connMutex_);
    connection_ = connection;
    connected_ = connection != nullptr;
}

void COvwCommUI::TcpTransThread() {
    platform::SetCurrentThreadName("orv-control");
    std::vector<std::uint8_t> buffer(kMaxMessageSize);
    ServiceLog("COvwCommUI::TcpTransThread()::Waiting for control panel connect...\n");
    bool first = true;
    while (!stop_) {
        std::unique_ptr<net::TcpConnection> connection = listener_->Accept();
        if (!connection) {
            // Stop, or a failed accept (out of descriptors): tried again.
            if (!stop_) std::this_thread::sleep_for(10ms);
            continue;
        }
        // Disconnect sets the stop flag before it looks for a connection to
        // wake, so one published after that look is withdrawn here.
        SetConnection(connection.get());
        if (stop_) {
            SetConnection(nullptr);
            break;
        }
        if (first)
            ServiceLog(
                "COvwCommUI::TcpTransThread()::Service and control panel build connection "
                "finished.\n");
        else
            ServiceLog(
                "COvwCommUI::TcpTransThread()::Service and control panel build connection "
                "finished 2.\n");
        first = false;
        if (!Serve(*connection, buffer)) ServiceLog("COvwCommUI::TcpTransThread throw exception\n");
        SetConnection(nullptr);
        connection.reset();
        if (stop_) break;
        ServiceLog(
            "COvwCommUI::TcpTransThread()::Disconnect with control panel.Start to waiting for "
            "control panel connect.\n");
    }
}

bool COvwCommUI::Serve(net::TcpConnection& connection, std::vector<std::uint8_t>& buffer) {
    MessageCutter cutter(Direction::kToService);
    std::vector<std::uint8_t> message;
    Refusal refusal;
    const int quietMs = static_cast<int>(options_.partialTimeout.count());
    for (;;) {
        if (cutter.Buffered() > 0 && !connection.WaitReadable(quietMs)) {
            // The rest of a request has not come: it was sent cut short.
            refusal = cutter.DropPartial();
            ServiceLog("COvwCommUI::TcpTransThread()::Incomplete request ignored: %s\n",
                       refusal.reason.c_str());
            continue;
        }
        const long n = connection.Receive(buffer);
        if (n < 0) return false;
        if (n == 0) return true;
        cutter.Append(bytes::ConstBytes(buffer.data(), static_cast<std::size_t>(n)));
        for (;;) {
            const MessageCutter::Step step = cutter.Next(message, refusal);
            if (step == MessageCutter::Step::kNeedMore) break;
            if (step == MessageCutter::Step::kRefused) {
                ServiceLog("COvwCommUI::TcpTransThread()::Request ignored: %s\n",
                           refusal.reason.c_str());
                continue;
            }
            ServiceLog(
                "COvwCommUI::TcpTransThread()::Receive data from control panel. Data "
                "type:0x%x.\n",
                static_cast<unsigned>(message[kOffType]));
            const Decoded<Request> decoded = DecodeRequest(message);
            if (!decoded.value) {
                ServiceLog("COvwCommUI::TcpTransThread()::Request ignored: %s\n",
                           decoded.refusal.reason.c_str());
                continue;
            }
            Handle(*decoded.value);
            if (stop_) return true;
        }
        if (stop_) return true;
        std::this_thread::sleep_for(10ms);
    }
}

void COvwCommUI::Handle(const Request& request) {
    OwnStep(request);
    WallStep(request);
}

COvwCommUI::WallEntry* COvwCommUI::WallById(std::int32_t wallId) {
    for (WallEntry& w : walls_)
        if (w.record.wallId == wallId) return &w;
    return nullptr;
}

MonitorEntry* COvwCommUI::MonitorEntryById(std::int32_t monitorId) {
    for (MonitorEntry& e : monitors_)
        if (e.monitorId == monitorId) return &e;
    return nullptr;
}

void COvwCommUI::OwnStep(const Request& request) {
    std::visit(Overloaded{
                   [&](const Hello&) { Send(HelloReply{}); },
                   [&](const ChangeMonitorId& r) { ChangeId(r); },
                   [&](const GetWalls&) {
                       MutexLock send(sendMutex_);
                       WallList list;
                       {
                           MutexLock lock(listMutex_);
                           list.selection = selection_;
                           for (const WallEntry& w : walls_) list.walls.push_back(w.record);
                       }
                       SendLocked(list);
                   },
                   [&](const GetMonitors&) {
                       MutexLock send(sendMutex_);
                       MonitorList list;
                       {
                           MutexLock lock(listMutex_);
                           list.entries = monitors_;
                       }
                       SendLocked(list);
                   },
                   [&](const GetEncodeMode&) { Send(EncodeModeReply{encodeMode_}); },
                   [&](const SelectWall& r) { SetSelection(r.selection); },
                   [&](const CreateWall& r) {
                       WallEntry w;
                       w.record = r.wall;
                       w.record.wallId = 1;  // the service keeps its wall under id 1
                       MutexLock lock(listMutex_);
                       walls_.push_back(std::move(w));
                   },
                   [&](const RemoveWallEntry& r) { SetSelection(r.selection); },
                   [&](const AddWallEntry& r) { SetSelection(r.selection); },
                   [&](const SetWallCells& r) {
                       MutexLock lock(listMutex_);
                       WallEntry* w = WallById(r.wallId);
                       if (w == nullptr) return;
                       w->cells.clear();
                       w->cellCount = static_cast<std::int32_t>(r.cells.size());
                       for (const WallCell& c : r.cells) {
                           w->cells.push_back({c.cellIndex, c.column, c.row, c.monitorId});
                           if (MonitorEntry* e = MonitorEntryById(c.monitorId)) {
                               e->cellIndex = c.cellIndex;
                               e->column = c.column;
                               e->row = c.row;
                           }
                       }
                   },
                   [&](const RemoveMonitor& r) {
                       bool found = false;
                       {
                           MutexLock lock(listMutex_);
                           WallEntry* w = WallById(r.wallId);
                           if (w == nullptr) return;
                           auto it = std::find_if(
                               w->cells.begin(), w->cells.end(),
                               [&](const MonitorEntry& c) { return c.monitorId == r.monitorId; });
                           if (it == w->cells.end()) return;
                           w->cells.erase(it);
                           if (MonitorEntry* e = MonitorEntryById(r.monitorId)) Unplace(*e);
                           found = true;
                       }
                       // Outside the list lock: releasing takes WallLayoutLock,
                       // which comes before it.
                       if (found) ui_.ReleaseMonitor(r.monitorId);
                   },
                   [&](const SwapMonitors& r) {
                       const auto swap = [&](std::int32_t& id) {
                           if (id == r.monitorA)
                               id = r.monitorB;
                           else if (id == r.monitorB)
                               id = r.monitorA;
                       };
                       MutexLock lock(listMutex_);
                       WallEntry* w = WallById(r.wallId);
                       if (w == nullptr) return;
                       for (MonitorEntry& c : w->cells) swap(c.monitorId);
                       for (MonitorEntry& e : monitors_) swap(e.monitorId);
                   },
                   [&](const PanelLeaving&) { std::this_thread::sleep_for(500ms); },
                   // Bezel, thread count, zone template: stored by nobody; the
                   // rest has only a wall-object step.
                   [&](const auto&) {},
               },
               request);
}

void COvwCommUI::WallStep(const Request& request) {
    std::visit(Overloaded{
                   [&](const CreateWall&) {
                       // The driver's loss may have emptied the list: a
                       // record of no cells, which BuildWall refuses.
                       WallRecord first;
                       {
                           MutexLock lock(listMutex_);
                           if (!walls_.empty()) first = walls_.front().record;
                       }
                       const int vwid = ui_.BuildWall(first.columns, first.rows, first.totalWidth,
                                                      first.totalHeight, first.monitorWidth,
                                                      first.monitorHeight);
                       if (vwid > 0) {
                           ui_.SetCurrentWall(vwid);
                       } else {
                           MutexLock lock(listMutex_);
                           walls_.clear();
                       }
                       Send(CreateResult{vwid > 0 ? 1 : 0});
                   },
                   [&](const DestroyWall&) {
                       ui_.DestroyWall(ui_.CurrentVwid());
                       ui_.ClearWallBuilt();
                       Send(WallDestroyed{});
                   },
                   [&](const SetWallCells&) {
                       ui_.ApplyWallLayout();
                       ui_.LaunchRefreshHelper();
                   },
                   [&](const RemoveMonitor&) {
                       ui_.ApplyWallLayout();
                       ui_.LaunchRefreshHelper();
                   },
                   [&](const SwapMonitors&) {
                       ui_.ApplyWallLayout();
                       ui_.LaunchRefreshHelper();
                   },
                   [&](const SaveConfiguration&) { ui_.SaveConfiguration(); },
                   [&](const SetEncodeMode& r) {
                       encodeMode_ = r.mode;
                       if (driver::COvwCommDriver* driver = ui_.DriverChannel())
                           driver->SetModeValue(r.mode);
                   },
                   [&](const auto&) {},
               },
               request);
}

void COvwCommUI::ChangeId(const ChangeMonitorId& request) {
    const int result = ui_.ChangeMonitorId(request.oldId, request.newId);
    MutexLock send(sendMutex_);
    {
        MutexLock lock(listMutex_);
        if (result == kIdsExchanged) {
            const auto swap = [&](std::int32_t& id) {
                if (id == request.oldId)
                    id = request.newId;
                else if (id == request.newId)
                    id = request.oldId;
            };
            for (WallEntry& w : walls_)
                for (MonitorEntry& c : w.cells) swap(c.monitorId);
            for (MonitorEntry& e : monitors_) swap(e.monitorId);
        } else if (result == kIdChanged) {
            for (WallEntry& w : walls_) {
                auto it = std::find_if(w.cells.begin(), w.cells.end(), [&](const MonitorEntry& c) {
                    return c.monitorId == request.oldId;
                });
                if (it != w.cells.end()) it->monitorId = request.newId;
            }
            if (MonitorEntry* e = MonitorEntryById(request.oldId)) e->monitorId = request.newId;
        }
    }
    SendLocked(ChangeIdReply{result, request.oldId, request.newId});
}

bool COvwCommUI::SendLocked(const ServiceMessage& message) {
    net::TcpConnection* connection = nullptr;
    {
        MutexLock lock(connMutex_);
        connection = connection_;
    }
    if (connection == nullptr) return false;
    const std::vector<std::uint8_t> bytes = EncodeServiceMessage(message);
    if (bytes.empty()) {
        ServiceLog(
            "COvwCommUI: a message of type 0x%x is too long to send, dropped.\n",
            static_cast<unsigned>(std::visit([](const auto& m) { return m.kType; }, message)));
        return false;
    }
    if (connection->Send(bytes)) return true;
    // The panel went away: nothing more is sent to it, and the server
    // thread sees the end of its receive and waits for the next panel.
    connection->Interrupt();
    MutexLock lock(connMutex_);
    connection_ = nullptr;
    connected_ = false;
    return false;
}

bool COvwCommUI::Send(const ServiceMessage& message) {
    MutexLock send(sendMutex_);
    return SendLocked(message);
}

// ---------------------------------------------------------------- IWallRecords

std::vector<std::vector<wall::CellPlacement>> COvwCommUI::Walls() const {
    MutexLock lock(listMutex_);
    std::vector<std::vector<wall::CellPlacement>> out;
    for (const WallEntry& w : walls_) {
        std::vector<wall::CellPlacement>& cells = out.emplace_back();
        for (const MonitorEntry& c : w.cells)
            cells.push_back({c.monitorId, c.column, c.row, c.cellIndex});
    }
    return out;
}

std::vector<int> COvwCommUI::RemoveWall(int wallId) {
    MutexLock lock(listMutex_);
    std::vector<int> ids;
    auto it = std::find_if(walls_.begin(), walls_.end(),
                           [&](const WallEntry& w) { return w.record.wallId == wallId; });
    if (it != walls_.end()) {
        for (const MonitorEntry& c : it->cells) ids.push_back(c.monitorId);
        walls_.erase(it);
    }
    for (MonitorEntry& e : monitors_) Unplace(e);
    return ids;
}

std::vector<wall::WallDescription> COvwCommUI::Descriptions() const {
    MutexLock lock(listMutex_);
    std::vector<wall::WallDescription> out;
    for (const WallEntry& w : walls_) {
        wall::WallDescription& d = out.emplace_back();
        d.wallId = w.record.wallId;
        d.totalWidth = w.record.totalWidth;
        d.totalHeight = w.record.totalHeight;
        d.monitorWidth = w.record.monitorWidth;
        d.monitorHeight = w.record.monitorHeight;
        d.columns = w.record.columns;
        d.rows = w.record.rows;
        d.zoneTemplate = w.record.zoneTemplate;
        d.pixelMode = w.record.pixelMode;
        for (const MonitorEntry& c : w.cells)
            d.cells.push_back({c.monitorId, c.column, c.row, c.cellIndex});
    }
    return out;
}

void COvwCommUI::AddRestoredWall(const wall::WallDescription& d) {
    WallEntry w;
    w.record.wallId = d.wallId;
    w.record.pixelMode = d.pixelMode;
    w.record.columns = d.columns;
    w.record.rows = d.rows;
    w.record.totalWidth = d.totalWidth;
    w.record.totalHeight = d.totalHeight;
    w.record.monitorWidth = d.monitorWidth;
    w.record.monitorHeight = d.monitorHeight;
    w.record.zoneTemplate = d.zoneTemplate;
    w.cellCount = static_cast<std::int32_t>(d.cells.size());
    MutexLock lock(listMutex_);
    for (const wall::CellPlacement& c : d.cells) {
        w.cells.push_back({c.cellIndex, c.column, c.row, c.monitorId});
        if (MonitorEntry* e = MonitorEntryById(c.monitorId)) {
            e->cellIndex = c.cellIndex;
            e->column = c.column;
            e->row = c.row;
        }
    }
    walls_.push_back(std::move(w));
}

void COvwCommUI::SetSelection(int selection) {
    MutexLock lock(listMutex_);
    selection_ = selection;
}

// ---------------------------------------------------------------- IPanelNotices

void COvwCommUI::MonitorChanged(bool arrived, int monitorId, bool tell) {
    MutexLock send(sendMutex_);
    {
        MutexLock lock(listMutex_);
        std::erase_if(monitors_, [&](const MonitorEntry& e) { return e.monitorId == monitorId; });
        if (arrived) {
            MonitorEntry e;
            e.monitorId = monitorId;
            monitors_.push_back(e);
        } else {
            for (WallEntry& w : walls_) {
                auto it = std::find_if(w.cells.begin(), w.cells.end(), [&](const MonitorEntry& c) {
                    return c.monitorId == monitorId;
                });
                if (it != w.cells.end()) w.cells.erase(it);
            }
        }
    }
    if (tell)
        SendLocked(control::MonitorChange{arrived ? kMonitorArrived : kMonitorLeft, monitorId});
}

void COvwCommUI::MonitorsRemoved(const std::vector<int>& monitorIds) {
    Send(AdapterRemoved{std::vector<std::int32_t>(monitorIds.begin(), monitorIds.end())});
}

bool COvwCommUI::DriverLost() {
    return Send(control::DriverLost{});
}

}  // namespace orv::control
