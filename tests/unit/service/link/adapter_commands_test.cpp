// SendControlCommand and SendTopo over a scripted link, checked by the exact
// lines they leave in the service log.
#include "service/link/adapter_commands.h"

#include <gtest/gtest.h>

#include "tests/support/service_log_root.h"

using namespace orv::adapter;

namespace {

// A link that records the request and answers with a scripted reply.
class FakeLink : public orv::link::COvwCommBase {
public:
    int Connect(const std::string&) override { return 0; }
    int Disconnect() override { return 0; }
    int Read(std::uint8_t, std::uint8_t*, std::uint32_t& length) override {
        length = 0;
        return 0;
    }
    int Write(std::uint8_t, std::uint8_t*, std::uint32_t&) override { return 0; }
    int Transact(std::uint8_t outPipe, std::uint8_t* request, std::uint32_t& requestLength,
                 std::uint8_t inPipe, std::uint8_t* reply, std::uint32_t& replyLength) override {
        pipes = {outPipe, inPipe};
        sent.assign(request, request + requestLength);
        const std::size_t n = std::min<std::size_t>(replyLength, answer.size());
        std::copy_n(answer.begin(), n, reply);
        replyLength = static_cast<std::uint32_t>(n);
        return result;
    }

    int result = 0;
    Packet answer;
    Packet sent;
    std::pair<std::uint8_t, std::uint8_t> pipes;
};

class AdapterCommandsTest : public ::testing::Test {
protected:
    std::vector<std::string> Lines() const { return root_.Lines(); }

    orv::test::ServiceLogRoot root_;
    FakeLink link_;
};

const ScreenEntry kS0{0, 0x01, 0, 1920, 1080, 32, 60, 0};
const ScreenEntry kS1{1, 0x04, 2, 1280, 720, 32, 60, 1};
const char kTopoLine[] =
    "Varkel: Send Topo:s0:[0],[1],[1920],[1080],[32],[60],[0]; "
    "s1:[1],[4],[1280],[720],[32],[316],[2], isShowID=1";

}  // namespace

TEST_F(AdapterCommandsTest, ControlCommandLogsTypeAndLinkResult) {
    link_.answer = BuildStatusReply(type::kPowerOn, 0);
    EXPECT_EQ(orv::link::SendControlCommand(link_, type::kPowerOn, PowerOnBody()), 0);
    EXPECT_EQ(link_.sent, BuildControlCommand(PowerOnBody()));
    EXPECT_EQ(link_.pipes, std::make_pair(std::uint8_t{0x02}, std::uint8_t{0x82}));
    link_.result = 121;
    link_.answer.clear();
    EXPECT_EQ(orv::link::SendControlCommand(link_, type::kCommit, CommitBody()), 0);
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "+ SendControlCommand: datatype:50 +",
                           "+ SendControlCommand: error :r=0,DataSize=48 +",
                           "+ SendControlCommand: datatype:69 +",
                           "+ SendControlCommand: error :r=121,DataSize=0 +",
                       }));
}

TEST_F(AdapterCommandsTest, TopologySuccessAndLinkFailure) {
    link_.answer = BuildStatusReply(type::kTopology, 0);
    EXPECT_EQ(orv::link::SendTopo(link_, kS0, kS1, 1), ReplyFault::kNone);
    EXPECT_EQ(link_.sent, BuildTopology(kS0, kS1));
    link_.result = 31;
    EXPECT_EQ(orv::link::SendTopo(link_, kS0, kS1, 1), ReplyFault::kLink);
    EXPECT_EQ(Lines(), (std::vector<std::string>{kTopoLine, "- Send Topo: Success -", kTopoLine,
                                                 "+ Send Topo #error#:communication error +"}));
}

TEST_F(AdapterCommandsTest, TopologyReplyFaultsLogFromSpecificToCheckFlag) {
    Packet shortReply = BuildStatusReply(type::kTopology, 0);
    shortReply.resize(47);
    link_.answer = shortReply;
    EXPECT_EQ(orv::link::SendTopo(link_, kS0, kS1, 1), ReplyFault::kLength);
    Packet badMagic = BuildStatusReply(type::kTopology, 0);
    badMagic[1] = 'X';
    link_.answer = badMagic;
    EXPECT_EQ(orv::link::SendTopo(link_, kS0, kS1, 1), ReplyFault::kMagic);
    link_.answer = BuildStatusReply(0x31, 0);
    EXPECT_EQ(orv::link::SendTopo(link_, kS0, kS1, 1), ReplyFault::kDataType);
    link_.answer = BuildStatusReply(type::kTopology, 5);
    EXPECT_EQ(orv::link::SendTopo(link_, kS0, kS1, 1), ReplyFault::kStatus);
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           kTopoLine,
                           "+ Send Topo: #error# check flag +",
                           kTopoLine,
                           "+ Send Topo: #error# check flag +",
                           kTopoLine,
                           "+ Send Topo: #error# Data type:49 +",
                           "+ Send Topo: #error# check flag +",
                           kTopoLine,
                           "+ Send Topo: #error# bError:5 +",
                           "+ Send Topo: #error# Data type:48 +",
                           "+ Send Topo: #error# check flag +",
                       }));
}
