// Placeholder entry points until the network backends land: every probe
// reports that the engine is missing instead of pretending to have probed.
#include "probe/probe.h"

namespace tv {

ProbeResult probeTarget(const std::string& host, const std::string& sni, bool, int32_t) {
    ProbeResult r = makeProbeResult(host, sni);
    r.dns = std::string(kFail);
    r.tlsDetail = "probe engine not built";
    return r;
}

void runBasicChecks(int32_t, const std::function<void(const NetCheckResult&)>&,
                    const std::atomic<bool>&) {}

std::string fetchIpInfo(int32_t) { return {}; }

} // namespace tv
