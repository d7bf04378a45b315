// The transfer stage: after the status line, on the same TLS session, enough
// data in each direction to cross the point where some filters freeze a
// connection (about 16-20 KB) or throttle it, so a destination that answers
// its first request but stops after a few packets is not taken for a good
// one. A separate finding beside the verdict, never a verdict of its own.
//
// Download: the first answer is read whole; its size sets how many more
// keep-alive GETs are pipelined in one go to ask for the volume; reading ends
// at the volume, when the server ends the stream, or when nothing arrives for
// the stall time. Upload: a POST with the volume as its body; its progress is
// what the peer's TCP acknowledged (TCP_INFO / SIO_TCP_INFO). Where the system
// cannot tell (Wine, Windows before 10 1703) the upload is judged by the
// server's answer after the body, and the finding says so (`upByAcks`).
#pragma once

#include <string>

#include "probe/tls.h"
#include "probe/transfer_finding.h"

namespace tv {

struct XferRequest {
    std::string hostValue;  // the Host header: the SNI, or the host without one
    int32_t stallMs = 4000; // the probe's time-out
    bool download = true;   // the server answered the first GET with a status line
    size_t getsSent = 1;    // GETs the HTTP stage sent, the first and its followers
};

// Runs both directions on the session (after httpGetStatus with keep-alive,
// whose decrypted bytes are in `plainIn`). The socket has blocking I/O with
// time-outs; this stage sets them to what each wait needs.
XferFinding runTransfer(TlsSession& s, const XferRequest& request);

} // namespace tv
