#include "probe/net.h"

#include "probe/dns_packet.h"
#include "probe/errors.h"
#include "probe/result.h"

namespace tv {

ResolveOutcome resolveHost(const std::string& host) {
    const auto start = clockNow();
    ResolveOutcome o;
    if (parseIPv4(host, o.addr.addrBe)) {
        o.stage.state = State::Skip;
        o.stage.ms = 0;
        o.found = true;
        return o;
    }
    uint32_t addr = 0;
    const int err = sysResolveIPv4(host, addr);
    o.stage.ms = elapsedMs(start);
    if (err == 0) {
        o.addr.addrBe = addr;
        o.stage.state = State::Ok;
        o.found = true;
        return o;
    }
    o.stage.state = dnsStateFromResolveError(err);
    return o;
}

TcpOutcome connectWithTimeout(Ipv4Address addr, int port, int32_t timeoutMs) {
    const auto start = clockNow();
    TcpOutcome o;
    StageOutcome& st = o.stage;
    int err = 0;
    Socket sock(sockOpen(SockKind::Tcp, err));
    if (!sock.valid()) {
        st.state = State::Fail;
        st.detail = socketErrorText(err);
        return o;
    }
    sockSetNonBlocking(sock.get(), true);
    err = sockConnect(sock.get(), addr.addrBe, hostToNet16(static_cast<uint16_t>(port)));
    if (err != 0 && err != kWsaWouldBlock) {
        st.state = tcpStateImmediate(err);
        st.detail = socketErrorText(err);
        st.ms = elapsedMs(start);
        return o;
    }
    bool failed = false;
    const int rc = sockWaitConnect(sock.get(), timeoutMs, failed);
    st.ms = elapsedMs(start);
    if (rc <= 0) {
        st.state = State::Timeout;
        return o;
    }
    err = sockPendingError(sock.get());
    if (err != 0 || failed) {
        st.state = tcpStateAfterWait(err);
        st.detail = socketErrorText(err);
        return o;
    }
    sockSetIoTimeouts(sock.get(), timeoutMs);
    st.state = State::Ok;
    o.socket = std::move(sock);
    return o;
}

namespace {

// One query, one datagram back; `parse` reads the answer into `o`.
template <class Parse>
StageOutcome udpQuery(const std::string& resolverIp, const std::string& name, int32_t timeoutMs,
                      Parse&& parse) {
    const auto start = clockNow();
    StageOutcome o;
    o.state = State::Fail;
    uint32_t server = 0;
    std::string query;
    if (!parseIPv4(resolverIp, server) || !buildDnsQuery(name, query)) {
        o.detail = "bad name";
        return o;
    }
    int err = 0;
    Socket sock(sockOpen(SockKind::Udp, err));
    if (!sock.valid()) {
        o.detail = socketErrorText(err);
        return o;
    }
    sockSetIoTimeouts(sock.get(), timeoutMs);
    if (sockSendTo(sock.get(), query.data(), query.size(), server, hostToNet16(53), err) < 0) {
        o.detail = socketErrorText(err);
        return o;
    }
    uint8_t answer[kDnsAnswerMax];
    const long n = sockRecvFrom(sock.get(), answer, sizeof answer, err);
    o.ms = elapsedMs(start);
    sock.close();
    if (n < 0) {
        if (err == kWsaTimedOut) {
            o.state = State::Timeout;
            o.detail = "no reply";
        } else {
            o.detail = socketErrorText(err);
        }
        return o;
    }
    parse(answer, static_cast<size_t>(n), o);
    return o;
}

} // namespace

StageOutcome queryDnsUdp(const std::string& resolverIp, const std::string& name,
                         int32_t timeoutMs) {
    return udpQuery(resolverIp, name, timeoutMs, [](const uint8_t* d, size_t n, StageOutcome& o) {
        DnsVerdict v = parseDnsAnswer(d, n);
        o.state = v.state;
        o.detail = std::move(v.detail);
    });
}

DnsAnswerSet queryDnsUdpAll(const std::string& resolverIp, const std::string& name,
                            int32_t timeoutMs) {
    DnsAnswerSet set;
    const StageOutcome o =
        udpQuery(resolverIp, name, timeoutMs, [&](const uint8_t* d, size_t n, StageOutcome&) {
            set = parseDnsAnswerAll(d, n, kDnsQueryId);
        });
    if (set.detail.empty()) { // no answer was read
        set.state = o.state;
        set.detail = o.detail;
    }
    return set;
}

} // namespace tv
