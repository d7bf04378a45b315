#include "probe/tls.h"

#include <memory>

#include "probe/errors.h"
#include "probe/result.h"
#include "probe/text.h"

namespace tv {

char* threadRecvBuffer() {
    thread_local std::unique_ptr<char[]> buf(new char[kRecvBufferSize]);
    return buf.get();
}

namespace {

// Receives into the thread buffer and appends to `in`; on failure sets the
// word and detail of the handshake table.
bool receiveMore(SocketHandle sock, std::string& in, std::string& word, std::string& detail) {
    char* buf = threadRecvBuffer();
    int err = 0;
    const long n = sockRecv(sock, buf, kRecvBufferSize, err);
    if (n > 0) {
        in.append(buf, static_cast<size_t>(n));
        return true;
    }
    if (n == 0 || err == 0) {
        detail = "closed by peer";
        word = kReset;
    } else if (err == kWsaTimedOut || err == kWsaWouldBlock) {
        detail = "no reply";
        word = kTimeout;
    } else {
        detail = socketErrorText(err);
        word = kReset;
    }
    return false;
}

} // namespace

std::string tlsHandshake(TlsSession& s, const std::string& sni, std::string& detail) {
    std::string out;
    uint32_t status = 0;
    if (tlsBackendStart(s.backend, sni, out, status) != TlsStep::Continue) {
        detail = tlsStatusText(status);
        return std::string(kFail);
    }
    int err = 0;
    if (!out.empty() && !sendAll(s.socket, out, err)) {
        detail = socketErrorText(err);
        return std::string(kReset);
    }
    std::string in;
    std::string word;
    bool needReceive = true;
    for (;;) {
        if (needReceive && !receiveMore(s.socket, in, word, detail))
            return word;
        out.clear();
        const TlsStep step = tlsBackendStep(*s.backend, in, out, status);
        // Later flights are sent without checking: a broken connection shows
        // at the next receive.
        if (!out.empty())
            sendAll(s.socket, out, err);
        switch (step) {
        case TlsStep::Done:
            s.pendingInput = std::move(in);
            return std::string(kOk);
        case TlsStep::NeedMore:
            needReceive = true;
            break;
        case TlsStep::Continue:
            needReceive = in.empty();
            break;
        case TlsStep::ClientCert:
            detail = "server wants client cert";
            return std::string(kAlert);
        case TlsStep::Rejected:
        case TlsStep::SetupFailed:
            detail = tlsStatusText(status);
            return std::string(kAlert);
        }
    }
}

std::string certDisplayName(std::string_view raw) {
    const std::string valid = toValidUtf8(untilNul(raw));
    constexpr size_t kMaxUnits = 255;
    size_t units = 0, i = 0;
    while (i < valid.size()) {
        const auto b = static_cast<unsigned char>(valid[i]);
        const size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        const size_t u = len == 4 ? 2 : 1; // beyond the BMP: a surrogate pair
        if (units + u > kMaxUnits)
            break;
        units += u;
        i += len;
    }
    return valid.substr(0, i);
}

void tlsCertificateStep(TlsSession& s, const std::string& sni, std::string& cert, bool& certOk) {
    if (!s.backend)
        return;
    const TlsPeerCert pc = tlsBackendPeerCert(*s.backend, sni);
    if (!pc.present)
        return;
    cert = certDisplayName(pc.name);
    certOk = pc.ok;
}

} // namespace tv
