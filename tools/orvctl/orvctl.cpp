#include "tools/orvctl/orvctl.h"

#include <algorithm>
#include <ostream>

#include "tools/orvctl/format.h"
#include "tools/orvctl/options.h"
#include "tools/orvctl/requests.h"
#include "tools/orvctl/session.h"

namespace orv::orvctl {
namespace {

using namespace orv::control;
using nlohmann::json;

// How often watch looks at its stop flag.
constexpr int kWatchPollMs = 200;

// One command's conversation after the greeting: results to `out`, the
// first error to `err`, and the exit status.
class Conversation {
public:
    Conversation(Session& session, const Options& options, std::ostream& out, std::ostream& err,
                 const std::atomic<bool>* stop)
        : s_(session), o_(options), out_(out), err_(err), stop_(stop) {}

    int operator()(const WallsCommand&) { return Query(GetWalls{}, type::kGetWalls); }
    int operator()(const MonitorsCommand&) { return Query(GetMonitors{}, type::kGetMonitors); }

    int operator()(const ModeCommand& c) {
        if (!c.set) return Query(GetEncodeMode{}, type::kGetEncodeMode);
        if (!s_.Send(SetEncodeMode{*c.set}, error_)) return Failed();
        const auto answer = s_.Ask(GetEncodeMode{}, type::kGetEncodeMode, error_);
        if (!answer) return Failed();
        Print(*answer);
        const std::int32_t now = std::get<EncodeModeReply>(*answer).mode;
        if (now != *c.set) return Refused("the service kept encode mode " + EncodeModeName(now));
        return kExitOk;
    }

    int operator()(const CreateCommand& c) {
        const auto walls = Walls();
        if (!walls) return Failed();
        const Planned plan = CreatePlan(*walls, c);
        if (!plan.refusal.empty()) return Refused(plan.refusal);
        if (!SendAll(plan)) return Failed();
        const auto answer = s_.Await(type::kCreateResult, error_);
        if (!answer) return Failed();
        const WallRecord& wall = std::get<CreateWall>(plan.requests.back()).wall;
        const bool built = std::get<CreateResult>(*answer).ok != 0;
        if (o_.json) {
            json j = ToJson(*answer);
            j["wall"] = WallToJson(wall);
            out_ << j.dump() << "\n";
        } else if (built) {
            out_ << "built " << DescribeWall(wall);
        }
        return built ? kExitOk : Refused("the service could not build the wall");
    }

    int operator()(const PlaceCommand& c) {
        return Edit(
            [&](const WallList& w, const MonitorList& m) { return PlacePlan(w, m, c); },
            [&](const Planned& plan) {
                const auto& cells = std::get<SetWallCells>(plan.requests.back()).cells;
                const auto cell = std::find_if(cells.begin(), cells.end(), [&](const WallCell& x) {
                    return x.monitorId == c.monitorId;
                });
                json j{{"type", "placed"},   {"monitor", c.monitorId}, {"cell", cell->cellIndex},
                       {"column", c.column}, {"row", c.row},           {"displaced", nullptr}};
                std::string text;
                if (plan.requests.size() > 1) {
                    const std::int32_t old =
                        std::get<RemoveMonitor>(plan.requests.front()).monitorId;
                    j["displaced"] = old;
                    text = "monitor " + std::to_string(old) + " taken out of the cell\n";
                }
                text += "monitor " + std::to_string(c.monitorId) + " placed at column " +
                        std::to_string(c.column) + ", row " + std::to_string(c.row) + " (cell " +
                        std::to_string(cell->cellIndex) + ")\n";
                return std::pair{text, j};
            });
    }

    int operator()(const RemoveCommand& c) {
        return Edit([&](const WallList& w, const MonitorList& m) { return RemovePlan(w, m, c); },
                    [&](const Planned&) {
                        return std::pair{
                            "monitor " + std::to_string(c.monitorId) + " taken out of the wall\n",
                            json{{"type", "removed"}, {"monitor", c.monitorId}}};
                    });
    }

    int operator()(const SwapCommand& c) {
        return Edit([&](const WallList& w, const MonitorList& m) { return SwapPlan(w, m, c); },
                    [&](const Planned&) {
                        return std::pair{
                            "monitors " + std::to_string(c.monitorA) + " and " +
                                std::to_string(c.monitorB) + " swapped\n",
                            json{{"type", "swapped"}, {"monitors", {c.monitorA, c.monitorB}}}};
                    });
    }

    int operator()(const SetIdCommand& c) {
        const auto answer =
            s_.Ask(ChangeMonitorId{c.oldId, c.newId}, type::kChangeMonitorId, error_);
        if (!answer) return Failed();
        const auto& reply = std::get<ChangeIdReply>(*answer);
        if (reply.oldId != c.oldId || reply.newId != c.newId) {
            error_ = {Failure::kMalformed, "the answer names ids " + std::to_string(reply.oldId) +
                                               " -> " + std::to_string(reply.newId) + ", not " +
                                               std::to_string(c.oldId) + " -> " +
                                               std::to_string(c.newId)};
            return Failed();
        }
        Print(*answer);
        if (reply.result == kIdChanged || reply.result == kIdsExchanged) return kExitOk;
        return Refused(reply.result == kIdRefusedPlaced
                           ? "refused: monitor " + std::to_string(c.newId) +
                                 " is placed in the wall"
                           : "the service answered result " + std::to_string(reply.result));
    }

    int operator()(const DestroyCommand&) {
        const auto walls = Walls();
        if (!walls) return Failed();
        if (!SendAll(DestroyPlan(*walls))) return Failed();
        const auto answer = s_.Await(type::kWallDestroyed, error_);
        if (!answer) return Failed();
        Print(*answer);
        return kExitOk;
    }

    int operator()(const SaveCommand&) {
        if (!s_.Send(SaveConfiguration{}, error_) || !Barrier()) return Failed();
        Print("configuration save requested\n", json{{"type", "save-requested"}});
        return kExitOk;
    }

    int operator()(const SelectCommand& c) {
        const auto walls = Walls();
        if (!walls) return Failed();
        const Planned plan = SelectPlan(*walls, c);
        if (!plan.refusal.empty()) return Refused(plan.refusal);
        if (!SendAll(plan) || !Barrier()) return Failed();
        Print("wall " + std::to_string(c.selection) + " selected\n",
              json{{"type", "selected"}, {"selection", c.selection}});
        return kExitOk;
    }

    int operator()(const WatchCommand& c) {
        std::int32_t seen = 0;
        while (!(stop_ && stop_->load()) && !(c.count && seen >= *c.count)) {
            ServiceMessage message;
            switch (s_.Next(kWatchPollMs, message, error_)) {
                case Session::Got::kFailed:
                    return Failed();
                case Session::Got::kQuiet:
                    break;
                case Session::Got::kMessage:
                    Print(message);
                    out_.flush();
                    ++seen;
                    break;
            }
        }
        return kExitOk;
    }

private:
    int Query(const Request& request, std::uint8_t answerType) {
        const auto answer = s_.Ask(request, answerType, error_);
        if (!answer) return Failed();
        Print(*answer);
        return kExitOk;
    }

    std::optional<WallList> Walls() {
        auto answer = s_.Ask(GetWalls{}, type::kGetWalls, error_);
        if (!answer) return std::nullopt;
        return std::get<WallList>(std::move(*answer));
    }

    std::optional<MonitorList> Monitors() {
        auto answer = s_.Ask(GetMonitors{}, type::kGetMonitors, error_);
        if (!answer) return std::nullopt;
        return std::get<MonitorList>(std::move(*answer));
    }

    bool SendAll(const Planned& plan) {
        for (const Request& r : plan.requests)
            if (!s_.Send(r, error_)) return false;
        return true;
    }

    // The service answers in order: once the encode mode comes back, every
    // request sent before it has been read.
    bool Barrier() { return s_.Ask(GetEncodeMode{}, type::kGetEncodeMode, error_).has_value(); }

    // A wall edit: the service's lists, the plan, its requests, a barrier,
    // then the confirmation made by `confirm` (text and JSON).
    template <typename MakePlan, typename Confirm>
    int Edit(MakePlan makePlan, Confirm confirm) {
        const auto walls = Walls();
        if (!walls) return Failed();
        const auto monitors = Monitors();
        if (!monitors) return Failed();
        const Planned plan = makePlan(*walls, *monitors);
        if (!plan.refusal.empty()) return Refused(plan.refusal);
        if (!SendAll(plan) || !Barrier()) return Failed();
        const auto [text, j] = confirm(plan);
        Print(text, j);
        return kExitOk;
    }

    void Print(const ServiceMessage& message) { Print(Describe(message), ToJson(message)); }
    void Print(const std::string& text, const json& j) {
        if (o_.json)
            out_ << j.dump() << "\n";
        else
            out_ << text;
    }

    int Refused(const std::string& why) {
        err_ << "orvctl: " << why << "\n";
        return kExitRefused;
    }
    int Failed() {
        err_ << "orvctl: " << error_.message << "\n";
        return kExitService;
    }

    Session& s_;
    const Options& o_;
    std::ostream& out_;
    std::ostream& err_;
    const std::atomic<bool>* stop_;
    SessionError error_;
};

}  // namespace

int Run(std::span<const char* const> args, std::uint16_t defaultPort, std::ostream& out,
        std::ostream& err, const std::atomic<bool>* stop) {
    const ParseResult parsed = ParseArgs(args, defaultPort);
    if (parsed.help) {
        out << Usage(defaultPort);
        return kExitOk;
    }
    if (!parsed.options) {
        err << "orvctl: " << parsed.error << "\n";
        return kExitUsage;
    }
    const Options& o = *parsed.options;
    SessionError error;
    const auto session = Session::Open(o.host, o.port, o.timeoutMs, error);
    if (!session) {
        err << "orvctl: " << error.message;
        if (error.failure == Failure::kUnreachable) err << " (is the service running?)";
        err << "\n";
        return kExitService;
    }
    Conversation conversation(*session, o, out, err, stop);
    const int status = std::visit(conversation, o.command);
    if (status != kExitService) session->Leave();
    return status;
}

}  // namespace orv::orvctl
