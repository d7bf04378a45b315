#include "probe/hello_stage.h"

#include "probe/hello_probe.h"

namespace tv {
namespace {

HelloShape shapeOf(HelloMode m) {
    return m == HelloMode::Firefox ? HelloShape::Firefox : HelloShape::Chrome;
}

HelloOptions optionsFor(HelloShape shape, const std::string& sni) {
    HelloOptions o;
    o.shape = shape;
    o.sni = sni;
    return o;
}

// The portable reason the record keeps beside the words (not on the wire).
TlsReason reasonOf(const HelloProbeResult& h) {
    switch (h.tls.state) {
    case State::Ok:
        return TlsReason::None;
    case State::Alert:
        return h.alertDescription == 112  ? TlsReason::UnrecognizedName
               : h.alertDescription == 40 ? TlsReason::HandshakeFailure
               : h.alertDescription == 70 ? TlsReason::ProtocolVersion
                                          : TlsReason::PeerAlert;
    case State::Reset:
    case State::Timeout:
        return TlsReason::Transport;
    case State::Fail:
        return h.reply == ServerRecordKind::Other ? TlsReason::BadMessage : TlsReason::Other;
    default:
        return TlsReason::Other;
    }
}

// A fresh connection of the comparison that did not open: its TCP word as the
// shape's outcome, so a filter that starts refusing connections after some
// hellos shows as a cut rather than as a hello never sent. A refusal reads
// as a reset, the only TLS word for an active "no".
StageOutcome fromFailedTcp(const StageOutcome& tcp) {
    StageOutcome o;
    o.state = tcp.state == State::Timeout ? State::Timeout
              : tcp.state == State::Fail  ? State::Fail
                                          : State::Reset;
    o.detail = "TCP: " + std::string(stateWord(tcp.state));
    if (!tcp.detail.empty())
        o.detail += " " + tcp.detail;
    return o;
}

StageOutcome compareOne(HelloShape shape, Ipv4Address addr, const std::string& sni,
                        int32_t timeoutMs) {
    HelloProbeRequest req;
    req.addrBe = addr.addrBe;
    req.hello = optionsFor(shape, sni);
    req.timeoutMs = timeoutMs;
    const HelloProbeResult h = probeHello(req);
    // A hello that could not be built never connects: its own outcome stands.
    if (h.tcp.state != State::Ok && h.tls.state == State::Skip)
        return fromFailedTcp(h.tcp);
    return h.tls;
}

} // namespace

std::string_view helloModeWord(HelloMode m) {
    switch (m) {
    case HelloMode::Chrome:
        return kHelloChrome;
    case HelloMode::Firefox:
        return kHelloFirefox;
    case HelloMode::All:
        return kHelloAll;
    default:
        return kHelloLib;
    }
}

HelloMode parseHelloMode(std::string_view w) {
    if (w == kHelloChrome)
        return HelloMode::Chrome;
    if (w == kHelloFirefox)
        return HelloMode::Firefox;
    if (w == kHelloAll)
        return HelloMode::All;
    return HelloMode::Lib;
}

void runHelloAsTls(ProbeResult& r, const Socket& sock, const std::string& sni, HelloMode mode,
                   int32_t timeoutMs) {
    const HelloProbeResult h =
        probeHelloOnSocket(sock.get(), optionsFor(shapeOf(mode), sni), timeoutMs);
    r.tls = stateWord(h.tls.state);
    r.tlsMs = h.tls.ms;
    r.tlsDetail = h.tls.detail;
    r.tlsReason = reasonOf(h);
    (mode == HelloMode::Firefox ? r.hello.firefox : r.hello.chrome) = h.tls;
}

void runHelloComparison(ProbeResult& r, Ipv4Address addr, const std::string& sni,
                        int32_t timeoutMs) {
    r.hello.chrome = compareOne(HelloShape::Chrome, addr, sni, timeoutMs);
    r.hello.firefox = compareOne(HelloShape::Firefox, addr, sni, timeoutMs);
}

} // namespace tv
