// orvctl run in-process against a fake service: a loopback listener in the
// test that cuts the requests, records them and answers through a script
// built on the protocol's encoders.
#include "tools/orvctl/orvctl.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include "platform/net/tcp.h"
#include "protocol/control/control_protocol.h"
#include "tests/support/child_process.h"
#include "tests/support/eventually.h"

namespace orv::orvctl {
namespace {

using namespace orv::control;
using Bytes = std::vector<std::uint8_t>;

class FakeService {
public:
    // What to do with one request: the byte chunks to send, one send each,
    // and whether to close the connection afterwards.
    struct Reply {
        std::vector<Bytes> sends;
        bool close = false;
    };
    using Script = std::function<Reply(const Bytes& request)>;

    explicit FakeService(Script script) : listener_(net::TcpListener::Listen(0, false)) {
        thread_ = std::thread([this, script = std::move(script)] { Serve(script); });
    }
    ~FakeService() { Finish(); }

    std::uint16_t Port() const { return listener_->Port(); }

    // The requests received, once the client has gone (or the script closed).
    const std::vector<Bytes>& Finish() {
        if (thread_.joinable()) {
            stopAfterClient_ = true;
            listener_->Stop();
            thread_.join();
        }
        return requests_;
    }

    std::vector<std::uint8_t> Types() {
        std::vector<std::uint8_t> types;
        for (const Bytes& r : Finish()) types.push_back(r.at(0));
        return types;
    }

private:
    void Serve(const Script& script) {
        const auto connection = listener_->Accept();
        if (!connection) return;
        MessageCutter cutter(Direction::kToService);
        Bytes buffer(4096);
        // Bounded, so that a client that never closes cannot hang the test.
        for (int quiet = 0; quiet < 200;) {
            if (!connection->WaitReadable(50)) {
                quiet += stopAfterClient_ ? 1 : 0;
                continue;
            }
            const long n = connection->Receive(buffer);
            if (n <= 0) return;
            cutter.Append(bytes::ConstBytes(buffer).first(static_cast<std::size_t>(n)));
            Bytes request;
            Refusal refusal;
            while (cutter.Next(request, refusal) == MessageCutter::Step::kMessage) {
                requests_.push_back(request);
                const Reply reply = script(request);
                for (const Bytes& chunk : reply.sends) {
                    if (!connection->Send(chunk)) return;
                    if (reply.sends.size() > 1)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                if (reply.close) return;
            }
        }
    }

    std::unique_ptr<net::TcpListener> listener_;
    std::atomic<bool> stopAfterClient_{false};
    std::vector<Bytes> requests_;  // written by the server thread until joined
    std::thread thread_;
};

Bytes Encode(const ServiceMessage& m) {
    return EncodeServiceMessage(m);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The service as far as orvctl sees it: answers from a state, changes
// nothing but the encode mode.
struct State {
    WallList walls;
    MonitorList monitors;
    std::int32_t mode = kEncodeGpu;
    bool keepsMode = false;
    std::int32_t createOk = 1;
    std::int32_t idResult = kIdChanged;

    FakeService::Reply operator()(const Bytes& request) {
        const auto decoded = DecodeRequest(request);
        if (!decoded.value) return {};
        return std::visit(
            [this](const auto& r) -> FakeService::Reply {
                using R = std::decay_t<decltype(r)>;
                if constexpr (std::is_same_v<R, Hello>) return {{Encode(HelloReply{})}};
                if constexpr (std::is_same_v<R, GetWalls>) return {{Encode(walls)}};
                if constexpr (std::is_same_v<R, GetMonitors>) return {{Encode(monitors)}};
                if constexpr (std::is_same_v<R, GetEncodeMode>)
                    return {{Encode(EncodeModeReply{mode})}};
                if constexpr (std::is_same_v<R, SetEncodeMode>)
                    if (!keepsMode) mode = r.mode;
                if constexpr (std::is_same_v<R, CreateWall>)
                    return {{Encode(CreateResult{createOk})}};
                if constexpr (std::is_same_v<R, DestroyWall>) return {{Encode(WallDestroyed{})}};
                if constexpr (std::is_same_v<R, ChangeMonitorId>)
                    return {{Encode(ChangeIdReply{idResult, r.oldId, r.newId})}};
                return {};
            },
            *decoded.value);
    }
};

// Wall 1 of 2 x 2; monitor 1 at column 0 row 0, 2 free, 3 at column 1 row 1.
State WithWall() {
    State s;
    s.walls = {1, {PanelWallRecord(1, kPixelMode4K, 2, 2, 0, {})}};
    s.monitors = {{{1, 0, 0, 1}, {kNotInWall, kNotInWall, kNotInWall, 2}, {4, 1, 1, 3}}};
    return s;
}

struct Result {
    int status = -1;
    std::string out, err;
};

Result RunOrvctl(std::uint16_t port, std::vector<std::string> args, int timeoutMs = 2000,
                 const std::atomic<bool>* stop = nullptr) {
    args.insert(args.end(),
                {"--port", std::to_string(port), "--timeout", std::to_string(timeoutMs)});
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    Result r;
    r.status = Run(argv, 1030, out, err, stop);
    r.out = out.str();
    r.err = err.str();
    return r;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Orvctl, EachCommandSendsThePanelsRequestsAndPrintsTheResult) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::uint8_t> types;  // every request, greeting to goodbye
        std::string out;
    };
    const std::vector<Case> cases = {
        {{"walls"}, {0x01, 0x40, 0x5C}, "wall 1: 2 x 2 monitors of 1920 x 1080"},
        {{"monitors"}, {0x01, 0x41, 0x5C}, "monitor 2: free\n"},
        {{"mode"}, {0x01, 0x42, 0x5C}, "encode mode: GPU\n"},
        {{"mode", "cpu"}, {0x01, 0x60, 0x42, 0x5C}, "encode mode: CPU\n"},
        {{"place", "2", "1", "0"}, {0x01, 0x40, 0x41, 0x59, 0x42, 0x5C}, "(cell 3)"},
        {{"place", "2", "0", "0"},
         {0x01, 0x40, 0x41, 0x5A, 0x59, 0x42, 0x5C},
         "monitor 1 taken out"},
        {{"remove", "3"}, {0x01, 0x40, 0x41, 0x5A, 0x42, 0x5C}, "monitor 3 taken out of the wall"},
        {{"swap", "1", "3"}, {0x01, 0x40, 0x41, 0x5B, 0x42, 0x5C}, "monitors 1 and 3 swapped"},
        {{"set-id", "2", "7"}, {0x01, 0x14, 0x5C}, "monitor 2 is now monitor 7"},
        {{"destroy"}, {0x01, 0x40, 0x56, 0x51, 0x5C}, "wall destroyed\n"},
        {{"save"}, {0x01, 0x5F, 0x42, 0x5C}, "configuration save requested"},
        {{"select", "1"}, {0x01, 0x40, 0x43, 0x42, 0x5C}, "wall 1 selected"},
    };
    for (const Case& c : cases) {
        FakeService service(WithWall());
        const Result r = RunOrvctl(service.Port(), c.args);
        EXPECT_EQ(r.status, kExitOk) << c.args[0] << ": " << r.err;
        EXPECT_TRUE(Has(r.out, c.out)) << c.args[0] << " printed " << r.out;
        EXPECT_EQ(service.Types(), c.types) << c.args[0];
    }

    FakeService service(WithWall());
    EXPECT_EQ(RunOrvctl(service.Port(), {"set-id", "2", "1024"}).status, kExitOk);
    EXPECT_EQ(service.Finish().at(1), (Bytes{0x14, 2, 0, 0, 0, 0, 4, 0, 0}));
}

TEST(Orvctl, CreateBuildsTheWallAndReportsIt) {
    {
        FakeService service(State{});
        const Result r = RunOrvctl(service.Port(), {"create", "2x2", "--zones", "2", "--json"});
        EXPECT_EQ(r.status, kExitOk) << r.err;
        const auto j = nlohmann::json::parse(r.out);
        EXPECT_EQ(j["built"], true);
        EXPECT_EQ(j["wall"]["monitorWidth"], 1920);
        EXPECT_EQ(j["wall"]["zones"].size(), 4u);
        EXPECT_EQ(service.Types(), (std::vector<std::uint8_t>{0x01, 0x40, 0x55, 0x50, 0x5C}));
    }
    {
        State s;
        s.createOk = 0;
        FakeService service(s);
        const Result r = RunOrvctl(service.Port(), {"create", "1x1", "--pixels", "1080P"});
        EXPECT_EQ(r.status, kExitRefused);
        EXPECT_TRUE(Has(r.err, "could not build the wall")) << r.err;
    }
}

TEST(Orvctl, RefusalsExitOneAndSendNothingImpossible) {
    {
        State s = WithWall();
        s.idResult = kIdRefusedPlaced;
        FakeService service(s);
        const Result r = RunOrvctl(service.Port(), {"set-id", "2", "1"});
        EXPECT_EQ(r.status, kExitRefused);
        EXPECT_TRUE(Has(r.err, "refused: monitor 1 is placed")) << r.err;
    }
    {
        FakeService service(State{});
        const Result r = RunOrvctl(service.Port(), {"place", "1", "0", "0"});
        EXPECT_EQ(r.status, kExitRefused);
        EXPECT_TRUE(Has(r.err, "no wall")) << r.err;
        EXPECT_EQ(service.Types(), (std::vector<std::uint8_t>{0x01, 0x40, 0x41, 0x5C}));
    }
    {
        FakeService service(WithWall());
        EXPECT_EQ(RunOrvctl(service.Port(), {"create", "2x2"}).status, kExitRefused);
        EXPECT_EQ(service.Types(), (std::vector<std::uint8_t>{0x01, 0x40, 0x5C}));
    }
    {
        State s;
        s.keepsMode = true;
        FakeService service(s);
        const Result r = RunOrvctl(service.Port(), {"mode", "2"});
        EXPECT_EQ(r.status, kExitRefused);
        EXPECT_TRUE(Has(r.err, "kept encode mode GPU")) << r.err;
    }
}

TEST(Orvctl, NoticesAmongAnswersAndMessagesSplitOrMergedByTcp) {
    State state = WithWall();
    FakeService service([&state](const Bytes& request) -> FakeService::Reply {
        const Bytes notice = Encode(MonitorChange{kMonitorArrived, 9});
        if (request[0] == type::kHello) return {{Cat({notice, Encode(HelloReply{})})}};
        if (request[0] != type::kGetMonitors) return state(request);
        // A notice, then the answer in three pieces with a notice merged
        // into the last.
        const Bytes answer = Encode(state.monitors);
        return {{Encode(AdapterRemoved{{4, 5}}), Bytes(answer.begin(), answer.begin() + 3),
                 Bytes(answer.begin() + 3, answer.end() - 2),
                 Cat({Bytes(answer.end() - 2, answer.end()), notice})}};
    });
    const Result r = RunOrvctl(service.Port(), {"monitors"});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.out,
              "monitor 1: cell 1, column 0, row 0\nmonitor 2: free\nmonitor 3: cell 4, column 1, "
              "row 1\n");
}

TEST(Orvctl, WatchPrintsWhatComesUntilStopped) {
    auto notices = [](const Bytes& request) -> FakeService::Reply {
        if (request[0] != type::kHello) return {};
        return {{Encode(HelloReply{}), Encode(MonitorChange{kMonitorLeft, 2}),
                 Encode(AdapterRemoved{{1, 2}}), Encode(DriverLost{})}};
    };
    {
        FakeService service(notices);
        const Result r = RunOrvctl(service.Port(), {"watch", "--json", "--count", "3"});
        EXPECT_EQ(r.status, kExitOk) << r.err;
        EXPECT_EQ(r.out,
                  "{\"monitor\":2,\"type\":\"monitor-left\"}\n"
                  "{\"monitors\":[1,2],\"type\":\"adapter-removed\"}\n"
                  "{\"type\":\"driver-lost\"}\n");
        EXPECT_EQ(service.Types(), (std::vector<std::uint8_t>{0x01, 0x5C}));
    }
    {
        // The service going away ends the watch with an error.
        FakeService service([&](const Bytes& request) {
            auto reply = notices(request);
            reply.close = true;
            return reply;
        });
        const Result r = RunOrvctl(service.Port(), {"watch"});
        EXPECT_EQ(r.status, kExitService);
        EXPECT_EQ(r.out,
                  "monitor 2 left\nadapter removed with monitors 1, 2\n"
                  "the display driver's connection was lost\n");
        EXPECT_TRUE(Has(r.err, "the service closed the connection")) << r.err;
    }
    {
        FakeService service(State{});
        std::atomic<bool> stop{false};
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            stop = true;
        });
        const Result r = RunOrvctl(service.Port(), {"watch"}, 2000, &stop);
        stopper.join();
        EXPECT_EQ(r.status, kExitOk) << r.err;
        EXPECT_EQ(service.Types(), (std::vector<std::uint8_t>{0x01, 0x5C}));
    }
}

TEST(Orvctl, TheProgramTakesItsPortFromTheEnvironmentAndLeavesOnSigterm) {
    std::atomic<bool> greeted{false};
    FakeService service([&greeted](const Bytes& request) {
        if (request[0] == type::kHello) greeted = true;
        return State{}(request);
    });
    orv::testing::ChildProcess orvctl({ORVCTL, "watch"},
                                      {{"ORV_CONTROL_PORT", std::to_string(service.Port())}});
    ASSERT_TRUE(orvctl.Started());
    ASSERT_TRUE(orv::test::Eventually([&] { return greeted.load(); }));
    orvctl.Signal(SIGTERM);
    EXPECT_EQ(orvctl.Wait(std::chrono::seconds(5)), 0);
    EXPECT_EQ(service.Types(), (std::vector<std::uint8_t>{0x01, 0x5C}));
}

TEST(Orvctl, AbsentServiceIsAClearError) {
    std::uint16_t port = 0;
    {
        auto listener = net::TcpListener::Listen(0, false);
        ASSERT_TRUE(listener);
        port = listener->Port();
    }
    const Result r = RunOrvctl(port, {"walls"});
    EXPECT_EQ(r.status, kExitService);
    EXPECT_TRUE(Has(r.err, "cannot connect to the service at 127.0.0.1:" + std::to_string(port)))
        << r.err;
    EXPECT_TRUE(Has(r.err, "is the service running?")) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(Orvctl, TruncatedSilentOrMalformedAnswersAreErrors) {
    const Bytes walls = Encode(WallList{});
    const Bytes head(walls.begin(), walls.begin() + 5);
    struct Case {
        std::string name;
        std::function<FakeService::Reply(const Bytes&)> wallsAnswer;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"cut short, then closed",
         [&](const Bytes&) {
             return FakeService::Reply{{head}, true};
         },
         "closed the connection in the middle of a message: 0x40 cut short at 5 bytes"},
        {"cut short, then silent", [&](const Bytes&) { return FakeService::Reply{{head}}; },
         "no answer 0x40 within 300 ms (0x40 cut short at 5 bytes"},
        {"silent", [](const Bytes&) { return FakeService::Reply{}; },
         "no answer 0x40 within 300 ms"},
        {"closed",
         [](const Bytes&) {
             return FakeService::Reply{{}, true};
         },
         "the service closed the connection"},
        {"wrong list end",
         [](const Bytes&) {
             return FakeService::Reply{{{0x40, 0, 0, 0, 0, 2, 0, 0, 0}}};
         },
         "malformed message from the service: 0x40 ends with 2"},
        {"unknown type",
         [](const Bytes&) {
             return FakeService::Reply{{{0x99, 1, 2, 3}}};
         },
         "malformed message from the service: "},
        {"negative count",
         [](const Bytes&) {
             return FakeService::Reply{{{0x40, 0xff, 0xff, 0xff, 0xff}}};
         },
         "malformed message from the service: "},
    };
    for (const Case& c : cases) {
        FakeService service([&](const Bytes& request) {
            if (request[0] == type::kGetWalls) return c.wallsAnswer(request);
            return State{}(request);
        });
        const Result r = RunOrvctl(service.Port(), {"walls"}, 300);
        EXPECT_EQ(r.status, kExitService) << c.name;
        EXPECT_TRUE(Has(r.err, c.err)) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.name;
    }

    // A greeting answered wrong, or not at all.
    for (const Bytes& hello : {Bytes{0x02, 1, 0, 0}, Bytes{}}) {
        FakeService service([&](const Bytes&) {
            return FakeService::Reply{hello.empty() ? std::vector<Bytes>{}
                                                    : std::vector<Bytes>{hello}};
        });
        const Result r = RunOrvctl(service.Port(), {"walls"}, 300);
        EXPECT_EQ(r.status, kExitService);
        EXPECT_TRUE(Has(r.err, "greeting the service")) << r.err;
        EXPECT_EQ(service.Types(), (std::vector<std::uint8_t>{0x01}));
    }

    // An id change answer about other ids.
    FakeService service([](const Bytes& request) -> FakeService::Reply {
        if (request[0] == type::kChangeMonitorId)
            return {{Encode(ChangeIdReply{kIdChanged, 5, 6})}};
        return State{}(request);
    });
    const Result r = RunOrvctl(service.Port(), {"set-id", "2", "3"});
    EXPECT_EQ(r.status, kExitService);
    EXPECT_TRUE(Has(r.err, "the answer names ids 5 -> 6, not 2 -> 3")) << r.err;
}

}  // namespace
}  // namespace orv::orvctl
