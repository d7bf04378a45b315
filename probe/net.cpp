#include "probe/net.h"

#include "probe/dns_packet.h"
#include "probe/errors.h"
#include "probe/result.h"

namespace tv {

bool resolveHost(const std::string& host, Ipv4Address& out, std::string& state, int32_t& ms) {
    const auto start = clockNow();
    out = Ipv4Address{};
    if (parseIPv4(host, out.addrBe)) {
        state = kSkip;
        ms = 0;
        return true;
    }
    uint32_t addr = 0;
    const int err = sysResolveIPv4(host, addr);
    ms = elapsedMs(start);
    if (err == 0) {
        out.addrBe = addr;
        state = kOk;
        return true;
    }
    state = dnsStateFromResolveError(err);
    return false;
}

Socket connectWithTimeout(Ipv4Address addr, int port, int32_t timeoutMs, std::string& state,
                          int32_t& ms, std::string& detail) {
    const auto start = clockNow();
    int err = 0;
    Socket sock(sockOpen(SockKind::Tcp, err));
    if (!sock.valid()) {
        state = kFail;
        detail = socketErrorText(err);
        return {};
    }
    sockSetNonBlocking(sock.get(), true);
    err = sockConnect(sock.get(), addr.addrBe, hostToNet16(static_cast<uint16_t>(port)));
    if (err != 0 && err != kWsaWouldBlock) {
        state = tcpStateImmediate(err);
        detail = socketErrorText(err);
        ms = elapsedMs(start);
        return {};
    }
    bool failed = false;
    const int rc = sockWaitConnect(sock.get(), timeoutMs, failed);
    ms = elapsedMs(start);
    if (rc <= 0) {
        state = kTimeout;
        return {};
    }
    err = sockPendingError(sock.get());
    if (err != 0 || failed) {
        state = tcpStateAfterWait(err);
        detail = socketErrorText(err);
        return {};
    }
    sockSetIoTimeouts(sock.get(), timeoutMs);
    state = kOk;
    return sock;
}

std::string queryDnsUdp(const std::string& resolverIp, const std::string& name, int32_t timeoutMs,
                        int32_t& ms, std::string& detail) {
    const auto start = clockNow();
    uint32_t server = 0;
    std::string query;
    if (!parseIPv4(resolverIp, server) || !buildDnsQuery(name, query)) {
        detail = "bad name";
        return std::string(kFail);
    }
    int err = 0;
    Socket sock(sockOpen(SockKind::Udp, err));
    if (!sock.valid()) {
        detail = socketErrorText(err);
        return std::string(kFail);
    }
    sockSetIoTimeouts(sock.get(), timeoutMs);
    if (sockSendTo(sock.get(), query.data(), query.size(), server, hostToNet16(53), err) < 0) {
        detail = socketErrorText(err);
        return std::string(kFail);
    }
    uint8_t answer[kDnsAnswerMax];
    const long n = sockRecvFrom(sock.get(), answer, sizeof answer, err);
    ms = elapsedMs(start);
    sock.close();
    if (n < 0) {
        if (err == kWsaTimedOut) {
            detail = "no reply";
            return std::string(kTimeout);
        }
        detail = socketErrorText(err);
        return std::string(kFail);
    }
    DnsVerdict v = parseDnsAnswer(answer, static_cast<size_t>(n));
    detail = std::move(v.detail);
    return std::string(v.state);
}

} // namespace tv
