#include "bridge/runs.h"

#include <algorithm>
#include <memory>
#include <system_error>
#include <thread>

#include "app/log.h"
#include "bridge/dispatcher.h"
#include "bridge/protocol.h"
#include "bridge/state.h"
#include "bridge/ui_sink.h"

namespace tv {
namespace {

RunEngine& engineStorage() {
    static RunEngine e;
    return e;
}

// The engine a run uses: the stored one, its gaps filled with the real engine.
RunEngine currentEngine() {
    RunEngine e = engineStorage();
    if (!e.probe)
        e.probe = probeTarget;
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
    int32_t timeoutMs = kMinTimeoutMs;
    int32_t workers = kMinWorkers;
    bool doHttp = false;
    RunEngine engine;
    std::atomic<uint64_t> next{0}; // the shared job counter
};

struct BasicRun {
    int32_t runId = 0;
    int32_t timeoutMs = kMinTimeoutMs;
    RunEngine engine;
};

// Ends a run: the cancel flag as it is now is the run's outcome; busy is
// released before `done` so the page may start the next run right away.
void finishRun(int32_t runId) {
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
        const uint64_t i = run.next.fetch_add(1);
        if (i >= run.jobs.size())
            return;
        const ProbeJob& job = run.jobs[static_cast<size_t>(i)];
        const ProbeResult r = run.engine.probe(job.host, job.sni, run.doHttp, run.timeoutMs);
        // A cancel seen now drops this result: the page has moved on.
        if (cancelFlag().load())
            return;
        postUiMessage(buildRes(run.runId, i, r));
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

int32_t boundScanTimeout(int32_t ms) { return std::clamp(ms, kMinTimeoutMs, kMaxScanTimeoutMs); }
int32_t boundBasicsTimeout(int32_t ms) {
    return std::clamp(ms, kMinTimeoutMs, kMaxBasicsTimeoutMs);
}
int32_t boundWorkerCount(int32_t n) { return std::clamp(n, kMinWorkers, kMaxWorkers); }

RunStart startScan(int32_t runId, std::vector<ProbeJob> jobs, int32_t timeoutMs,
                   int32_t workerCount, bool doHttp) {
    if (!takeBusy(runId))
        return RunStart::busy;
    cancelFlag().store(false);
    auto run = std::make_unique<ScanRun>();
    run->runId = runId;
    run->jobs = std::move(jobs);
    if (run->jobs.size() > kMaxJobs)
        run->jobs.resize(kMaxJobs);
    run->timeoutMs = boundScanTimeout(timeoutMs);
    run->workers = boundWorkerCount(workerCount);
    run->doHttp = doHttp;
    run->engine = currentEngine();
    return startDetached(runId, "Скан",
                         [r = std::move(run)]() mutable { scanPool(std::move(r)); });
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

void setRunEngine(RunEngine engine) { engineStorage() = std::move(engine); }

void injectThreadStartFailures(int succeed, int fail) {
    gInjectSucceed.store(succeed);
    gInjectFail.store(fail);
}

} // namespace tv
