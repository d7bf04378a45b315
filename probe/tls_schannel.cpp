// The TLS backend on Windows: Schannel through SSPI, the certificate step
// through CryptoAPI. One credentials handle and one context per session, both
// released when the session is freed at the end of the probe. The handshake
// accepts any certificate (manual validation); the chain is judged afterwards
// under the SSL policy.
#define SECURITY_WIN32
#include <windows.h>

#include <schannel.h>
#include <security.h>
#include <sspi.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

#include "base/winstr.h"
#include "probe/probe.h"
#include "probe/tls_backend.h"

namespace tv {

// Credential flags: no server-name check, manual credential validation, no
// default client credentials.
constexpr DWORD kCredFlags =
    SCH_CRED_NO_SERVERNAME_CHECK | SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
static_assert(kCredFlags == 0x1C);
// Context flags: replay and sequence detection, confidentiality, output
// buffers allocated by the package, extended errors (alerts come back as a
// token to send), stream mode, manual credential validation.
constexpr ULONG kContextFlags = ISC_REQ_REPLAY_DETECT | ISC_REQ_SEQUENCE_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;
static_assert(kContextFlags == 0x8C11C);

struct TlsBackend {
    CredHandle credentials{};
    CtxtHandle context{};
    bool credentialsAcquired = false;
    bool contextCreated = false;
    std::wstring target; // the server name; empty: none is sent
    SecPkgContext_StreamSizes sizes{};
};

void tlsBackendFree(TlsBackend* b) {
    if (!b)
        return;
    if (b->contextCreated)
        DeleteSecurityContext(&b->context);
    if (b->credentialsAcquired)
        FreeCredentialsHandle(&b->credentials);
    delete b;
}

namespace {

SEC_WCHAR* targetName(TlsBackend& b) {
    return b.target.empty() ? nullptr : const_cast<SEC_WCHAR*>(b.target.c_str());
}

// Moves a token that the package allocated into `out` and frees it.
void takeToken(SecBuffer& token, std::string& out) {
    if (!token.pvBuffer)
        return;
    if (token.cbBuffer > 0)
        out.append(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
    FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
}

// Keeps the last `extra` bytes of `in` (the package did not consume them).
void keepTail(std::string& in, unsigned long extra) {
    if (extra > 0 && extra <= in.size())
        in.erase(0, in.size() - extra);
    else
        in.clear();
}

} // namespace

TlsStep tlsBackendStart(TlsBackendPtr& session, const std::string& sni, std::string& out,
                        uint32_t& status) {
    session.reset(new TlsBackend);
    TlsBackend& b = *session;
    b.target = toWide(sni);

    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION; // 4; protocols 0: the platform's defaults
    cred.dwFlags = kCredFlags;
    TimeStamp expiry{};
    SECURITY_STATUS st = AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W),
                                                   SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr,
                                                   nullptr, &b.credentials, &expiry);
    if (st != SEC_E_OK) {
        status = static_cast<uint32_t>(st);
        return TlsStep::SetupFailed;
    }
    b.credentialsAcquired = true;

    SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &token};
    ULONG got = 0;
    st = InitializeSecurityContextW(&b.credentials, nullptr, targetName(b), kContextFlags, 0, 0,
                                    nullptr, 0, &b.context, &outDesc, &got, &expiry);
    if (st != SEC_I_CONTINUE_NEEDED) {
        if (token.pvBuffer)
            FreeContextBuffer(token.pvBuffer);
        // A first call that did not ask to continue left no context behind.
        status = static_cast<uint32_t>(st);
        return TlsStep::SetupFailed;
    }
    b.contextCreated = true;
    takeToken(token, out);
    return TlsStep::Continue;
}

TlsStep tlsBackendStep(TlsBackend& b, std::string& in, std::string& out, uint32_t& status) {
    SecBuffer inBufs[2] = {
        {static_cast<unsigned long>(in.size()), SECBUFFER_TOKEN, in.data()},
        {0, SECBUFFER_EMPTY, nullptr},
    };
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBufs};
    SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &token};
    ULONG got = 0;
    TimeStamp expiry{};
    const SECURITY_STATUS st =
        InitializeSecurityContextW(&b.credentials, &b.context, targetName(b), kContextFlags, 0, 0,
                                   &inDesc, 0, &b.context, &outDesc, &got, &expiry);
    // Whatever the status, a token that came back goes out (with extended
    // errors this is how an alert of ours reaches the server).
    takeToken(token, out);

    switch (st) {
    case SEC_E_INCOMPLETE_MESSAGE:
        return TlsStep::NeedMore; // `in` kept as it is
    case SEC_E_OK:
    case SEC_I_CONTINUE_NEEDED:
        if (inBufs[1].BufferType == SECBUFFER_EXTRA)
            keepTail(in, inBufs[1].cbBuffer);
        else
            in.clear();
        return st == SEC_E_OK ? TlsStep::Done : TlsStep::Continue;
    case SEC_I_INCOMPLETE_CREDENTIALS:
        return TlsStep::ClientCert;
    default:
        status = static_cast<uint32_t>(st);
        return TlsStep::Rejected;
    }
}

TlsRead tlsBackendDecrypt(TlsBackend& b, std::string& in, std::string& plain, uint32_t& status) {
    if (in.empty())
        return TlsRead::NeedMore;
    SecBuffer bufs[4] = {
        {static_cast<unsigned long>(in.size()), SECBUFFER_DATA, in.data()},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
    };
    SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
    const SECURITY_STATUS st = DecryptMessage(&b.context, &desc, 0, nullptr);
    if (st == SEC_E_INCOMPLETE_MESSAGE)
        return TlsRead::NeedMore;
    if (st != SEC_E_OK) {
        status = static_cast<uint32_t>(st);
        return st == SEC_I_CONTEXT_EXPIRED ? TlsRead::Closed : TlsRead::Error;
    }
    // The record was decrypted in place inside `in`: copy the data out before
    // `in` is cut down to the bytes that follow the record.
    unsigned long extra = 0;
    for (int i = 1; i < 4; ++i) {
        if (bufs[i].BufferType == SECBUFFER_DATA && bufs[i].pvBuffer && bufs[i].cbBuffer > 0)
            plain.append(static_cast<const char*>(bufs[i].pvBuffer), bufs[i].cbBuffer);
        if (bufs[i].BufferType == SECBUFFER_EXTRA)
            extra = bufs[i].cbBuffer;
    }
    keepTail(in, extra);
    return TlsRead::Record;
}

TlsWrite tlsBackendEncrypt(TlsBackend& b, std::string_view plain, std::string& out,
                           uint32_t& status) {
    if (QueryContextAttributesW(&b.context, SECPKG_ATTR_STREAM_SIZES, &b.sizes) != SEC_E_OK)
        return TlsWrite::NoStreamSizes;
    const unsigned long header = b.sizes.cbHeader;
    const unsigned long trailer = b.sizes.cbTrailer;
    std::vector<char> msg(header + plain.size() + trailer, 0);
    std::memcpy(msg.data() + header, plain.data(), plain.size());
    SecBuffer bufs[4] = {
        {header, SECBUFFER_STREAM_HEADER, msg.data()},
        {static_cast<unsigned long>(plain.size()), SECBUFFER_DATA, msg.data() + header},
        {trailer, SECBUFFER_STREAM_TRAILER, msg.data() + header + plain.size()},
        {0, SECBUFFER_EMPTY, nullptr},
    };
    SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
    const SECURITY_STATUS st = EncryptMessage(&b.context, 0, &desc, 0);
    if (st != SEC_E_OK) {
        status = static_cast<uint32_t>(st);
        return TlsWrite::Error;
    }
    // The three parts lie back to back; send them with the sizes the
    // encryption left (the trailer may have come out shorter).
    out.append(msg.data(), bufs[0].cbBuffer + bufs[1].cbBuffer + bufs[2].cbBuffer);
    return TlsWrite::Ok;
}

// SSPI statuses into portable reasons. Schannel reports most received
// alerts as SEC_E_ILLEGAL_MESSAGE without naming the alert; Wine reports
// every fatal alert as SEC_E_INTERNAL_ERROR, which stays Other.
TlsReason tlsBackendReason(uint32_t status) {
    switch (static_cast<SECURITY_STATUS>(status)) {
    case SEC_E_ALGORITHM_MISMATCH:
        return TlsReason::HandshakeFailure;
    case SEC_E_UNSUPPORTED_FUNCTION:
        return TlsReason::ProtocolVersion;
    case SEC_E_ILLEGAL_MESSAGE:
        return TlsReason::PeerAlert;
    case SEC_E_INVALID_TOKEN:
    case SEC_E_MESSAGE_ALTERED:
    case SEC_E_DECRYPT_FAILURE:
        return TlsReason::BadMessage;
    default:
        return TlsReason::Other;
    }
}

TlsPeerCert tlsBackendPeerCert(TlsBackend& b, const std::string& sni) {
    TlsPeerCert pc;
    PCCERT_CONTEXT cert = nullptr;
    if (QueryContextAttributesW(&b.context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK ||
        !cert)
        return pc;
    pc.present = true;

    wchar_t name[256] = {};
    CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
    pc.name = fromWide(name);

    // No usage requirement and no flags: in particular no revocation check.
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &chainPara, 0, nullptr,
                                &chain) &&
        chain) {
        const std::wstring serverName = toWide(sni);
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.fdwChecks = 0;
        ssl.pwszServerName = sni.empty() ? nullptr : const_cast<WCHAR*>(serverName.c_str());
        CERT_CHAIN_POLICY_PARA policyPara{};
        policyPara.cbSize = sizeof policyPara;
        policyPara.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS policyStatus{};
        policyStatus.cbSize = sizeof policyStatus;
        if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara,
                                             &policyStatus))
            pc.ok = policyStatus.dwError == 0;
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(cert);
    return pc;
}

// SSPI keeps nothing per thread that outlives a session.
void endProbeThread() {}

} // namespace tv
