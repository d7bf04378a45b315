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

// Returns the status code (> 0, or whatever number the line held), 0 when no
// status line was read (`detail` says why: "read timeout", "closed",
// "no status line"), or -1 when the request could not be prepared or sent
// ("stream sizes", "0x%08X", "WSA %d"). `detail` is empty on entry.
int32_t httpGetStatus(TlsSession& s, const std::string& hostValue, int32_t timeoutMs,
                      std::string& detail);

} // namespace tv
