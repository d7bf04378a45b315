#include "probe/dns_forensics.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "probe/basic_checks.h"
#include "probe/dns_encrypted.h"
#include "probe/net.h"
#include "probe/tls.h"

namespace tv {
namespace {

// The encrypted resolvers in the order the swapped-answer check tries them:
// Yandex first (most often left open under allow-lists), DoT before DoH of
// each operator.
constexpr size_t kAttempts = 2 * std::size(kBasicResolvers);

DnsTransport attemptTransport(size_t i) {
    return i % 2 == 0 ? DnsTransport::Dot : DnsTransport::Doh;
}
const BasicResolver& attemptResolver(size_t i) {
    return kBasicResolvers[i / 2];
}

// The attempt that answered last, shared by every probe of the process.
std::atomic<size_t> gNextAttempt{0};

// Does `addrBe` present a valid certificate for `name` on 443? Ok with
// `valid`, or the handshake's failure.
struct CertProbe {
    bool handshake = false;
    bool valid = false;
};
CertProbe probeCertificate(uint32_t addrBe, const std::string& name, int32_t timeoutMs) {
    CertProbe c;
    TcpOutcome tcp = connectWithTimeout(Ipv4Address{addrBe}, 443, timeoutMs);
    if (!tcp.socket.valid())
        return c;
    TlsSession s;
    s.socket = tcp.socket.get();
    if (tlsHandshake(s, name).stage.state != State::Ok)
        return c;
    c.handshake = true;
    c.valid = tlsCertificateStep(s, name).ok;
    return c;
}

} // namespace

bool sameOperator(uint32_t aBe, uint32_t bBe) {
    uint8_t a[4], b[4];
    std::memcpy(a, &aBe, 4);
    std::memcpy(b, &bBe, 4);
    return a[0] == b[0] && a[1] == b[1];
}

InterceptFinding judgeInterception(const DnsAnswerSet& udpWhoami, const DnsAnswerSet& dotWhoami) {
    InterceptFinding f;
    if (udpWhoami.state != State::Ok || dotWhoami.state != State::Ok || udpWhoami.addrsBe.empty() ||
        dotWhoami.addrsBe.empty())
        return f;
    const uint32_t udp = udpWhoami.addrsBe.front();
    const uint32_t dot = dotWhoami.addrsBe.front();
    if (sameOperator(udp, dot)) {
        f.word = kInterceptNo;
        return f;
    }
    f.word = kInterceptYes;
    f.note = " · ";
    f.note += kInterceptMark;
    f.note += ": whoami " + formatIPv4(udp) + ", по DoT " + formatIPv4(dot);
    return f;
}

DnsCheckFinding checkDnsAnswer(const std::string& name, const std::string& certName,
                               uint32_t systemAddrBe, int32_t timeoutMs) {
    DnsCheckFinding f;
    f.asked = true;
    f.spoof = kSpoofFail;
    const size_t first = gNextAttempt.load();
    for (int k = 0; k < kSpoofTries; ++k) {
        const size_t i = (first + static_cast<size_t>(k)) % kAttempts;
        const BasicResolver& r = attemptResolver(i);
        const DnsTransport t = attemptTransport(i);
        const SecureDnsOutcome q =
            querySecureDns(t, SecureDnsTarget{r.address, r.serverName}, {name}, timeoutMs);
        if (!q.answered) {
            // Move everyone past it, unless another probe already did.
            size_t expected = i;
            gNextAttempt.compare_exchange_strong(expected, (i + 1) % kAttempts);
            continue;
        }
        gNextAttempt.store(i);
        f.via = std::string(t == DnsTransport::Dot ? "dot " : "doh ") + r.address;
        const std::vector<uint32_t>& addrs = q.answers[0].addrsBe;
        if (addrs.empty())
            return f; // the resolver knows no address: undecided
        if (std::find(addrs.begin(), addrs.end(), systemAddrBe) != addrs.end()) {
            f.spoof = kSpoofNo; // the same answer: the site's own certificate is bad
            return f;
        }
        const uint32_t other = addrs.front();
        const CertProbe c = probeCertificate(other, certName, timeoutMs);
        if (!c.handshake)
            return f;
        if (c.valid) {
            f.spoof = kSpoofYes;
            f.genuine = formatIPv4(other);
        } else {
            f.spoof = kSpoofNo;
        }
        return f;
    }
    return f;
}

} // namespace tv
