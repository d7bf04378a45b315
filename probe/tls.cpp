#include "probe/tls.h"

#include <memory>

#include "base/text.h"
#include "probe/errors.h"
#include "probe/result.h"

namespace tv {

char* threadRecvBuffer() {
    thread_local std::unique_ptr<char[]> buf(new char[kRecvBufferSize]);
    return buf.get();
}

namespace {

// Receives more of the handshake into `in`; on failure fills the state and
// detail of the handshake table.
bool receiveMore(TlsSession& s, std::string& in, StageOutcome& o) {
    int err = 0;
    const long n = sessionReceive(s, err);
    if (n > 0) {
        in += s.pendingInput;
        s.pendingInput.clear();
        return true;
    }
    if (n == 0 || err == 0) {
        o.detail = "closed by peer";
        o.state = State::Reset;
    } else if (err == kWsaTimedOut || err == kWsaWouldBlock) {
        o.detail = "no reply";
        o.state = State::Timeout;
    } else {
        o.detail = socketErrorText(err);
        o.state = State::Reset;
    }
    return false;
}

TlsOutcome handshakeSteps(TlsSession& s, const std::string& sni) {
    TlsOutcome r;
    StageOutcome& o = r.stage;
    std::string out;
    uint32_t status = 0;
    if (tlsBackendStart(s.backend, sni, out, status) != TlsStep::Continue) {
        o.state = State::Fail;
        o.detail = tlsStatusText(status);
        r.reason = TlsReason::Other;
        return r;
    }
    int err = 0;
    if (!out.empty() && !sessionSend(s, out, err)) {
        o.state = State::Reset;
        o.detail = socketErrorText(err);
        r.reason = TlsReason::Transport;
        return r;
    }
    std::string in;
    bool needReceive = true;
    for (;;) {
        if (needReceive && !receiveMore(s, in, o)) {
            r.reason = TlsReason::Transport;
            return r;
        }
        out.clear();
        const TlsStep step = tlsBackendStep(*s.backend, in, out, status);
        // Later flights are sent without checking: a broken connection shows
        // at the next receive.
        if (!out.empty())
            sessionSend(s, out, err);
        switch (step) {
        case TlsStep::Done:
            s.pendingInput = std::move(in);
            o.state = State::Ok;
            return r;
        case TlsStep::NeedMore:
            needReceive = true;
            break;
        case TlsStep::Continue:
            needReceive = in.empty();
            break;
        case TlsStep::ClientCert:
            o.state = State::Alert;
            o.detail = "server wants client cert";
            r.reason = TlsReason::ClientCertWanted;
            return r;
        case TlsStep::Rejected:
        case TlsStep::SetupFailed:
            o.state = State::Alert;
            o.detail = tlsStatusText(status);
            r.reason = tlsBackendReason(status);
            return r;
        }
    }
}

} // namespace

long sessionReceive(TlsSession& s, int& err) {
    char* buf = threadRecvBuffer();
    err = 0;
    const long n = sockRecv(s.socket, buf, kRecvBufferSize, err);
    if (n > 0) {
        s.pendingInput.append(buf, static_cast<size_t>(n));
        s.rawIn += static_cast<uint64_t>(n);
    }
    return n;
}

bool sessionSend(TlsSession& s, std::string_view data, int& err) {
    const bool ok = sendAll(s.socket, data, err);
    if (ok)
        s.rawOut += data.size();
    return ok;
}

TlsOutcome tlsHandshake(TlsSession& s, const std::string& sni) {
    const auto start = clockNow();
    TlsOutcome r = handshakeSteps(s, sni);
    r.stage.ms = elapsedMs(start);
    return r;
}

std::string certDisplayName(std::string_view raw) {
    const std::string valid = toValidUtf8(untilNul(raw));
    return std::string(cutUtf16Units(valid, 255));
}

CertOutcome tlsCertificateStep(TlsSession& s, const std::string& sni) {
    CertOutcome c;
    if (!s.backend)
        return c;
    const TlsPeerCert pc = tlsBackendPeerCert(*s.backend, sni);
    if (!pc.present)
        return c;
    c.name = certDisplayName(pc.name);
    c.ok = pc.ok;
    return c;
}

} // namespace tv
