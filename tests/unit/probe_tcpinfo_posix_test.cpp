#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "probe/sock.h"
#include "probe/tcpinfo.h"

namespace tv {
namespace {

// A connected loopback pair: client and the accepted server end.
void loopbackPair(Socket& client, Socket& server) {
    Socket listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener.get(), 1), 0);
    ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &len), 0);
    client = Socket(::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    server = Socket(::accept(listener.get(), nullptr, nullptr));
    ASSERT_TRUE(server.valid());
}

TEST(TcpInfo, AckedReachesWhatThePeerRead) {
    Socket client, server;
    loopbackPair(client, server);
    uint64_t base = 0, baseIn = 0;
    ASSERT_TRUE(tcpBytesAcked(client.get(), base));
    EXPECT_LE(base, 1u); // at most our SYN
    ASSERT_TRUE(tcpBytesReceived(server.get(), baseIn));

    const std::string data(65536, 'u');
    int err = 0;
    ASSERT_TRUE(sendAll(client.get(), data, err));
    std::vector<char> buf(16384);
    size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::recv(server.get(), buf.data(), buf.size(), 0);
        ASSERT_GT(n, 0);
        got += static_cast<size_t>(n);
    }
    uint64_t acked = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (tcpBytesAcked(client.get(), acked) && acked - base < data.size() &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(acked - base, data.size());
    uint64_t in = 0;
    ASSERT_TRUE(tcpBytesReceived(server.get(), in));
    EXPECT_EQ(in - baseIn, data.size());
}

TEST(TcpInfo, NotTcpIsUnknown) {
    Socket udp(::socket(AF_INET, SOCK_DGRAM, 0));
    uint64_t v = 42;
    EXPECT_FALSE(tcpBytesAcked(udp.get(), v));
    EXPECT_FALSE(tcpBytesReceived(udp.get(), v));
    EXPECT_EQ(v, 42u);
}

} // namespace
} // namespace tv
