// The probe record: one destination in (ProbeJob), its layered outcome out
// (ProbeResult), the closed vocabulary of state and verdict words, and the
// rule that condenses the stages into one verdict. Every word here crosses
// the wire to the page and into snapshots, so none may be reworded.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tv {

// State words written by the stages.
inline constexpr std::string_view kSkip = "skip";
inline constexpr std::string_view kOk = "ok";
inline constexpr std::string_view kNx = "nx";
inline constexpr std::string_view kTimeout = "timeout";
inline constexpr std::string_view kFail = "fail";
inline constexpr std::string_view kRefused = "refused";
inline constexpr std::string_view kReset = "reset";
inline constexpr std::string_view kAlert = "alert";

// Verdict words.
inline constexpr std::string_view kPass = "pass";
inline constexpr std::string_view kPartial = "partial";
inline constexpr std::string_view kReach = "reach";
inline constexpr std::string_view kDpi = "dpi";
inline constexpr std::string_view kBlocked = "blocked";

struct ProbeJob {
    std::string host; // a name to resolve, or an IPv4 literal used directly
    std::string sni;  // may be empty: no server name is sent
};

struct ProbeResult {
    std::string host;
    std::string sni;
    std::string ip;
    std::string dns{kSkip};
    int32_t dnsMs = -1;
    std::string tcp{kSkip};
    int32_t tcpMs = -1;
    std::string tls{kSkip};
    int32_t tlsMs = -1;
    std::string tlsDetail;
    std::string cert;
    bool certOk = false;
    std::string http{kSkip};
    int32_t httpMs = -1;
    int32_t httpCode = 0;
    std::string verdict{kBlocked};
};

// A fresh record for a job, with every field at its initial value.
ProbeResult makeProbeResult(std::string host, std::string sni);

// The verdict rule. `httpRequested` is the scan's HTTP flag.
std::string_view computeVerdict(const ProbeResult& r, bool httpRequested);

// Monotonic clock readings and whole elapsed milliseconds (truncated).
using Clock = std::chrono::steady_clock;
inline Clock::time_point clockNow() { return Clock::now(); }
int32_t elapsedMs(Clock::time_point start);
int32_t elapsedMs(Clock::time_point start, Clock::time_point end);

} // namespace tv
