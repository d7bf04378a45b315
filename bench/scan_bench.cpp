// Scan-run throughput: one scan of many jobs on the full worker pool, through
// the same start and message path as the window (startScan, the `res`
// builder, the UI sink), against fast hosts of the network lab.
//
// It first times single probes one after another (the time of one probe),
// then the whole run, and prints the wall time against the ideal
//   jobs / workers x one probe's time
// as a ratio (1.00 = the pool adds nothing; the machine's cores, the lab's
// servers and the pool's overhead all push it up), with the peak resident
// memory. Figures only, never pass/fail on time.
//
// Probes leave the machine's loopback, so the program refuses to run outside
// the lab's client namespace: start it with tests/lab/in-lab.sh.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/log.h"
#include "bridge/protocol.h"
#include "bridge/runs.h"
#include "bridge/state.h"
#include "bridge/ui_sink.h"
#include "probe/probe.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int jobs = 3000;
    int workers = 48;
    int timeoutMs = 5000;
    int single = 30;
    bool http = false;
    std::vector<std::string> hosts{"ok.lab.test"};
};

// True when this process runs in the lab's client namespace (or only loopback
// hosts are asked for).
bool insideLab() {
    struct stat self {}, lab {};
    if (stat("/proc/self/ns/net", &self) != 0 || stat("/run/netns/tv-client", &lab) != 0)
        return false;
    return self.st_ino == lab.st_ino && self.st_dev == lab.st_dev;
}

bool onlyLoopback(const std::vector<std::string>& hosts) {
    return std::all_of(hosts.begin(), hosts.end(),
                       [](const std::string& h) { return h.rfind("127.", 0) == 0; });
}

long peakRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

std::vector<std::string> splitList(const char* s) {
    std::vector<std::string> out;
    std::string cur;
    for (const char* p = s;; ++p) {
        if (*p == ',' || *p == '\0') {
            if (!cur.empty())
                out.push_back(cur);
            cur.clear();
            if (*p == '\0')
                break;
        } else {
            cur += *p;
        }
    }
    return out;
}

int usage() {
    std::fprintf(stderr, "usage: scan_bench [--jobs N] [--workers N] [--timeout MS] [--single N]\n"
                         "                  [--http] [--hosts h1,h2,...]\n");
    return 2;
}

// Counts the run's messages as the UI thread would receive them.
struct Sink {
    std::mutex mu;
    std::condition_variable cv;
    size_t res = 0;
    size_t bytes = 0;
    bool done = false;
    std::map<std::string, int> verdicts;
};

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--http") {
            o.http = true;
        } else if ((a == "--jobs" || a == "--workers" || a == "--timeout" || a == "--single" ||
                    a == "--hosts") &&
                   (v = next())) {
            if (a == "--hosts")
                o.hosts = splitList(v);
            else
                (a == "--jobs"      ? o.jobs
                 : a == "--workers" ? o.workers
                 : a == "--timeout" ? o.timeoutMs
                                    : o.single) = std::atoi(v);
        } else {
            return usage();
        }
    }
    if (o.hosts.empty() || o.jobs <= 0 || o.single <= 0)
        return usage();
    if (!insideLab() && !onlyLoopback(o.hosts)) {
        std::fprintf(stderr, "scan_bench: not inside the lab's tv-client namespace; run it as\n"
                             "  tests/lab/in-lab.sh -- %s ...\n",
                     argv[0]);
        return 2;
    }
    tv::setLogEcho(false);
    o.workers = tv::boundWorkerCount(o.workers);
    o.timeoutMs = tv::boundScanTimeout(o.timeoutMs);

    // One probe's time: sequential probes of the same targets, after one
    // warm-up probe per host (first resolution, first handshake).
    for (const auto& h : o.hosts)
        (void)tv::probeTarget(h, h, o.http, o.timeoutMs);
    const auto s0 = Clock::now();
    for (int i = 0; i < o.single; ++i) {
        const auto& h = o.hosts[static_cast<size_t>(i) % o.hosts.size()];
        (void)tv::probeTarget(h, h, o.http, o.timeoutMs);
    }
    const double singleMs =
        std::chrono::duration<double, std::milli>(Clock::now() - s0).count() / o.single;

    std::vector<tv::ProbeJob> jobs;
    jobs.reserve(static_cast<size_t>(o.jobs));
    for (int i = 0; i < o.jobs; ++i) {
        const auto& h = o.hosts[static_cast<size_t>(i) % o.hosts.size()];
        jobs.push_back({h, h});
    }
    const long rssBefore = peakRssKiB();

    Sink sink;
    tv::setUiSink([&sink](std::string m) {
        std::lock_guard<std::mutex> g(sink.mu);
        sink.bytes += m.size();
        if (m.rfind("{\"t\":\"res\"", 0) == 0) {
            ++sink.res;
            const auto at = m.rfind("\"verdict\":\"");
            if (at != std::string::npos)
                ++sink.verdicts[m.substr(at + 11, m.size() - at - 13)];
        } else if (m.rfind("{\"t\":\"done\"", 0) == 0) {
            sink.done = true;
            sink.cv.notify_all();
        }
    });

    const auto t0 = Clock::now();
    if (tv::startScan(1, std::move(jobs), o.timeoutMs, o.workers, o.http) !=
        tv::RunStart::started) {
        std::fprintf(stderr, "scan_bench: the run did not start\n");
        return 1;
    }
    {
        std::unique_lock<std::mutex> lk(sink.mu);
        // Bounded: every job ends within a few of its time-outs.
        const auto limit = std::chrono::milliseconds(
            static_cast<int64_t>(o.timeoutMs) * 4 * (o.jobs / o.workers + 1) + 10000);
        if (!sink.cv.wait_for(lk, limit, [&] { return sink.done; })) {
            std::fprintf(stderr, "scan_bench: no done within %lld ms\n",
                         static_cast<long long>(limit.count()));
            return 1;
        }
    }
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    const double idealMs = static_cast<double>(o.jobs) / o.workers * singleMs;
    const long rssPeak = peakRssKiB();

    std::string hosts;
    for (const auto& h : o.hosts) {
        if (!hosts.empty())
            hosts += ',';
        hosts += h;
    }
    std::printf("scan_bench: %d jobs, %d workers, hosts %s, http %s, timeout %d ms\n", o.jobs,
                o.workers, hosts.c_str(), o.http ? "on" : "off", o.timeoutMs);
    std::printf("  one probe (mean of %d sequential): %.2f ms\n", o.single, singleMs);
    std::printf("  wall time: %.0f ms; limit jobs/workers x one probe: %.0f ms\n", wallMs, idealMs);
    std::printf("  ratio wall/limit: %.2f\n", wallMs / idealMs);
    std::printf("  throughput: %.0f probes/s (%.1fx one sequential prober)\n",
                o.jobs / (wallMs / 1000.0), singleMs * o.jobs / wallMs);
    std::printf("  res messages: %zu of %d, %zu bytes in all\n", sink.res, o.jobs, sink.bytes);
    std::printf("  verdicts:");
    for (const auto& [v, n] : sink.verdicts)
        std::printf(" %s=%d", v.c_str(), n);
    std::printf("\n  peak resident memory: %ld KiB (%ld KiB before the run, +%ld KiB)\n", rssPeak,
                rssBefore, rssPeak - rssBefore);
    tv::setUiSink({});
    return sink.res == static_cast<size_t>(o.jobs) ? 0 : 1;
}
