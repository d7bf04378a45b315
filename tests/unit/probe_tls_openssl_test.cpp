// The OpenSSL backend against an in-process TLS server on 127.0.0.1: the
// certificate naming rule (which the lab's certificates cannot vary), the
// client-certificate request under TLS 1.2 and 1.3, and the alert code.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "probe/net.h"
#include "probe/tls.h"

namespace tv {
namespace {

struct CertProfile {
    std::vector<std::pair<int, std::string>> subject; // NID, UTF-8 value
    std::vector<std::string> sanDns;
    bool sanIpFirst = false;
};

EVP_PKEY* newKey() {
    return EVP_EC_gen("P-256");
}

X509* makeCert(EVP_PKEY* key, const CertProfile& profile) {
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600);
    X509_NAME* name = X509_get_subject_name(x);
    for (const auto& [nid, value] : profile.subject) {
        // A plain UTF8String entry: no length limit from OpenSSL's string table.
        X509_NAME_ENTRY* e = X509_NAME_ENTRY_create_by_NID(
            nullptr, nid, V_ASN1_UTF8STRING, reinterpret_cast<const unsigned char*>(value.data()),
            static_cast<int>(value.size()));
        X509_NAME_add_entry(name, e, -1, 0);
        X509_NAME_ENTRY_free(e);
    }
    X509_set_issuer_name(x, name);
    std::string san;
    if (profile.sanIpFirst)
        san = "IP:192.0.2.1";
    for (const auto& d : profile.sanDns)
        san += (san.empty() ? "DNS:" : ",DNS:") + d;
    if (!san.empty()) {
        X509_EXTENSION* ext =
            X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, san.c_str());
        X509_add_ext(x, ext, -1);
        X509_EXTENSION_free(ext);
    }
    X509_set_pubkey(x, key);
    X509_sign(x, key, EVP_sha256());
    return x;
}

// One TLS connection served on a thread; `configure` adjusts the context.
class LoopbackServer {
public:
    template <class F> LoopbackServer(const CertProfile& profile, F configure) {
        key_ = newKey();
        cert_ = makeCert(key_, profile);
        ctx_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(ctx_, cert_);
        SSL_CTX_use_PrivateKey(ctx_, key_);
        configure(ctx_);
        // The server may still write (a session ticket) after the client has gone.
        ::signal(SIGPIPE, SIG_IGN);
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(listen_, 1);
        socklen_t len = sizeof sa;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackServer() {
        thread_.join();
        ::close(listen_);
        SSL_CTX_free(ctx_);
        X509_free(cert_);
        EVP_PKEY_free(key_);
    }
    int port() const { return port_; }

private:
    void serve() {
        const int fd = ::accept(listen_, nullptr, nullptr);
        if (fd < 0)
            return;
        SSL* ssl = SSL_new(ctx_);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            char buf[256];
            while (SSL_read(ssl, buf, sizeof buf) > 0) {
            }
        }
        SSL_free(ssl);
        ::close(fd);
        ERR_clear_error();
    }

    EVP_PKEY* key_ = nullptr;
    X509* cert_ = nullptr;
    SSL_CTX* ctx_ = nullptr;
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

struct Outcome {
    std::string tls, detail, cert;
    bool certOk = true;
};

Outcome handshakeWith(LoopbackServer& server, const std::string& sni) {
    Outcome o;
    Ipv4Address addr;
    parseIPv4("127.0.0.1", addr.addrBe);
    TcpOutcome tcp = connectWithTimeout(addr, server.port(), 3000);
    EXPECT_EQ(stateWord(tcp.stage.state), "ok");
    if (!tcp.socket.valid())
        return o;
    TlsSession s;
    s.socket = tcp.socket.get();
    const TlsOutcome tls = tlsHandshake(s, sni);
    o.tls = stateWord(tls.stage.state);
    o.detail = tls.stage.detail;
    o.certOk = false;
    if (o.tls == "ok") {
        const CertOutcome c = tlsCertificateStep(s, sni);
        o.cert = c.name;
        o.certOk = c.ok;
    }
    return o;
}

void noChange(SSL_CTX*) {}

TEST(ProbeTlsOpenssl, CertificateNameFallsBackFromCnToOrganisationToDnsName) {
    struct Case {
        CertProfile profile;
        std::string want;
    } cases[] = {
        {{{{NID_organizationName, "Acme"}, {NID_commonName, "Сервер Acme"}}, {"san.example"}},
         "Сервер Acme"},
        {{{{NID_countryName, "RU"}, {NID_organizationName, "Acme Ltd"}}, {"san.example"}},
         "Acme Ltd"},
        {{{{NID_countryName, "RU"}}, {"first.example", "second.example"}, true}, "first.example"},
        {{{{NID_commonName, std::string(300, 'c')}}, {}}, std::string(255, 'c')},
        {{{}, {}}, ""},
    };
    for (const auto& c : cases) {
        LoopbackServer server(c.profile, noChange);
        const Outcome o = handshakeWith(server, "");
        EXPECT_EQ(o.tls, "ok");
        EXPECT_EQ(o.cert, c.want);
        EXPECT_FALSE(o.certOk); // self-signed: no trusted root
    }
}

TEST(ProbeTlsOpenssl, ClientCertificateRequestIsAnAlertInTls12And13) {
    for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
        LoopbackServer server({{{NID_commonName, "cc.test"}}, {}}, [version](SSL_CTX* ctx) {
            SSL_CTX_set_min_proto_version(ctx, version);
            SSL_CTX_set_max_proto_version(ctx, version);
            SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                               [](int, X509_STORE_CTX*) { return 1; });
        });
        const Outcome o = handshakeWith(server, "cc.test");
        EXPECT_EQ(o.tls, "alert") << version;
        EXPECT_EQ(o.detail, "server wants client cert") << version;
        EXPECT_EQ(o.cert, "");
    }
}

TEST(ProbeTlsOpenssl, UnrecognizedNameAlertCarriesTheLibraryCode) {
    LoopbackServer server({{{NID_commonName, "own.test"}}, {}}, [](SSL_CTX* ctx) {
        SSL_CTX_set_tlsext_servername_callback(
            ctx, +[](SSL* ssl, int* al, void*) {
                const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
                if (name && std::string(name) == "own.test")
                    return SSL_TLSEXT_ERR_OK;
                *al = SSL_AD_UNRECOGNIZED_NAME;
                return SSL_TLSEXT_ERR_ALERT_FATAL;
            });
    });
    const Outcome o = handshakeWith(server, "other.test");
    EXPECT_EQ(o.tls, "alert");
    EXPECT_EQ(o.detail, "0x0A000458"); // SSL library, SSL_R_TLSV1_ALERT_UNRECOGNIZED_NAME
    EXPECT_EQ(ERR_peek_error(), 0u);   // the session left nothing in the thread's queue
}

} // namespace
} // namespace tv
