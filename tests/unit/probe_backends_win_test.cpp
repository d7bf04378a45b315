// The Windows backends without a network: the Winsock shim over loopback and
// the Schannel backend fed with handcrafted records. Everything that needs a
// real server runs in the lab (tests/lab).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "probe/errors.h"
#include "probe/sock.h"
#include "probe/tls_backend.h"

namespace tv {
namespace {

class WinSockets : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WSADATA wsa{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    }
    static void TearDownTestSuite() { WSACleanup(); }

    // A loopback listener on a free port; returns the port (network order).
    static SOCKET listener(uint16_t& portBe) {
        SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        EXPECT_EQ(::listen(s, 4), 0);
        int len = sizeof sa;
        ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
        portBe = sa.sin_port;
        return s;
    }
};

constexpr uint32_t kLoopbackBe = 0x0100007F; // 127.0.0.1 in network order

TEST_F(WinSockets, ConnectedSocketTimesOutWith10060AndSeesOrderlyClose) {
    uint16_t port = 0;
    SOCKET srv = listener(port);
    int err = 0;
    Socket c(sockOpen(SockKind::Tcp, err));
    ASSERT_TRUE(c.valid());
    ASSERT_EQ(sockSetNonBlocking(c.get(), true), 0);
    const int rc = sockConnect(c.get(), kLoopbackBe, port);
    EXPECT_TRUE(rc == 0 || rc == kWsaWouldBlock) << rc;
    bool failed = true;
    EXPECT_GT(sockWaitConnect(c.get(), 2000, failed), 0);
    EXPECT_FALSE(failed);
    EXPECT_EQ(sockPendingError(c.get()), 0);
    ASSERT_EQ(sockSetIoTimeouts(c.get(), 300), 0);
    SOCKET peer = ::accept(srv, nullptr, nullptr);
    ASSERT_NE(peer, INVALID_SOCKET);

    // Silence: the receive time-out ends the receive with 10060, never 10035
    // (the socket is back in blocking mode).
    char buf[64];
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(sockRecv(c.get(), buf, sizeof buf, err), -1);
    EXPECT_EQ(err, kWsaTimedOut);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    EXPECT_LT(waited, std::chrono::seconds(5));

    // Data both ways, then the peer's orderly close reads as 0 with no error.
    EXPECT_TRUE(sendAll(c.get(), "ping", err));
    char got[4] = {};
    EXPECT_EQ(::recv(peer, got, 4, 0), 4);
    EXPECT_EQ(std::string(got, 4), "ping");
    ::send(peer, "pong", 4, 0);
    EXPECT_EQ(sockRecv(c.get(), buf, sizeof buf, err), 4);
    ::shutdown(peer, SD_SEND);
    EXPECT_EQ(sockRecv(c.get(), buf, sizeof buf, err), 0);
    EXPECT_EQ(err, 0);
    ::closesocket(peer);
    ::closesocket(srv);
}

TEST_F(WinSockets, RefusedConnectionIsClassifiedAfterTheWait) {
    // A port that was just listened on and closed again refuses.
    uint16_t port = 0;
    ::closesocket(listener(port));
    int err = 0;
    Socket c(sockOpen(SockKind::Tcp, err));
    ASSERT_TRUE(c.valid());
    sockSetNonBlocking(c.get(), true);
    int rc = sockConnect(c.get(), kLoopbackBe, port);
    if (rc == kWsaWouldBlock) {
        bool failed = false;
        ASSERT_GT(sockWaitConnect(c.get(), 3000, failed), 0);
        EXPECT_TRUE(failed); // the exception set reports it
        rc = sockPendingError(c.get());
    }
    EXPECT_EQ(rc, kWsaConnRefused);
}

TEST_F(WinSockets, DatagramsTravelWithNetworkOrderAddresses) {
    SOCKET srv = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(srv, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    int len = sizeof sa;
    ::getsockname(srv, reinterpret_cast<sockaddr*>(&sa), &len);

    int err = 0;
    Socket c(sockOpen(SockKind::Udp, err));
    ASSERT_TRUE(c.valid());
    ASSERT_EQ(sockSetIoTimeouts(c.get(), 2000), 0);
    EXPECT_EQ(sockSendTo(c.get(), "query", 5, kLoopbackBe, sa.sin_port, err), 5);
    char buf[16];
    sockaddr_in from{};
    int fromLen = sizeof from;
    ASSERT_EQ(::recvfrom(srv, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen), 5);
    ::sendto(srv, "answer", 6, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    EXPECT_EQ(sockRecvFrom(c.get(), buf, sizeof buf, err), 6);
    EXPECT_EQ(std::string(buf, 6), "answer");
    ::closesocket(srv);
}

TEST_F(WinSockets, ResolverTakesLiteralsAndRefusesEmbeddedNul) {
    uint32_t a = 0;
    EXPECT_EQ(sysResolveIPv4("127.0.0.1", a), 0); // numeric: no query leaves
    EXPECT_EQ(a, kLoopbackBe);
    EXPECT_EQ(sysResolveIPv4(std::string("127.0.0.1\0.evil", 15), a), kWsaInvalid);
}

// --- Schannel, fed by hand: no server, only the records we give it ---

// The server_name of a ClientHello record, or "<none>" when it carries no
// server_name extension; "<bad>" when the bytes are not a ClientHello.
std::string clientHelloServerName(const std::string& rec) {
    auto u8 = [&](size_t i) { return i < rec.size() ? static_cast<uint8_t>(rec[i]) : 0u; };
    auto u16 = [&](size_t i) { return (u8(i) << 8) | u8(i + 1); };
    if (rec.size() < 9 || u8(0) != 0x16 || u8(5) != 0x01)
        return "<bad>";
    size_t p = 9 + 2 + 32;                 // handshake header, version, random
    p += 1 + u8(p);                        // session id
    p += 2 + u16(p);                       // cipher suites
    p += 1 + u8(p);                        // compression methods
    const size_t end = p + 2 + u16(p);     // extensions
    for (p += 2; p + 4 <= end && p + 4 <= rec.size();) {
        const unsigned type = u16(p), len = u16(p + 2);
        if (type == 0) {
            // list length (2), name type (1), name length (2), name
            const unsigned n = u16(p + 4 + 3);
            return rec.substr(p + 4 + 5, n);
        }
        p += 4 + len;
    }
    return "<none>";
}

TEST(SchannelBackend, FirstFlightCarriesTheServerNameOnlyWhenGiven) {
    for (const std::string sni : {"ok.lab.test", ""}) {
        TlsBackendPtr b;
        std::string out;
        uint32_t status = 0;
        ASSERT_EQ(tlsBackendStart(b, sni, out, status), TlsStep::Continue) << std::hex << status;
        ASSERT_TRUE(b);
        EXPECT_EQ(clientHelloServerName(out), sni.empty() ? "<none>" : sni);
    }
}

TEST(SchannelBackend, PartialRecordWaitsAndAlertRejects) {
    TlsBackendPtr b;
    std::string out;
    uint32_t status = 0;
    ASSERT_EQ(tlsBackendStart(b, "alert.lab.test", out, status), TlsStep::Continue);

    // Three bytes of a record header: nothing can be judged yet, nothing taken.
    std::string in("\x16\x03\x03", 3);
    out.clear();
    EXPECT_EQ(tlsBackendStep(*b, in, out, status), TlsStep::NeedMore);
    EXPECT_EQ(in, std::string("\x16\x03\x03", 3));

    // A fatal unrecognized_name alert from the server rejects the handshake
    // with an error status of the security layer.
    in.assign("\x15\x03\x03\x00\x02\x02\x70", 7);
    status = 0;
    EXPECT_EQ(tlsBackendStep(*b, in, out, status), TlsStep::Rejected);
    EXPECT_NE(status & 0x80000000u, 0u) << std::hex << status;
}

TEST(SchannelBackend, NothingBufferedMeansReceiveMore) {
    TlsBackendPtr b;
    std::string out;
    uint32_t status = 0;
    ASSERT_EQ(tlsBackendStart(b, "ok.lab.test", out, status), TlsStep::Continue);
    std::string in, plain;
    EXPECT_EQ(tlsBackendDecrypt(*b, in, plain, status), TlsRead::NeedMore);
    EXPECT_TRUE(plain.empty());
}

} // namespace
} // namespace tv
