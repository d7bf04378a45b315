// The probe record: one destination in (ProbeJob), its layered outcome out
// (ProbeResult), the closed vocabulary of state and verdict words, and the
// rule that condenses the stages into one verdict. Every word here crosses
// the wire to the page and into snapshots, so none may be reworded.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "probe/hello_finding.h"
#include "probe/stage.h"
#include "probe/transfer_finding.h"

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

// The swapped-DNS-answer check of a row (dns_forensics.h), when the probe
// was asked for it.
struct DnsCheckFinding {
    bool asked = false;       // the check was on: the record carries its keys
    std::string spoof{kSkip}; // "skip", "yes", "no", "fail"
    std::string genuine;      // with "yes": the address with the valid certificate
    std::string via;          // the encrypted resolver that answered: "dot 77.88.8.8"
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
    DnsCheckFinding dnsCheck;
    // Not on the wire: the portable reason of a failed handshake.
    TlsReason tlsReason = TlsReason::None;
    // The transfer test, when it was asked for (its keys follow `verdict`).
    bool xferRan = false;
    XferFinding xfer;
    // The browser hellos, when a mode other than Lib asked for them (their
    // keys follow `verdict`).
    HelloFinding hello;
    // Repeated tries of the job (repeatProbe): how many ran and how many of
    // them passed ("pass" or "reach"). The record's other fields are the last
    // try's. One try carries no such keys on the wire.
    int32_t tries = 1;
    int32_t passes = 0;
    // The TCP outcome was measured once for the address and given to every
    // job of it (a key after all others, only when set).
    bool tcpShared = false;
};

// A fresh record for a job, with every field at its initial value.
ProbeResult makeProbeResult(std::string host, std::string sni);

// The verdict rule. `httpRequested` is the scan's HTTP flag.
std::string_view computeVerdict(const ProbeResult& r, bool httpRequested);

// "pass" and "reach": the verdicts a try counts as passed.
bool passingVerdict(std::string_view verdict);

// Tries per job: at least one, at most kMaxRepeat.
inline constexpr int32_t kMaxRepeat = 10;
int32_t boundRepeat(int32_t n);

// Monotonic clock readings and whole elapsed milliseconds (truncated).
using Clock = std::chrono::steady_clock;
inline Clock::time_point clockNow() {
    return Clock::now();
}
int32_t elapsedMs(Clock::time_point start);
int32_t elapsedMs(Clock::time_point start, Clock::time_point end);

} // namespace tv
