// The hello probe against an in-process server on 127.0.0.1: OpenSSL answers
// both browser shapes, with and without a server name, and sees the name we
// sent; a HelloRetryRequest, an alert, a close, a reset and silence each give
// their own outcome.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <functional>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "probe/hello_probe.h"

namespace tv {
namespace {

enum class Peer { Tls, Close, Reset, Silent };

// Serves one connection on a thread, as `peer` says.
class HelloServer {
public:
    explicit HelloServer(Peer peer, std::function<void(SSL_CTX*)> configure = {}) : peer_(peer) {
        ::signal(SIGPIPE, SIG_IGN);
        if (peer == Peer::Tls) {
            key_ = EVP_EC_gen("P-256");
            cert_ = X509_new();
            X509_gmtime_adj(X509_getm_notBefore(cert_), -60);
            X509_gmtime_adj(X509_getm_notAfter(cert_), 3600);
            X509_set_pubkey(cert_, key_);
            X509_sign(cert_, key_, EVP_sha256());
            ctx_ = SSL_CTX_new(TLS_server_method());
            SSL_CTX_use_certificate(ctx_, cert_);
            SSL_CTX_use_PrivateKey(ctx_, key_);
            SSL_CTX_set_tlsext_servername_arg(ctx_, this);
            SSL_CTX_set_tlsext_servername_callback(
                ctx_, +[](SSL* ssl, int*, void* self) {
                    if (const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name))
                        static_cast<HelloServer*>(self)->sni = name;
                    return SSL_TLSEXT_ERR_OK;
                });
            if (configure)
                configure(ctx_);
        }
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(listen_, 1);
        socklen_t len = sizeof sa;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len);
        port = ntohs(sa.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~HelloServer() {
        join();
        ::close(listen_);
        SSL_CTX_free(ctx_);
        X509_free(cert_);
        EVP_PKEY_free(key_);
    }

    // Waits until the connection is served; `sni` is final from then on.
    void join() {
        if (thread_.joinable())
            thread_.join();
    }

    uint16_t port = 0;
    std::string sni; // as the TLS server saw it

private:
    // Reads one whole record (the hello) so that what follows is not a reaction to unread data.
    static void readRecord(int fd) {
        std::string in;
        char buf[4096];
        while (in.size() < 5 ||
               in.size() < 5u + (static_cast<uint8_t>(in[3]) << 8 | static_cast<uint8_t>(in[4]))) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            in.append(buf, static_cast<size_t>(n));
        }
    }

    void serve() {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1)
            return;
        const int fd = ::accept(listen_, nullptr, nullptr);
        if (peer_ == Peer::Tls) {
            SSL* ssl = SSL_new(ctx_);
            SSL_set_fd(ssl, fd);
            SSL_accept(ssl); // ends when the probe hangs up (or we sent an alert)
            SSL_free(ssl);
            ERR_clear_error();
        } else {
            readRecord(fd);
            if (peer_ == Peer::Close) {
                ::shutdown(fd, SHUT_WR);
            } else if (peer_ == Peer::Reset) {
                const linger hard{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            }
            char c;
            while (peer_ != Peer::Reset && ::recv(fd, &c, 1, 0) > 0) {
            }
        }
        ::close(fd);
    }

    Peer peer_;
    EVP_PKEY* key_ = nullptr;
    X509* cert_ = nullptr;
    SSL_CTX* ctx_ = nullptr;
    int listen_ = -1;
    std::thread thread_;
};

HelloProbeResult probe(uint16_t port, HelloShape shape, const std::string& sni,
                       int32_t timeoutMs = 3000) {
    HelloProbeRequest req;
    req.addrBe = htonl(INADDR_LOOPBACK);
    req.port = port;
    req.hello = {shape, sni, false};
    req.timeoutMs = timeoutMs;
    return probeHello(req);
}

TEST(ProbeHelloPosix, OpensslAnswersBothShapesWithAServerHelloAndSeesTheName) {
    for (HelloShape shape : {HelloShape::Chrome, HelloShape::Firefox}) {
        for (const std::string sni : {"site.test", ""}) {
            HelloServer server(Peer::Tls);
            const HelloProbeResult r = probe(server.port, shape, sni);
            server.join();
            SCOPED_TRACE(r.tls.detail);
            EXPECT_EQ(stateWord(r.tcp.state), "ok");
            EXPECT_GE(r.tcp.ms, 0);
            EXPECT_EQ(stateWord(r.tls.state), "ok");
            EXPECT_EQ(r.reply, ServerRecordKind::ServerHello);
            EXPECT_EQ(r.tls.detail, "server hello");
            EXPECT_GE(r.tls.ms, 0);
            EXPECT_GT(r.helloSize, 1500u);
            EXPECT_EQ(server.sni, sni);
        }
    }
}

TEST(ProbeHelloPosix, RetryAlertCloseResetAndSilenceEachHaveTheirOutcome) {
    auto onlyP256 = [](SSL_CTX* c) { SSL_CTX_set1_groups_list(c, "P-256"); };
    auto noSharedSuite = [](SSL_CTX* c) {
        SSL_CTX_set_min_proto_version(c, TLS1_3_VERSION);
        SSL_CTX_set_ciphersuites(c, "TLS_AES_128_CCM_SHA256");
    };
    struct Case {
        Peer peer;
        std::function<void(SSL_CTX*)> configure;
        HelloShape shape;
        int32_t timeoutMs;
        std::string tls, detail;
    } cases[] = {
        // Chrome sends no P-256 share; Firefox's is a real point, so it is taken.
        {Peer::Tls, onlyP256, HelloShape::Chrome, 3000, "ok", "hello retry request"},
        {Peer::Tls, onlyP256, HelloShape::Firefox, 3000, "ok", "server hello"},
        {Peer::Tls, noSharedSuite, HelloShape::Chrome, 3000, "alert",
         "alert 40 (handshake_failure)"},
        {Peer::Close, {}, HelloShape::Firefox, 3000, "reset", "closed by peer"},
        {Peer::Reset, {}, HelloShape::Chrome, 3000, "reset", "WSA 10054"},
        {Peer::Silent, {}, HelloShape::Chrome, 300, "timeout", "no reply"},
    };
    for (const auto& c : cases) {
        HelloServer server(c.peer, c.configure);
        const HelloProbeResult r = probe(server.port, c.shape, "site.test", c.timeoutMs);
        EXPECT_EQ(stateWord(r.tcp.state), "ok");
        EXPECT_EQ(stateWord(r.tls.state), c.tls) << c.detail;
        EXPECT_EQ(r.tls.detail, c.detail);
        if (c.peer == Peer::Silent) {
            EXPECT_GE(r.tls.ms, 250);
        }
    }
    // Nothing listens on a port just given back: TCP fails, no hello goes out.
    uint16_t closedPort;
    {
        HelloServer server(Peer::Close);
        closedPort = server.port;
        probe(server.port, HelloShape::Chrome, ""); // let the server finish
    }
    const HelloProbeResult r = probe(closedPort, HelloShape::Chrome, "site.test");
    EXPECT_EQ(stateWord(r.tcp.state), "refused");
    EXPECT_EQ(stateWord(r.tls.state), "skip");
}

} // namespace
} // namespace tv
