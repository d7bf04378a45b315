#include "probe/dns_encrypted.h"

#include <functional>
#include <string_view>

#include "probe/dns_answers.h"
#include "probe/dns_secure.h"
#include "probe/errors.h"
#include "probe/http_requests.h"
#include "probe/net.h"
#include "probe/result.h"
#include "probe/tls.h"

namespace tv {
namespace {

enum class ReadEnd { Settled, Closed, Timeout, Failed };

// Sends `request` through the session, then hands every decrypted byte to
// `onData` until it reports that it has what it needs, the peer ends the
// stream, or `timeoutMs` has passed since the request went out. On Failed
// `detail` says why ("stream sizes", "0x%08X", "WSA %d").
ReadEnd exchange(TlsSession& s, std::string_view request, int32_t timeoutMs,
                 const std::function<bool(std::string_view)>& onData, std::string& detail) {
    std::string wire;
    uint32_t status = 0;
    switch (tlsBackendEncrypt(*s.backend, request, wire, status)) {
    case TlsWrite::Ok:
        break;
    case TlsWrite::NoStreamSizes:
        detail = "stream sizes";
        return ReadEnd::Failed;
    case TlsWrite::Error:
        detail = tlsStatusText(status);
        return ReadEnd::Failed;
    }
    int err = 0;
    if (!sendAll(s.socket, wire, err)) {
        detail = socketErrorText(err);
        return ReadEnd::Failed;
    }
    const auto start = clockNow();
    std::string plain;
    for (;;) {
        // Records already buffered come first (data sent with the handshake's end).
        for (;;) {
            plain.clear();
            const TlsRead rd = tlsBackendDecrypt(*s.backend, s.pendingInput, plain, status);
            if (!plain.empty() && onData(plain))
                return ReadEnd::Settled;
            if (rd == TlsRead::NeedMore)
                break;
            if (rd != TlsRead::Record)
                return ReadEnd::Closed; // close_notify, or records we cannot read
        }
        if (elapsedMs(start) > timeoutMs)
            return ReadEnd::Timeout;
        char* buf = threadRecvBuffer();
        const long n = sockRecv(s.socket, buf, kRecvBufferSize, err);
        if (n > 0) {
            s.pendingInput.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && (err == kWsaTimedOut || err == kWsaWouldBlock))
            return ReadEnd::Timeout;
        return ReadEnd::Closed;
    }
}

// The row's state when the answer did not come.
void missingAnswer(ReadEnd end, const std::string& detail, StageOutcome& o) {
    switch (end) {
    case ReadEnd::Timeout:
        o.state = State::Timeout;
        o.detail = "no reply";
        break;
    case ReadEnd::Failed:
        o.state = State::Fail;
        o.detail = detail;
        break;
    default:
        o.state = State::Fail;
        o.detail = "closed";
        break;
    }
}

void overDot(TlsSession& s, const std::vector<std::string>& queries, int32_t timeoutMs,
             SecureDnsOutcome& o) {
    std::string request, framed;
    for (const std::string& q : queries) {
        frameDnsStream(q, framed);
        request += framed;
    }
    DnsStreamReader reader;
    std::string detail;
    const ReadEnd end = exchange(
        s, request, timeoutMs,
        [&](std::string_view bytes) {
            reader.feed(bytes);
            return reader.malformed() || reader.count() >= queries.size();
        },
        detail);
    for (size_t i = 0; i < queries.size(); ++i)
        o.answers.push_back(
            pickDotAnswer(reader.messages(), static_cast<uint16_t>(kDnsQueryId + i)));
    if (isDnsReply(o.answers[0]) || o.answers[0].detail != "no answer")
        return;
    if (reader.malformed()) {
        o.stage.state = State::Fail;
        o.stage.detail = "bad stream";
        return;
    }
    missingAnswer(end, detail, o.stage);
}

void overDoh(TlsSession& s, const std::string& host, const std::vector<std::string>& queries,
             int32_t timeoutMs, SecureDnsOutcome& o) {
    // One request at a time: the next goes out only when the answer before it
    // is whole, so each reader sees exactly one response.
    for (size_t i = 0; i < queries.size(); ++i) {
        DohAnswerReader reader(0);
        std::string detail;
        const bool last = i + 1 == queries.size();
        ReadEnd end = exchange(
            s, buildDohPost(host, queries[i], last), timeoutMs,
            [&](std::string_view bytes) {
                reader.feed(bytes);
                return reader.settled();
            },
            detail);
        if (end == ReadEnd::Closed) {
            reader.finish();
            if (reader.settled())
                end = ReadEnd::Settled;
        }
        o.answers.push_back(reader.answer());
        if (end != ReadEnd::Settled) {
            if (i == 0)
                missingAnswer(end, detail, o.stage);
            break;
        }
    }
    while (o.answers.size() < queries.size()) {
        DnsAnswerSet none;
        none.detail = "no answer";
        o.answers.push_back(none);
    }
}

std::string layerDetail(const char* layer, const StageOutcome& st) {
    return std::string(layer) + ": " +
           (st.detail.empty() ? std::string(stateWord(st.state)) : st.detail);
}

} // namespace

SecureDnsOutcome querySecureDns(DnsTransport t, const SecureDnsTarget& target,
                                const std::vector<std::string>& names, int32_t timeoutMs) {
    const auto start = clockNow();
    SecureDnsOutcome o;
    o.stage.state = State::Fail;
    auto done = [&]() -> SecureDnsOutcome {
        o.stage.ms = elapsedMs(start);
        return std::move(o);
    };
    Ipv4Address addr;
    std::vector<std::string> queries;
    for (size_t i = 0; i < names.size(); ++i) {
        const uint16_t id = t == DnsTransport::Dot ? static_cast<uint16_t>(kDnsQueryId + i) : 0;
        std::string q;
        if (!buildDnsQueryWithId(names[i], id, q))
            break;
        queries.push_back(std::move(q));
    }
    if (names.empty() || queries.size() != names.size() ||
        !parseIPv4(target.address, addr.addrBe)) {
        o.stage.detail = "bad name";
        return done();
    }

    TcpOutcome tcp =
        connectWithTimeout(addr, t == DnsTransport::Dot ? kDotPort : kDohPort, timeoutMs);
    if (!tcp.socket.valid()) {
        o.stage.state = tcp.stage.state;
        o.stage.detail = layerDetail("TCP", tcp.stage);
        return done();
    }
    TlsSession session;
    session.socket = tcp.socket.get();
    const TlsOutcome tls = tlsHandshake(session, target.serverName);
    if (tls.stage.state != State::Ok) {
        o.stage.state = tls.stage.state;
        o.stage.detail = layerDetail("TLS", tls.stage);
        return done();
    }
    const CertOutcome cert = tlsCertificateStep(session, target.serverName);
    if (!cert.ok) {
        o.stage.detail =
            cert.name.empty() ? "no certificate" : "bad certificate (" + cert.name + ")";
        return done();
    }

    o.stage.detail.clear();
    if (t == DnsTransport::Dot)
        overDot(session, queries, timeoutMs, o);
    else
        overDoh(session, target.serverName, queries, timeoutMs, o);
    if (o.stage.detail.empty()) {
        o.stage.state = o.answers[0].state;
        o.stage.detail = o.answers[0].detail;
    }
    o.answered = isDnsReply(o.answers[0]);
    tcp.socket.close();
    return done();
}

} // namespace tv
