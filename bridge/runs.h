// Scan runs and basic-test runs: the work that continues on other threads
// after a page command returns.
//
// At most one run of either kind exists at a time (the busy flag). A scan run
// is one pool thread plus 1 to 48 workers sharing an atomic job counter; each
// finished job is posted as a `res`, then the pool posts `done`.
//
// TCP pre-phase: the pool thread first finds every job's address (literals
// as they are, names looked up once each, several at a time) and connects to
// all those addresses at once (sweepTcp), so a connect does not hold a worker
// while it waits and each address is connected once however many names the
// run sends to it (the matrix). Jobs without an address are probed from the
// start; the jobs of an address join the workers' queue as soon as its
// connect succeeds, and the jobs of an address whose connect failed are
// posted with that outcome (tcpShared) without a probe. Then workers take jobs from that queue (a
// mutex and a condition variable) instead of the counter. The environment
// variable TV_NO_TCP_SWEEP=1 turns the pre-phase off. A basic-test
// run is one thread posting a `net` per check, one `ipinfo`, then `done`.
// `done` is always the last message of its run, and the busy flag is cleared
// just before it is posted, so a run requested as soon as the page sees
// `done` is accepted. Without the pre-phase no locks: the cancel flag, the busy
// flag and the job counter are the only shared mutable state.
//
// The window's dispatcher and the command-line front both start runs here.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "probe/probe.h"
#include "probe/result.h"
#include "probe/stage.h"

namespace tv {

inline constexpr int32_t kMinTimeoutMs = 500;
inline constexpr int32_t kMaxScanTimeoutMs = 60000;
inline constexpr int32_t kMaxBasicsTimeoutMs = 30000;
inline constexpr int32_t kMinWorkers = 1;
inline constexpr int32_t kMaxWorkers = 48;

// The notice (and the log words) of a refused run.
inline constexpr std::string_view kBusyNotice = "Сканирование уже идёт";

int32_t boundScanTimeout(int32_t ms);   // 500..60000
int32_t boundBasicsTimeout(int32_t ms); // 500..30000
int32_t boundWorkerCount(int32_t n);    // 1..48

enum class RunStart {
    started, // the run is going; its messages and its `done` follow
    busy,    // another run is going: the busy notice and `done`(cancelled) were posted
    failed,  // no thread could be started: `done`(cancelled) was posted, busy is clear
};

// Starts a scan run and returns at once (UI thread, or the command-line
// front's main thread). The timeout and the worker count are bounded here;
// the worker count is not reduced to the number of jobs (surplus workers end
// at once); jobs past kMaxJobs are dropped. An empty job list still runs and
// posts only `done`. Clears the cancel flag when the run is accepted. When
// some worker threads cannot be started the others share the jobs; when none
// can, the pool thread probes them itself.
RunStart startScan(int32_t runId, std::vector<ProbeJob> jobs, ProbeOptions options,
                   int32_t workerCount);

inline RunStart startScan(int32_t runId, std::vector<ProbeJob> jobs, int32_t timeoutMs,
                          int32_t workerCount, bool doHttp) {
    ProbeOptions o;
    o.timeoutMs = timeoutMs;
    o.http = doHttp;
    return startScan(runId, std::move(jobs), o, workerCount);
}

// Starts a basic-test run and returns at once. The timeout is bounded here.
// The IP-information lookup runs even after a cancel; its `ipinfo` is posted
// only when not cancelled.
RunStart startBasics(int32_t runId, int32_t timeoutMs);

// The network work a run calls. Runs capture the engine when they start, so
// swap it only while no run is going. Empty members mean the probe engine's
// own entry points (probeTarget, runBasicChecks, fetchIpInfo); tests and
// benchmarks put controllable fakes here.
struct RunEngine {
    std::function<ProbeResult(const ProbeJob& job, const ProbeOptions& options)> probe;
    std::function<void(int32_t timeoutMs,
                       const std::function<void(const NetCheckResult&)>& onResult,
                       const std::atomic<bool>& cancel)>
        basicChecks;
    std::function<std::string(int32_t timeoutMs)> ipInfo;
    // The TCP pre-phase of a scan (sweepTcp's shape). Left empty it is the
    // real sweep only where the probe is the real one too, so a fake probe
    // never meets a real connect.
    std::function<void(const std::vector<uint32_t>& addrsBe, int port, int32_t timeoutMs,
                       const std::atomic<bool>& cancel,
                       const std::function<void(size_t, const StageOutcome&)>& onOutcome)>
        tcpSweep;
    // The pre-phase's lookup of host names (resolveNames' shape); empty: names
    // skip the pre-phase. Filled like tcpSweep.
    std::function<std::vector<uint32_t>(const std::vector<std::string>& names, int32_t threads)>
        resolveNames;
};
void setRunEngine(RunEngine engine);

// Fault injection for tests: of the next thread starts made by runs, the
// first `succeed` go through and the `fail` after them throw std::system_error
// as std::thread does when the system refuses a thread. (0, 0) switches it off.
void injectThreadStartFailures(int succeed, int fail);

} // namespace tv
