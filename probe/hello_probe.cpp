// The hello probe's socket work. Its only ties to the rest of the engine are
// connectWithTimeout (net.h), the socket shim (sock.h) and the error texts
// (errors.h).
#include "probe/hello_probe.h"

#include <chrono>
#include <vector>

#include "probe/errors.h"
#include "probe/net.h"

namespace tv {
namespace {

using SteadyClock = std::chrono::steady_clock;

int32_t msSince(SteadyClock::time_point start) {
    return static_cast<int32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
}

void finish(HelloProbeResult& r, State o, std::string detail) {
    r.tls.state = o;
    r.tls.detail = std::move(detail);
}

// Reads until the first record is complete, the peer goes away or the time
// is up; classifies what came.
void awaitReply(SocketHandle s, int32_t timeoutMs, SteadyClock::time_point start,
                HelloProbeResult& r) {
    std::string in;
    std::vector<char> buf(16384);
    for (;;) {
        const int32_t left = timeoutMs - msSince(start);
        // A zero receive time-out would mean "wait for ever" to both shims.
        if (left <= 0 || sockSetIoTimeouts(s, left) != 0) {
            finish(r, State::Timeout, in.empty() ? "no reply" : "incomplete reply");
            return;
        }
        int err = 0;
        const long n = sockRecv(s, buf.data(), buf.size(), err);
        if (n > 0) {
            in.append(buf.data(), static_cast<size_t>(n));
            const ServerRecord rec = readServerRecord(in);
            r.reply = rec.kind;
            switch (rec.kind) {
            case ServerRecordKind::Incomplete:
                continue;
            case ServerRecordKind::ServerHello:
                return finish(r, State::Ok, "server hello");
            case ServerRecordKind::HelloRetryRequest:
                return finish(r, State::Ok, "hello retry request");
            case ServerRecordKind::Alert: {
                r.alertDescription = rec.alertDescription;
                std::string d = "alert " + std::to_string(rec.alertDescription);
                if (const std::string_view name = alertName(rec.alertDescription); !name.empty())
                    d += " (" + std::string(name) + ")";
                return finish(r, State::Alert, std::move(d));
            }
            case ServerRecordKind::Other:
                return finish(r, State::Fail, "not a TLS handshake reply");
            }
        }
        if (n == 0 || err == 0)
            return finish(r, State::Reset, "closed by peer");
        if (err == kWsaTimedOut || err == kWsaWouldBlock)
            return finish(r, State::Timeout, in.empty() ? "no reply" : "incomplete reply");
        return finish(r, State::Reset, socketErrorText(err));
    }
}

// Builds the hello; false (with the outcome written) when it cannot be built.
bool buildFor(const HelloOptions& options, std::string& hello, HelloProbeResult& r) {
    if (!buildClientHello(options, hello)) {
        finish(r, State::Fail, "no hello: name too long or no random bytes");
        return false;
    }
    r.helloSize = hello.size();
    return true;
}

void sendAndAwait(SocketHandle s, const std::string& hello, int32_t timeoutMs,
                  HelloProbeResult& r) {
    const auto start = SteadyClock::now();
    int err = 0;
    if (!sendAll(s, hello, err))
        finish(r, State::Reset, err ? socketErrorText(err) : "closed by peer");
    else
        awaitReply(s, timeoutMs, start, r);
    r.tls.ms = msSince(start);
}

} // namespace

HelloProbeResult probeHello(const HelloProbeRequest& request) {
    HelloProbeResult r;
    // Built first: a hello that cannot be built costs no connection.
    std::string hello;
    if (!buildFor(request.hello, hello, r))
        return r;
    Ipv4Address addr;
    addr.addrBe = request.addrBe;
    TcpOutcome tcp = connectWithTimeout(addr, request.port, request.timeoutMs);
    r.tcp = tcp.stage;
    if (!tcp.socket.valid()) {
        r.tls.detail = r.tcp.detail; // what the TCP step wrote
        return r;
    }
    sendAndAwait(tcp.socket.get(), hello, request.timeoutMs, r);
    return r;
}

HelloProbeResult probeHelloOnSocket(SocketHandle s, const HelloOptions& options,
                                    int32_t timeoutMs) {
    HelloProbeResult r;
    std::string hello;
    if (buildFor(options, hello, r))
        sendAndAwait(s, hello, timeoutMs, r);
    return r;
}

} // namespace tv
