// The probe engine's entry points. Everything here is re-entrant and blocks
// only on the network, each wait bounded by the caller's time-out.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "probe/result.h"

namespace tv {

// Probes one destination layer by layer (resolve, TCP 443, TLS with `sni`,
// certificate, optional HTTP) and fills every field of the record.
ProbeResult probeTarget(const std::string& host, const std::string& sni, bool doHttp,
                        int32_t timeoutMs);

// One basic check of the local network.
struct NetCheckResult {
    std::string group;
    std::string name;
    std::string state;
    std::string detail;
    int32_t ms = -1;
};

// Runs the twelve basic checks in their fixed order on the calling thread,
// reporting each one through `onResult` before starting the next. Returns
// early (before a check) once `cancel` is set.
void runBasicChecks(int32_t timeoutMs, const std::function<void(const NetCheckResult&)>& onResult,
                    const std::atomic<bool>& cancel);

// Asks the IP-information service about our public address; the body as it
// came (UTF-8), or empty when the lookup failed.
std::string fetchIpInfo(int32_t timeoutMs);

} // namespace tv
