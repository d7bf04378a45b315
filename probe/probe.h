// The probe engine's entry points. Everything here is re-entrant and blocks
// only on the network, each wait bounded by the caller's time-out.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "probe/result.h"

namespace tv {

// What one probe is asked to do beyond the layers it always runs. Every
// further check has a member here, off unless the caller turns it on.
struct ProbeOptions {
    int32_t timeoutMs = 4000; // each wait on the network
    bool http = false;        // the HTTP request after the handshake
    bool xfer = false;        // the transfer test after the status line (transfer.h)
    // After a handshake whose certificate fails: is the system's DNS answer
    // swapped? (checkDnsAnswer, dns_forensics.h)
    bool dnsCheck = false;
    HelloMode hello = HelloMode::Lib; // which ClientHello the TLS stage sends (hello_finding.h)
    // Tries of the job, each a fresh connection after the previous one ended
    // (1..kMaxRepeat); `stop`, when given, ends the series between tries.
    int32_t repeat = 1;
    const std::atomic<bool>* stop = nullptr;
};

// Probes one destination layer by layer (resolve, TCP 443, TLS with the job's
// server name, certificate, optional HTTP) and fills every field of the record;
// with options.repeat above 1, that many times in a row (repeatProbe).
ProbeResult probeTarget(const ProbeJob& job, const ProbeOptions& options);

// Runs `once` up to `repeat` times, one after the other, and returns the last
// try's record with `tries` (the tries that ran) and `passes` filled in. A set
// `stop` ends the series after the try in progress.
ProbeResult repeatProbe(int32_t repeat, const std::function<ProbeResult()>& once,
                        const std::atomic<bool>* stop = nullptr);

inline ProbeResult probeTarget(const std::string& host, const std::string& sni, bool doHttp,
                               int32_t timeoutMs) {
    ProbeOptions o;
    o.timeoutMs = timeoutMs;
    o.http = doHttp;
    return probeTarget(ProbeJob{host, sni}, o);
}

// One basic check of the local network.
struct NetCheckResult {
    std::string group;
    std::string name;
    std::string state;
    std::string detail;
    int32_t ms = -1;
    // UDP/53 rows: "yes", "no" or "skip" (dns_forensics.h); empty on the
    // other rows, which then carry no such key.
    std::string intercept;
};

// Runs the twelve basic checks in their fixed order, then reports DoT and
// DoH to each public resolver (kBasicSecureChecks more), calling `onResult`
// on the calling thread, one result at a time, in that order. The encrypted
// checks run on helper threads beside the UDP/53 checks, which wait for
// their resolver's DoT answer to judge interception. Returns early (before a
// check is reported) once `cancel` is set, after the helpers have ended.
void runBasicChecks(int32_t timeoutMs, const std::function<void(const NetCheckResult&)>& onResult,
                    const std::atomic<bool>& cancel);

// Asks the IP-information service about our public address; the body as it
// came (UTF-8), or empty when the lookup failed.
std::string fetchIpInfo(int32_t timeoutMs);

// Frees what the TLS library keeps for the calling thread (OpenSSL's error
// queue). A thread that is not joined calls it after its last probe call and
// before it reports its end: the process may exit at that report, and state
// of a thread that outlives the library's own exit clean-up is never freed.
void endProbeThread();

} // namespace tv
