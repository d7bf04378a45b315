// The TLS stage of a probe: the handshake over a connected socket, the
// certificate step, and the session the HTTP request then uses. Socket I/O
// and classification live here; the TLS library sits behind tls_backend.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "probe/sock.h"
#include "probe/stage.h"
#include "probe/tls_backend.h"

namespace tv {

// One per probe, created after TCP succeeded, released before the probe returns.
struct TlsSession {
    SocketHandle socket = kInvalidSocket; // connected, with I/O time-outs; not owned
    TlsBackendPtr backend;                // null until the handshake created it
    std::string pendingInput;             // received bytes not yet consumed
    std::string plainIn; // decrypted application data a later stage has not consumed
    uint64_t rawIn = 0;  // bytes received on the connection, handshake included
    uint64_t rawOut = 0; // bytes handed to the connection, handshake included
};

// One receive into the thread buffer, appended to `pendingInput` and counted:
// > 0 bytes, 0 on an orderly close, -1 with `err` (a Winsock number).
long sessionReceive(TlsSession& s, int& err);

// Sends everything and counts it; false (with `err`) at the first failed send.
bool sessionSend(TlsSession& s, std::string_view data, int& err);

// Each thread's receive buffer: allocated once per thread, reused by every
// handshake and HTTP read on that thread.
inline constexpr size_t kRecvBufferSize = 16384;
char* threadRecvBuffer();

struct TlsOutcome {
    StageOutcome stage; // Ok, Alert, Reset, Timeout or Fail; the handshake's duration
    TlsReason reason = TlsReason::None;
};

// Runs the client handshake. The detail is set only on failure. Each receive
// is bounded by the socket's receive time-out; there is no overall deadline.
TlsOutcome tlsHandshake(TlsSession& s, const std::string& sni);

struct CertOutcome {
    std::string name; // display name; empty when no certificate could be read
    bool ok = false;
};

// The certificate step after an Ok handshake. Failures are silent: the name
// stays empty and/or `ok` false.
CertOutcome tlsCertificateStep(TlsSession& s, const std::string& sni);

// A certificate name as shown: up to the first NUL, valid UTF-8, at most 255
// UTF-16 code units (a surrogate pair is never split).
std::string certDisplayName(std::string_view raw);

} // namespace tv
