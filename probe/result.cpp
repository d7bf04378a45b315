#include "probe/result.h"

#include <limits>

namespace tv {

ProbeResult makeProbeResult(std::string host, std::string sni) {
    ProbeResult r;
    r.host = std::move(host);
    r.sni = std::move(sni);
    return r;
}

std::string_view computeVerdict(const ProbeResult& r, bool httpRequested) {
    // DNS failure leaves tcp at "skip", so one test covers both lower layers.
    if (r.tcp != kOk)
        return kBlocked;
    if (r.tls == kOk)
        return (httpRequested && r.http != kOk) ? kPartial : kPass;
    if (r.tls == kAlert)
        return kReach;
    if (r.tls == kReset || r.tls == kTimeout || r.tls == kFail)
        return kDpi;
    return kBlocked;
}

bool passingVerdict(std::string_view verdict) {
    return verdict == kPass || verdict == kReach;
}

int32_t boundRepeat(int32_t n) {
    return n < 1 ? 1 : n > kMaxRepeat ? kMaxRepeat : n;
}

int32_t elapsedMs(Clock::time_point start, Clock::time_point end) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
    const auto ms = ns / 1000000; // truncation toward zero
    if (ms > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(ms);
}

int32_t elapsedMs(Clock::time_point start) {
    return elapsedMs(start, clockNow());
}

} // namespace tv
