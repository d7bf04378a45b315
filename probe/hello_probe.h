// The hello probe: TCP to an address, one browser-shaped ClientHello, and the
// server's first TLS record, read within a time-out; then the connection is
// closed, so the handshake never completes. It tells whether a path answers a
// browser's hello (a DPI box that filters by hello shape or by SNI answers it
// with a reset, a forged alert or silence) without a TLS library in the way.
// Same behaviour on every platform: only the socket shim is used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "probe/hello.h"
#include "probe/hello_reply.h"
#include "probe/sock.h"
#include "probe/stage.h"

namespace tv {

struct HelloProbeRequest {
    uint32_t addrBe = 0; // IPv4, network byte order
    uint16_t port = 443;
    HelloOptions hello;
    int32_t timeoutMs = 5000; // for the connect, and again for the wait for a reply
};

struct HelloProbeResult {
    StageOutcome tcp; // as the TCP stage reports it
    // The hello's outcome in the voice of the TLS stage: Ok (a ServerHello or
    // HelloRetryRequest came back), Alert, Reset (a reset, or a close before a
    // whole record), Timeout (no whole record in time), Fail (no hello could be
    // built, or the reply is no TLS handshake reply), Skip (TCP failed: no
    // hello was sent). `ms` runs from the send of the hello to the outcome; the
    // detail is short English: "server hello", "hello retry request",
    // "alert 40 (handshake_failure)", "closed by peer", "no reply", "WSA 10054".
    StageOutcome tls;
    ServerRecordKind reply = ServerRecordKind::Incomplete;
    int alertDescription = -1; // Alert only
    size_t helloSize = 0;      // bytes of the hello sent
};

HelloProbeResult probeHello(const HelloProbeRequest& request);

// The hello and the wait for its reply on a connection the caller opened and
// closes (the TLS stage of a probe that already made its TCP connection);
// `tcp` of the result stays Skip.
HelloProbeResult probeHelloOnSocket(SocketHandle s, const HelloOptions& hello, int32_t timeoutMs);

} // namespace tv
