// probeTarget: resolve, TCP 443, TLS with the chosen name, certificate,
// optional HTTP, verdict. Each stage runs only when the one before it
// succeeded and returns its outcome as a value; the record takes the words
// here, in one place.
#include "probe/dns_forensics.h"
#include "probe/hello_stage.h"
#include "probe/http.h"
#include "probe/http_requests.h"
#include "probe/net.h"
#include "probe/probe.h"
#include "probe/tcp_sweep.h"
#include "probe/tls.h"
#include "probe/transfer.h"

namespace tv {
namespace {

// The record up to the name lookup, shared by a probe and a record that takes
// its address's TCP outcome: false when the name did not resolve (the record
// is then complete).
bool recordUpToDns(const ProbeJob& job, const ProbeOptions& options, ProbeResult& r,
                   ResolveOutcome& dns) {
    r = makeProbeResult(job.host, job.sni);
    r.dnsCheck.asked = options.dnsCheck; // its keys go out with every row, checked or not
    r.hello.mode = options.hello;
    dns = resolveHost(job.host);
    r.dns = stateWord(dns.stage.state);
    r.dnsMs = dns.stage.ms;
    if (!dns.found) {
        r.tlsDetail = "DNS: " + r.dns;
        return false;
    }
    r.ip = formatIPv4(dns.addr.addrBe);
    return true;
}

ProbeResult probeOnce(const ProbeJob& job, const ProbeOptions& options) {
    const std::string& host = job.host;
    const std::string& sni = job.sni;
    const bool doHttp = options.http;
    const int32_t timeoutMs = options.timeoutMs;
    ProbeResult r;
    ResolveOutcome dns;
    if (!recordUpToDns(job, options, r, dns))
        return r;

    TcpOutcome tcp = connectWithTimeout(dns.addr, 443, timeoutMs);
    r.tcp = stateWord(tcp.stage.state);
    r.tcpMs = tcp.stage.ms;
    if (!tcp.socket.valid()) {
        r.tlsDetail = tcp.stage.detail;
        return r;
    }

    // A browser hello as the TLS stage: no certificate, no HTTP, and the
    // verdict as if HTTP had not been asked for.
    if (options.hello == HelloMode::Chrome || options.hello == HelloMode::Firefox) {
        runHelloAsTls(r, tcp.socket, sni, options.hello, timeoutMs);
        tcp.socket.close();
        r.verdict = computeVerdict(r, false);
        return r;
    }

    TlsSession session;
    session.socket = tcp.socket.get();
    const TlsOutcome tls = tlsHandshake(session, sni);
    r.tls = stateWord(tls.stage.state);
    r.tlsMs = tls.stage.ms;
    r.tlsDetail = tls.stage.detail;
    r.tlsReason = tls.reason;

    if (tls.stage.state == State::Ok) {
        const CertOutcome cert = tlsCertificateStep(session, sni);
        r.cert = cert.name;
        r.certOk = cert.ok;
        const std::string& hostValue = sni.empty() ? host : sni;
        // The transfer test reads on after the status line, so it needs the
        // request even where the scan did not ask for HTTP (the matrix); the
        // request then asks to keep the connection.
        if (doHttp || options.xfer) {
            // With the transfer test, its first GETs go out with the first.
            const std::string followUp =
                options.xfer ? buildPipelinedGets(hostValue, kXferFirstGets, false) : std::string();
            const HttpOutcome http =
                httpGetStatus(session, hostValue, timeoutMs, /*keepAlive=*/options.xfer, followUp);
            if (doHttp) {
                r.http = stateWord(http.stage.state);
                r.httpMs = http.stage.ms;
                r.httpCode = http.code > 0 ? http.code : 0;
                if (http.stage.state != State::Ok)
                    r.tlsDetail = http.stage.detail;
            }
            if (options.xfer) {
                r.xferRan = true;
                if (http.connectionOpen) {
                    XferRequest x;
                    x.hostValue = hostValue;
                    x.stallMs = timeoutMs;
                    x.download = http.stage.state == State::Ok;
                    x.getsSent = 1 + kXferFirstGets;
                    r.xfer = runTransfer(session, x);
                }
            }
        }
    }

    // No close_notify and no shutdown: the socket is simply closed.
    tcp.socket.close();
    // Only a resolved name whose certificate failed after a completed
    // handshake is checked; the verdict stays as the stages made it.
    if (options.dnsCheck && tls.stage.state == State::Ok && !r.certOk &&
        dns.stage.state == State::Ok)
        r.dnsCheck = checkDnsAnswer(host, sni.empty() ? host : sni, dns.addr.addrBe, timeoutMs);
    r.verdict = computeVerdict(r, doHttp);
    // Only after a connection that opened: a TCP failure is not tried again.
    if (options.hello == HelloMode::All)
        runHelloComparison(r, dns.addr, sni, timeoutMs);
    return r; // the session (TLS state, pending input) is released here
}

} // namespace

ProbeResult tcpSharedResult(const ProbeJob& job, const ProbeOptions& options,
                            const StageOutcome& tcp) {
    ProbeResult r;
    ResolveOutcome dns;
    if (!recordUpToDns(job, options, r, dns))
        return r;
    r.tcp = stateWord(tcp.state);
    r.tcpMs = tcp.ms;
    r.tlsDetail = tcp.detail;
    r.tcpShared = true;
    return r;
}

ProbeResult repeatProbe(int32_t repeat, const std::function<ProbeResult()>& once,
                        const std::atomic<bool>* stop) {
    const int32_t n = boundRepeat(repeat);
    ProbeResult r;
    int32_t tries = 0, passes = 0;
    do {
        r = once();
        ++tries;
        if (passingVerdict(r.verdict))
            ++passes;
    } while (tries < n && !(stop && stop->load()));
    r.tries = tries;
    r.passes = passes;
    return r;
}

ProbeResult probeTarget(const ProbeJob& job, const ProbeOptions& options) {
    if (options.repeat <= 1)
        return probeOnce(job, options);
    return repeatProbe(
        options.repeat, [&] { return probeOnce(job, options); }, options.stop);
}

} // namespace tv
