// The TLS stage of a probe: the handshake over a connected socket, the
// certificate step, and the session the HTTP request then uses. Socket I/O
// and classification live here; the TLS library sits behind tls_backend.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "probe/sock.h"
#include "probe/tls_backend.h"

namespace tv {

// One per probe, created after TCP succeeded, released before the probe returns.
struct TlsSession {
    SocketHandle socket = kInvalidSocket; // connected, with I/O time-outs; not owned
    TlsBackendPtr backend;                // null until the handshake created it
    std::string pendingInput;             // received bytes not yet consumed
};

// Each thread's receive buffer: allocated once per thread, reused by every
// handshake and HTTP read on that thread.
inline constexpr size_t kRecvBufferSize = 16384;
char* threadRecvBuffer();

// Runs the client handshake; returns "ok", "alert", "reset", "timeout" or
// "fail" and writes `detail` only on failure. Each receive is bounded by the
// socket's receive time-out; there is no overall deadline.
std::string tlsHandshake(TlsSession& s, const std::string& sni, std::string& detail);

// The certificate step after an "ok" handshake. Failures are silent: `cert`
// stays empty and/or `certOk` false.
void tlsCertificateStep(TlsSession& s, const std::string& sni, std::string& cert, bool& certOk);

// A certificate name as shown: up to the first NUL, valid UTF-8, at most 255
// UTF-16 code units (a surrogate pair is never split).
std::string certDisplayName(std::string_view raw);

} // namespace tv
