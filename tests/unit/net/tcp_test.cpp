#include "platform/net/tcp.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

namespace orv::net {
namespace {

TEST(Tcp, LoopbackListenerCarriesBytesBothWays) {
    auto listener = TcpListener::Listen(0, false);
    ASSERT_TRUE(listener);
    ASSERT_NE(listener->Port(), 0);
    auto client = TcpConnection::Connect("127.0.0.1", listener->Port());
    ASSERT_TRUE(client);
    auto server = listener->Accept();
    ASSERT_TRUE(server);

    const std::array<std::uint8_t, 3> out{1, 2, 3};
    ASSERT_TRUE(client->Send(out));
    std::array<std::uint8_t, 16> in{};
    EXPECT_TRUE(server->WaitReadable(5000));
    ASSERT_EQ(server->Receive(in), 3);
    EXPECT_EQ(in[2], 3);

    client.reset();  // the peer closes: receive reports 0
    EXPECT_EQ(server->Receive(in), 0);
}

TEST(Tcp, StopAndInterruptWakeBlockedCalls) {
    auto listener = TcpListener::Listen(0, false);
    ASSERT_TRUE(listener);
    std::unique_ptr<TcpConnection> accepted;
    std::thread acceptor([&] { accepted = listener->Accept(); });
    listener->Stop();
    acceptor.join();
    EXPECT_FALSE(accepted);
    EXPECT_FALSE(listener->Accept());

    auto second = TcpListener::Listen(0, false);
    ASSERT_TRUE(second);
    auto client = TcpConnection::Connect("127.0.0.1", second->Port());
    auto server = second->Accept();
    ASSERT_TRUE(client && server);
    long got = 99;
    std::thread receiver([&] {
        std::array<std::uint8_t, 8> in{};
        got = server->Receive(in);
    });
    server->Interrupt();
    receiver.join();
    EXPECT_EQ(got, 0);
}

TEST(Tcp, SendToAClosedPeerFailsWithoutSignal) {
    auto listener = TcpListener::Listen(0, false);
    ASSERT_TRUE(listener);
    auto client = TcpConnection::Connect("127.0.0.1", listener->Port());
    auto server = listener->Accept();
    ASSERT_TRUE(client && server);
    server.reset();
    std::array<std::uint8_t, 4096> block{};
    bool failed = false;
    // The first sends may still be buffered; a later one meets the reset.
    for (int i = 0; i < 100 && !failed; ++i) {
        failed = !client->Send(block);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(failed);
}

TEST(Tcp, ABusyPortIsRefused) {
    auto first = TcpListener::Listen(0, false);
    ASSERT_TRUE(first);
    std::string error;
    EXPECT_FALSE(TcpListener::Listen(first->Port(), false, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace orv::net
