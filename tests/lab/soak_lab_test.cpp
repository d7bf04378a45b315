// Many long scans through the page's command channel, half of them stopped at
// a random moment: each run ends with one `done`, releases the busy flag, and
// leaves no descriptor or memory behind.
#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bridge/dispatcher.h"
#include "bridge/protocol.h"
#include "bridge/state.h"
#include "bridge/ui_sink.h"

namespace tv {
namespace {

struct Recorder {
    std::mutex mu;
    std::condition_variable cv;
    int dones = 0, results = 0;
};

size_t openDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// Resident memory once the allocator has handed its free pages back: what the
// program still holds, not what the allocator keeps for later.
long residentKb() {
    malloc_trim(0);
    long pages = 0, rss = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &rss) != 2)
            rss = 0;
        std::fclose(f);
    }
    return rss * (sysconf(_SC_PAGESIZE) / 1024);
}

TEST(SoakLab, TwentyRunsOfThreeThousandJobs) {
    Recorder rec;
    setUiSink([&rec](std::string m) {
        std::lock_guard<std::mutex> lock(rec.mu);
        if (m.rfind("{\"t\":\"done\"", 0) == 0)
            ++rec.dones;
        else if (m.rfind("{\"t\":\"res\"", 0) == 0)
            ++rec.results;
        rec.cv.notify_all();
    });
    std::string jobs;
    for (int i = 0; i < 3000; ++i)
        jobs += (i ? "\n" : "") + std::string(i % 2 ? "ok.lab.test|ok.lab.test" : "ya.ru|ya.ru");
    std::mt19937 rng(20261209);
    size_t fdsFirst = 0;
    std::vector<long> rss20; // resident KiB after runs 1..20
    // Run 0 warms up: the first threads' allocator arenas and the TLS library's
    // tables belong to the process, not to a run. Runs 1..20 are measured.
    for (int run = 0; run <= 20; ++run) {
        ScanRequest r;
        r.run = run;
        r.mode = "soak";
        r.timeoutMs = 2000;
        r.threads = 48;
        r.http = true;
        r.jobs = jobs;
        {
            std::lock_guard<std::mutex> lock(rec.mu);
            rec.dones = rec.results = 0;
        }
        dispatchCommand(buildScanCommand(r));
        const bool cancel = run % 2 == 0 && run > 0;
        if (cancel) {
            std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 3000));
            dispatchCommand("cancel");
        }
        std::unique_lock<std::mutex> lock(rec.mu);
        ASSERT_TRUE(rec.cv.wait_for(lock, std::chrono::minutes(3), [&] { return rec.dones > 0; }))
            << "run " << run;
        // Nothing more after the end of a run.
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        lock.lock();
        EXPECT_EQ(rec.dones, 1) << "run " << run;
        EXPECT_FALSE(busyFlag().load()) << "run " << run;
        if (!cancel) {
            EXPECT_EQ(rec.results, 3000) << "run " << run;
        }
        lock.unlock();
        const size_t fds = openDescriptors();
        const long rss = residentKb();
        std::printf("run %2d%s: %d results, %zu descriptors, %ld KiB resident\n", run,
                    cancel ? " (stopped)" : "", rec.results, fds, rss);
        if (run == 1)
            fdsFirst = fds;
        if (run > 0) {
            EXPECT_EQ(fds, fdsFirst) << "run " << run;
            rss20.push_back(rss);
        }
    }
    // One reading swings by a few per cent with the threads' cached stacks and
    // arenas; the medians of the first and the last five runs do not.
    ASSERT_EQ(rss20.size(), 20u);
    auto median5 = [](std::vector<long> v) {
        std::sort(v.begin(), v.end());
        return v[2];
    };
    const long first = median5({rss20.begin(), rss20.begin() + 5});
    const long last = median5({rss20.end() - 5, rss20.end()});
    std::printf("resident KiB, median of runs 1-5: %ld, of runs 16-20: %ld (%+.1f %%)\n", first,
                last, 100.0 * static_cast<double>(last - first) / static_cast<double>(first));
    EXPECT_LE(last, first + first / 20) << "first " << first << " KiB";
    setUiSink(nullptr);
}

} // namespace
} // namespace tv
