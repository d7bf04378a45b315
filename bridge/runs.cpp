#include "bridge/runs.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "base/log.h"
#include "bridge/protocol.h"
#include "bridge/state.h"
#include "bridge/ui_sink.h"
#include "probe/sock.h"
#include "probe/tcp_sweep.h"

namespace tv {
namespace {

RunEngine& engineStorage() {
    static RunEngine e;
    return e;
}

// The engine a run uses: the stored one, its gaps filled with the real engine.
RunEngine currentEngine() {
    RunEngine e = engineStorage();
    if (!e.probe) {
        e.probe = [](const ProbeJob& j, const ProbeOptions& o) { return probeTarget(j, o); };
        if (!e.tcpSweep)
            e.tcpSweep = sweepTcp;
        if (!e.resolveNames)
            e.resolveNames = [](const std::vector<std::string>& names, int32_t threads) {
                return resolveNames(names, threads);
            };
    }
    if (!e.basicChecks)
        e.basicChecks = runBasicChecks;
    if (!e.ipInfo)
        e.ipInfo = fetchIpInfo;
    return e;
}

std::atomic<int> gInjectSucceed{0};
std::atomic<int> gInjectFail{0};

// std::thread, with the test's injected refusals in front of it.
template <class F> std::thread startThread(F&& f) {
    if (gInjectFail.load() > 0) {
        if (gInjectSucceed.load() > 0) {
            gInjectSucceed.fetch_sub(1);
        } else {
            gInjectFail.fetch_sub(1);
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "injected");
        }
    }
    return std::thread(std::forward<F>(f));
}

struct ScanRun {
    int32_t runId = 0;
    std::vector<ProbeJob> jobs;
    ProbeOptions options;
    int32_t workers = kMinWorkers;
    RunEngine engine;
    std::atomic<uint64_t> next{0}; // the shared job counter
    // With the TCP pre-phase: the addresses swept, the jobs of each, and the
    // queue of jobs ready to probe that the sweep feeds.
    bool queued = false;
    std::vector<uint32_t> sweepAddrs;
    std::vector<std::vector<size_t>> sweepJobs;
    std::mutex m;
    std::condition_variable cv;
    std::deque<size_t> ready;
    bool feeding = false;
};

bool tcpSweepOff() {
    const char* v = std::getenv("TV_NO_TCP_SWEEP");
    return v != nullptr && *v != '\0' && std::string_view(v) != "0";
}

// Finds each job's address: a literal as it is, a name through the engine's
// resolver (each name once) when it has one. Jobs with an address wait for
// the sweep; the others are ready at once.
void planTcpSweep(ScanRun& run) {
    std::vector<uint32_t> addrOf(run.jobs.size(), 0);
    std::vector<bool> known(run.jobs.size(), false);
    std::map<std::string, std::vector<size_t>> names;
    for (size_t i = 0; i < run.jobs.size(); ++i) {
        if (parseIPv4(run.jobs[i].host, addrOf[i]))
            known[i] = true;
        else if (run.engine.resolveNames)
            names[run.jobs[i].host].push_back(i);
    }
    if (!names.empty()) {
        std::vector<std::string> list;
        for (const auto& kv : names)
            list.push_back(kv.first);
        const std::vector<uint32_t> found = run.engine.resolveNames(list, run.workers);
        size_t k = 0;
        for (const auto& kv : names) {
            const uint32_t a = k < found.size() ? found[k] : 0;
            ++k;
            if (a == 0)
                continue;
            for (size_t i : kv.second) {
                addrOf[i] = a;
                known[i] = true;
            }
        }
    }
    std::map<uint32_t, std::vector<size_t>> byAddr;
    for (size_t i = 0; i < run.jobs.size(); ++i)
        if (known[i])
            byAddr[addrOf[i]].push_back(i);
    for (auto& [addr, idx] : byAddr) {
        run.sweepAddrs.push_back(addr);
        run.sweepJobs.push_back(std::move(idx));
    }
    {
        std::lock_guard<std::mutex> lock(run.m);
        for (size_t i = 0; i < run.jobs.size(); ++i)
            if (!known[i])
                run.ready.push_back(i);
    }
    run.cv.notify_all();
}

void postResult(const ScanRun& run, size_t i, const ProbeResult& r) {
    // A cancel seen now drops this result: the page has moved on.
    if (!cancelFlag().load())
        postUiMessage(buildRes(run.runId, i, r));
}

// The pool thread's part of the pre-phase: the addresses, the sweep, its
// outcomes into the queue (or, for a failed connect, straight into results),
// then the end of feeding.
void feedFromSweep(ScanRun& run) {
    planTcpSweep(run);
    if (!run.sweepAddrs.empty() && !cancelFlag().load()) {
        run.engine.tcpSweep(run.sweepAddrs, 443, run.options.timeoutMs, cancelFlag(),
                            [&run](size_t a, const StageOutcome& tcp) {
                                const std::vector<size_t>& idx = run.sweepJobs.at(a);
                                if (tcp.state != State::Ok) {
                                    for (size_t i : idx)
                                        postResult(run, i,
                                                   tcpSharedResult(run.jobs[i], run.options, tcp));
                                    return;
                                }
                                {
                                    std::lock_guard<std::mutex> lock(run.m);
                                    run.ready.insert(run.ready.end(), idx.begin(), idx.end());
                                }
                                run.cv.notify_all();
                            });
    }
    {
        std::lock_guard<std::mutex> lock(run.m);
        run.feeding = false;
    }
    run.cv.notify_all();
}

// The next job to probe, or false when there is none left.
bool takeJob(ScanRun& run, size_t& i) {
    if (!run.queued) {
        const uint64_t n = run.next.fetch_add(1);
        if (n >= run.jobs.size())
            return false;
        i = static_cast<size_t>(n);
        return true;
    }
    std::unique_lock<std::mutex> lock(run.m);
    run.cv.wait(lock, [&run] { return !run.ready.empty() || !run.feeding; });
    if (run.ready.empty())
        return false;
    i = run.ready.front();
    run.ready.pop_front();
    return true;
}

struct BasicRun {
    int32_t runId = 0;
    int32_t timeoutMs = kMinTimeoutMs;
    RunEngine engine;
};

// Ends a run, last thing on its thread: the cancel flag as it is now is the
// run's outcome; busy is released before `done` so the page may start the
// next run right away.
void finishRun(int32_t runId) {
    endProbeThread();
    const bool cancelled = cancelFlag().load();
    busyFlag().store(false);
    postUiMessage(buildDone(runId, cancelled));
}

bool takeBusy(int32_t runId) {
    if (busyFlag().exchange(true)) {
        postNotice(kBusyNotice);
        postUiMessage(buildDone(runId, true));
        return false;
    }
    return true;
}

void scanWorker(ScanRun& run) {
    for (;;) {
        if (cancelFlag().load())
            return;
        size_t i = 0;
        if (!takeJob(run, i))
            return;
        const ProbeJob& job = run.jobs[i];
        const ProbeResult r = run.engine.probe(job, run.options);
        postResult(run, i, r);
    }
}

void scanPool(std::unique_ptr<ScanRun> run) {
    std::vector<std::thread> workers;
    workers.reserve(static_cast<size_t>(run->workers));
    std::string failure;
    for (int32_t k = 0; k < run->workers; ++k) {
        try {
            workers.push_back(startThread([r = run.get()] { scanWorker(*r); }));
        } catch (const std::system_error& e) {
            failure = e.what();
        }
    }
    if (!failure.empty())
        logLine("Скан #" + std::to_string(run->runId) + ": std::thread ERROR (" + failure +
                "), потоков " + std::to_string(workers.size()) + " из " +
                std::to_string(run->workers));
    if (run->queued)
        feedFromSweep(*run);
    // The jobs still get done when the system refused every worker.
    if (workers.empty())
        scanWorker(*run);
    for (std::thread& t : workers)
        t.join();
    const int32_t runId = run->runId;
    run.reset();
    finishRun(runId);
}

void basicRunThread(std::unique_ptr<BasicRun> run) {
    const int32_t runId = run->runId;
    run->engine.basicChecks(
        run->timeoutMs,
        [runId](const NetCheckResult& n) {
            if (!cancelFlag().load())
                postUiMessage(buildNet(runId, n));
        },
        cancelFlag());
    // The lookup is waited for even after a cancel; only its message is dropped.
    const std::string body = run->engine.ipInfo(run->timeoutMs);
    if (!cancelFlag().load())
        postUiMessage(buildIpInfo(runId, body));
    run.reset();
    finishRun(runId);
}

// Starts `body` detached; on refusal releases the run so later runs are not
// refused forever, and still gives the page its `done`.
template <class F> RunStart startDetached(int32_t runId, const char* what, F&& body) {
    try {
        startThread(std::forward<F>(body)).detach();
        return RunStart::started;
    } catch (const std::system_error& e) {
        logLine(std::string(what) + " #" + std::to_string(runId) + ": std::thread ERROR (" +
                e.what() + ")");
        busyFlag().store(false);
        postUiMessage(buildDone(runId, true));
        return RunStart::failed;
    }
}

} // namespace

int32_t boundScanTimeout(int32_t ms) {
    return std::clamp(ms, kMinTimeoutMs, kMaxScanTimeoutMs);
}
int32_t boundBasicsTimeout(int32_t ms) {
    return std::clamp(ms, kMinTimeoutMs, kMaxBasicsTimeoutMs);
}
int32_t boundWorkerCount(int32_t n) {
    return std::clamp(n, kMinWorkers, kMaxWorkers);
}

RunStart startScan(int32_t runId, std::vector<ProbeJob> jobs, ProbeOptions options,
                   int32_t workerCount) {
    if (!takeBusy(runId))
        return RunStart::busy;
    cancelFlag().store(false);
    auto run = std::make_unique<ScanRun>();
    run->runId = runId;
    run->jobs = std::move(jobs);
    if (run->jobs.size() > kMaxJobs)
        run->jobs.resize(kMaxJobs);
    run->options = options;
    run->options.timeoutMs = boundScanTimeout(options.timeoutMs);
    run->options.repeat = boundRepeat(options.repeat);
    run->options.stop = &cancelFlag(); // a cancel ends a job's series of tries
    run->workers = boundWorkerCount(workerCount);
    run->engine = currentEngine();
    // Repeated tries each open a connection of their own: an uneven filter may
    // let one through that a single shared connect missed, so they skip the
    // pre-phase.
    run->queued = run->engine.tcpSweep && !tcpSweepOff() && !run->jobs.empty() &&
                  run->options.repeat == 1;
    run->feeding = run->queued;
    return startDetached(runId, "Скан", [r = std::move(run)]() mutable { scanPool(std::move(r)); });
}

RunStart startBasics(int32_t runId, int32_t timeoutMs) {
    if (!takeBusy(runId))
        return RunStart::busy;
    cancelFlag().store(false);
    auto run = std::make_unique<BasicRun>();
    run->runId = runId;
    run->timeoutMs = boundBasicsTimeout(timeoutMs);
    run->engine = currentEngine();
    return startDetached(runId, "Базовые проверки сети",
                         [r = std::move(run)]() mutable { basicRunThread(std::move(r)); });
}

void setRunEngine(RunEngine engine) {
    engineStorage() = std::move(engine);
}

void injectThreadStartFailures(int succeed, int fail) {
    gInjectSucceed.store(succeed);
    gInjectFail.store(fail);
}

} // namespace tv
