// The HTTP stage of a probe: one GET for "/" through a completed TLS session,
// read only until the status line has arrived.
#pragma once

#include <cstdint>
#include <string>

#include "probe/tls.h"

namespace tv {

// Most decrypted bytes looked at for a status line. A peer that streams data
// without a line break is cut off here instead of growing memory until the
// deadline.
inline constexpr size_t kStatusLineMax = 16384;

struct HttpOutcome {
    // Ok when a positive status code was read; Timeout when the answer did
    // not come within the time-out; Fail otherwise. The request's duration.
    StageOutcome stage;
    // The number the status line held (> 0 with Ok; may be 0 or negative when
    // the line held such a number), 0 when no status line was read, -1 when
    // the request could not be prepared or sent.
    int32_t code = 0;
    // The connection may carry more: not closed, reset or broken by the peer.
    bool connectionOpen = true;
};

// Sends the GET and reads until the status line. On failure the detail says
// why: "read timeout", "closed", "no status line" when nothing was read;
// "stream sizes", "0x%08X", "WSA %d" when the request could not go out; it is
// empty when a status line held a number that is no status code.
// `keepAlive` asks the server to keep the connection for the requests that a
// later stage sends; `followUp` (requests of that stage) goes out in the same
// write, so their answers are on the way while the status line is read.
// Without either the request is exactly the fixed one. Every decrypted byte
// read stays in the session's `plainIn`.
HttpOutcome httpGetStatus(TlsSession& s, const std::string& hostValue, int32_t timeoutMs,
                          bool keepAlive = false, std::string_view followUp = {});

} // namespace tv
