// The browser hellos inside probeTarget: as the TLS stage (modes Chrome and
// Firefox) and as the comparison after the library's handshake (mode All).
#pragma once

#include <cstdint>
#include <string>

#include "probe/net.h"
#include "probe/result.h"

namespace tv {

// Sends the mode's browser hello over the probe's own connection and writes
// its outcome as the TLS stage (tls, tlsMs, tlsDetail, tlsReason) and into
// the finding. `mode` must be Chrome or Firefox.
void runHelloAsTls(ProbeResult& r, const Socket& sock, const std::string& sni, HelloMode mode,
                   int32_t timeoutMs);

// The comparison: one Chrome and one Firefox hello to `addr`, each on a
// fresh connection, after the probe's own TCP succeeded. A fresh connection
// that fails is the shape's outcome ("TCP: " + the TCP word and detail).
void runHelloComparison(ProbeResult& r, Ipv4Address addr, const std::string& sni,
                        int32_t timeoutMs);

} // namespace tv
