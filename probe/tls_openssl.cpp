// The TLS backend on OpenSSL 3. The library never sees the socket: received
// bytes go into a memory read BIO, whatever it wants to send is drained from
// a memory write BIO, so the shared code does every receive itself (into the
// thread buffer) and classifies it the same way on every platform.
//
// Status codes are ERR_peek_last_error() of the failed call, e.g.
// 0x0A000458 (SSL library, reason 1112) for a received unrecognized_name
// alert; 0 when OpenSSL queued no error.
#include <mutex>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "probe/probe.h"
#include "probe/tls_backend.h"

namespace tv {

struct TlsBackend {
    SSL* ssl = nullptr;
    BIO* rbio = nullptr; // owned by ssl
    BIO* wbio = nullptr; // owned by ssl
    bool clientCertWanted = false;
};

void tlsBackendFree(TlsBackend* b) {
    if (!b)
        return;
    if (b->ssl)
        SSL_free(b->ssl);
    delete b;
    ERR_clear_error(); // nothing of this session stays in the thread's queue
}

namespace {

// The server asked for a client certificate: note it and suspend the
// handshake (SSL_ERROR_WANT_X509_LOOKUP), as Schannel stops there too.
int onClientCertRequest(SSL* ssl, X509**, EVP_PKEY**) {
    if (auto* b = static_cast<TlsBackend*>(SSL_get_app_data(ssl)))
        b->clientCertWanted = true;
    return -1;
}

// The handshake accepts any certificate; the certificate step verifies the
// chain afterwards, so none is verified twice.
int acceptAnyChain(X509_STORE_CTX*, void*) {
    return 1;
}

struct ClientContext {
    SSL_CTX* ctx = nullptr;
    uint32_t error = 0;
};

// One client context for the whole process: the system trust store is
// loaded once, and SSL_new on a shared context is thread-safe.
const ClientContext& clientContext() {
    static ClientContext cc;
    static std::once_flag once;
    std::call_once(once, [] {
        ERR_clear_error();
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        if (!ctx) {
            cc.error = static_cast<uint32_t>(ERR_peek_last_error());
            return;
        }
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_cert_verify_callback(ctx, acceptAnyChain, nullptr);
        SSL_CTX_set_client_cert_cb(ctx, onClientCertRequest);
        SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
        SSL_CTX_set_default_verify_paths(ctx);
        ERR_clear_error();
        cc.ctx = ctx;
    });
    return cc;
}

uint32_t lastError() {
    return static_cast<uint32_t>(ERR_peek_last_error());
}

void feed(TlsBackend& b, std::string& in) {
    if (!in.empty())
        BIO_write(b.rbio, in.data(), static_cast<int>(in.size()));
    in.clear();
}

void drain(TlsBackend& b, std::string& out) {
    char buf[4096];
    int n;
    while ((n = BIO_read(b.wbio, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
}

TlsStep handshake(TlsBackend& b, std::string& out, uint32_t& status) {
    ERR_clear_error();
    const int rc = SSL_do_handshake(b.ssl);
    drain(b, out);
    if (rc == 1)
        return TlsStep::Done;
    const int e = SSL_get_error(b.ssl, rc);
    if (b.clientCertWanted || e == SSL_ERROR_WANT_X509_LOOKUP)
        return TlsStep::ClientCert;
    if (e == SSL_ERROR_WANT_READ)
        return TlsStep::NeedMore;
    status = lastError();
    return TlsStep::Rejected;
}

// CN, else O, else the first DNS name among the subject alternative names.
std::string subjectName(X509* cert) {
    X509_NAME* subject = X509_get_subject_name(cert);
    for (int nid : {NID_commonName, NID_organizationName}) {
        const int idx = subject ? X509_NAME_get_index_by_NID(subject, nid, -1) : -1;
        if (idx < 0)
            continue;
        ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, idx));
        unsigned char* utf8 = nullptr;
        const int len = ASN1_STRING_to_UTF8(&utf8, data);
        if (len >= 0) {
            std::string s(reinterpret_cast<char*>(utf8), static_cast<size_t>(len));
            OPENSSL_free(utf8);
            return s;
        }
    }
    std::string name;
    auto* sans =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; sans && i < sk_GENERAL_NAME_num(sans); ++i) {
        const GENERAL_NAME* gn = sk_GENERAL_NAME_value(sans, i);
        if (gn->type == GEN_DNS) {
            const ASN1_IA5STRING* dns = gn->d.dNSName;
            name.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                        static_cast<size_t>(ASN1_STRING_length(dns)));
            break;
        }
    }
    GENERAL_NAMES_free(sans);
    return name;
}

bool chainVerifies(SSL* ssl, X509* leaf) {
    X509_STORE* store = SSL_CTX_get_cert_store(SSL_get_SSL_CTX(ssl));
    X509_STORE_CTX* vctx = X509_STORE_CTX_new();
    if (!vctx)
        return false;
    bool ok = false;
    // The client's peer chain holds the leaf and whatever the server sent.
    if (X509_STORE_CTX_init(vctx, store, leaf, SSL_get_peer_cert_chain(ssl)) == 1) {
        X509_STORE_CTX_set_default(vctx, "ssl_server");
        X509_STORE_CTX_set_purpose(vctx, X509_PURPOSE_SSL_SERVER);
        ok = X509_verify_cert(vctx) == 1;
    }
    X509_STORE_CTX_free(vctx);
    return ok;
}

} // namespace

TlsStep tlsBackendStart(TlsBackendPtr& session, const std::string& sni, std::string& out,
                        uint32_t& status) {
    const ClientContext& cc = clientContext();
    if (!cc.ctx) {
        status = cc.error;
        return TlsStep::SetupFailed;
    }
    ERR_clear_error();
    session.reset(new TlsBackend);
    TlsBackend& b = *session;
    b.ssl = SSL_new(cc.ctx);
    if (!b.ssl) {
        status = lastError();
        return TlsStep::SetupFailed;
    }
    SSL_set_app_data(b.ssl, &b);
    b.rbio = BIO_new(BIO_s_mem());
    b.wbio = BIO_new(BIO_s_mem());
    if (!b.rbio || !b.wbio) {
        status = lastError();
        BIO_free(b.rbio);
        BIO_free(b.wbio);
        b.rbio = b.wbio = nullptr;
        return TlsStep::SetupFailed;
    }
    // An empty read BIO means "wait for more", not end of stream.
    BIO_set_mem_eof_return(b.rbio, -1);
    SSL_set_bio(b.ssl, b.rbio, b.wbio);
    SSL_set_connect_state(b.ssl);
    if (!sni.empty() && SSL_set_tlsext_host_name(b.ssl, sni.c_str()) != 1) {
        status = lastError();
        return TlsStep::SetupFailed;
    }
    // The first call can only produce the ClientHello and wait for an answer.
    status = 0;
    if (handshake(b, out, status) == TlsStep::NeedMore && !out.empty())
        return TlsStep::Continue;
    if (status == 0)
        status = lastError();
    return TlsStep::SetupFailed;
}

TlsStep tlsBackendStep(TlsBackend& b, std::string& in, std::string& out, uint32_t& status) {
    feed(b, in);
    return handshake(b, out, status);
}

TlsRead tlsBackendDecrypt(TlsBackend& b, std::string& in, std::string& plain, uint32_t& status) {
    feed(b, in);
    char buf[16384];
    ERR_clear_error();
    const int n = SSL_read(b.ssl, buf, sizeof buf);
    if (n > 0) {
        plain.append(buf, static_cast<size_t>(n));
        return TlsRead::Record;
    }
    const int e = SSL_get_error(b.ssl, n);
    // Whatever OpenSSL wants to send while reading (key updates) is dropped:
    // the probe sends nothing after its request.
    std::string discard;
    drain(b, discard);
    if (e == SSL_ERROR_WANT_READ)
        return TlsRead::NeedMore;
    if (e == SSL_ERROR_ZERO_RETURN)
        return TlsRead::Closed;
    status = lastError();
    return TlsRead::Error;
}

TlsWrite tlsBackendEncrypt(TlsBackend& b, std::string_view plain, std::string& out,
                           uint32_t& status) {
    ERR_clear_error();
    const int n = SSL_write(b.ssl, plain.data(), static_cast<int>(plain.size()));
    if (n <= 0 || static_cast<size_t>(n) != plain.size()) {
        status = lastError();
        return TlsWrite::Error;
    }
    drain(b, out);
    return TlsWrite::Ok;
}

// Library reasons into portable ones, after the manner of Chromium's
// MapOpenSSLErrorSSL: the alerts a server sends and the version mismatches
// we can name, everything else as it comes.
TlsReason tlsBackendReason(uint32_t status) {
    if (ERR_GET_LIB(status) != ERR_LIB_SSL)
        return TlsReason::Other;
    switch (ERR_GET_REASON(status)) {
    case SSL_R_TLSV1_UNRECOGNIZED_NAME:
        return TlsReason::UnrecognizedName;
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
    case SSL_R_NO_SHARED_CIPHER:
        return TlsReason::HandshakeFailure;
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
        return TlsReason::ProtocolVersion;
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_UNEXPECTED_MESSAGE:
    case SSL_R_UNEXPECTED_RECORD:
    case SSL_R_RECORD_LENGTH_MISMATCH:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_BAD_PACKET_LENGTH:
    case SSL_R_LENGTH_MISMATCH:
        return TlsReason::BadMessage;
    default:
        break;
    }
    // Every other received alert: SSL_R_SSLV3_ALERT_* and SSL_R_TLSV1_ALERT_*
    // are the alert description plus SSL_AD_REASON_OFFSET.
    const int reason = ERR_GET_REASON(status);
    if (reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256)
        return TlsReason::PeerAlert;
    return TlsReason::Other;
}

TlsPeerCert tlsBackendPeerCert(TlsBackend& b, const std::string& sni) {
    TlsPeerCert pc;
    X509* leaf = SSL_get1_peer_certificate(b.ssl);
    if (!leaf)
        return pc;
    pc.present = true;
    pc.name = subjectName(leaf);
    pc.ok = chainVerifies(b.ssl, leaf);
    if (pc.ok && !sni.empty())
        pc.ok = X509_check_host(leaf, sni.data(), sni.size(), 0, nullptr) == 1;
    X509_free(leaf);
    ERR_clear_error();
    return pc;
}

void endProbeThread() {
    OPENSSL_thread_stop();
}

} // namespace tv
