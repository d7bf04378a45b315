// probeTarget: resolve, TCP 443, TLS with the chosen name, certificate,
// optional HTTP, verdict. Each stage runs only when the one before it
// succeeded; every failure ends as words and a detail text in the record.
#include "probe/http.h"
#include "probe/net.h"
#include "probe/probe.h"
#include "probe/tls.h"

namespace tv {

ProbeResult probeTarget(const std::string& host, const std::string& sni, bool doHttp,
                        int32_t timeoutMs) {
    ProbeResult r = makeProbeResult(host, sni);

    Ipv4Address addr;
    if (!resolveHost(host, addr, r.dns, r.dnsMs)) {
        r.tlsDetail = "DNS: " + r.dns;
        return r;
    }
    r.ip = formatIPv4(addr.addrBe);

    std::string tcpDetail;
    Socket sock = connectWithTimeout(addr, 443, timeoutMs, r.tcp, r.tcpMs, tcpDetail);
    if (!sock.valid()) {
        r.tlsDetail = tcpDetail;
        r.tls = kSkip;
        return r;
    }

    TlsSession session;
    session.socket = sock.get();
    const auto tlsStart = clockNow();
    r.tls = tlsHandshake(session, sni, r.tlsDetail);
    r.tlsMs = elapsedMs(tlsStart);

    if (r.tls == kOk) {
        tlsCertificateStep(session, sni, r.cert, r.certOk);
        if (doHttp) {
            const auto httpStart = clockNow();
            std::string detail;
            const int32_t code =
                httpGetStatus(session, sni.empty() ? host : sni, timeoutMs, detail);
            r.httpMs = elapsedMs(httpStart);
            r.httpCode = code > 0 ? code : 0;
            if (code > 0) {
                r.http = kOk;
            } else {
                r.http = detail.find("timeout") != std::string::npos ? kTimeout : kFail;
                r.tlsDetail = detail;
            }
        }
    }

    // No close_notify and no shutdown: the socket is simply closed.
    sock.close();
    r.verdict = computeVerdict(r, doHttp);
    return r; // the session (TLS state, pending input) is released here
}

} // namespace tv
