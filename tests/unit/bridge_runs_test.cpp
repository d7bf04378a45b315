// Scan and basic-test runs driven through the dispatcher, with a controllable
// engine in place of the network: probes can be held at a gate, so in-flight
// cancels, refusals while busy and the end of a run happen in a known order.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bridge/dispatcher.h"
#include "bridge/protocol.h"
#include "bridge/runs.h"
#include "bridge/state.h"
#include "probe/sock.h"
#include "ui_recorder.h"

namespace tv {
namespace {

using namespace std::chrono_literals;
using test::logHasLine;
using test::UiRecorder;
using V = std::vector<std::string>;

// A probe that counts its calls and, when gated, waits for a permit.
class FakeProbe {
public:
    ProbeResult operator()(const std::string& host, const std::string& sni, bool doHttp,
                           int32_t timeoutMs) {
        std::unique_lock<std::mutex> lk(mu_);
        ++calls_;
        hosts_.push_back(host);
        lastHttp_ = doHttp;
        lastTimeout_ = timeoutMs;
        ++inflight_;
        maxInflight_ = std::max(maxInflight_, inflight_);
        cv_.notify_all();
        cv_.wait_for(lk, 20s, [&] { return permits_ > 0; });
        if (permits_ > 0 && permits_ != INT_MAX)
            --permits_;
        --inflight_;
        ProbeResult r = makeProbeResult(host, sni);
        r.tcp = "refused";
        r.tcpMs = 0;
        r.tlsDetail = "WSA 10061";
        return r;
    }
    void gate() { set(0); }
    void release(int n) { set(n); }
    void open() { set(INT_MAX); }
    bool waitInflight(int n) {
        std::unique_lock<std::mutex> lk(mu_);
        return cv_.wait_for(lk, 20s, [&] { return inflight_ >= n; });
    }
    template <class F> auto locked(F f) -> decltype(f()) {
        std::lock_guard<std::mutex> g(mu_);
        return f();
    }
    int calls() { return locked([&] { return calls_; }); }
    int maxInflight() { return locked([&] { return maxInflight_; }); }
    int32_t lastTimeout() { return locked([&] { return lastTimeout_; }); }
    bool lastHttp() { return locked([&] { return lastHttp_; }); }
    V hosts() { return locked([&] { return hosts_; }); }

private:
    void set(int p) {
        std::lock_guard<std::mutex> g(mu_);
        permits_ = p;
        cv_.notify_all();
    }
    std::mutex mu_;
    std::condition_variable cv_;
    int permits_ = INT_MAX;
    int calls_ = 0, inflight_ = 0, maxInflight_ = 0;
    int32_t lastTimeout_ = 0;
    bool lastHttp_ = false;
    V hosts_;
};

// Basic checks that emit `results`, optionally stopping at a gate after the
// first one until the test lets them go on.
struct FakeBasics {
    std::mutex mu;
    std::condition_variable cv;
    bool holdAfterFirst = false, held = false, go = false;
    int32_t checksTimeout = 0, ipTimeout = 0;
    bool ipCalled = false, ipSawCancel = false;
    std::string body = "{\"query\":\"198.51.100.7\"}";
    int results = 3;
};

// The name of fake check i.
std::string name(int i) {
    std::string s = "check";
    return s += std::to_string(i);
}

// A page command from its fields.
std::string cmd(std::initializer_list<std::string> fields) {
    std::string s;
    for (const auto& f : fields) {
        if (!s.empty())
            s += '\t';
        s += f;
    }
    return s;
}

std::string lines(int n, const std::string& host) {
    std::string s;
    for (int i = 0; i < n; ++i)
        ((((s += host) += std::to_string(i)) += "|") += host + std::to_string(i)) += "\n";
    return s;
}

class Runs : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(busyFlag().load());
        cancelFlag().store(false);
        injectThreadStartFailures(0, 0);
        // Note the busy flag at the moment each `done` is posted: a run must
        // release it before, so the page can start the next run at once.
        rec.setTap([this](const std::string& m) {
            if (UiRecorder::kindOf(m) == "done")
                busyAtDone[UiRecorder::field(m, "run")] = busyFlag().load();
            if (extraTap)
                extraTap(m);
        });
        auto p = probe;
        auto b = basics;
        setRunEngine(
            {[p](const ProbeJob& j, const ProbeOptions& o) {
                 return (*p)(j.host, j.sni, o.http, o.timeoutMs);
             },
             [b](int32_t t, const std::function<void(const NetCheckResult&)>& on,
                 const std::atomic<bool>& cancel) {
                 {
                     std::lock_guard<std::mutex> g(b->mu);
                     b->checksTimeout = t;
                 }
                 for (int i = 0; i < b->results; ++i) {
                     if (cancel.load())
                         return;
                     on(NetCheckResult{"dns", name(i), "ok", "", i, ""});
                     std::unique_lock<std::mutex> lk(b->mu);
                     if (i == 0 && b->holdAfterFirst) {
                         b->held = true;
                         b->cv.notify_all();
                         b->cv.wait_for(lk, 20s, [&] { return b->go; });
                     }
                 }
             },
             [b](int32_t t) {
                 std::lock_guard<std::mutex> g(b->mu);
                 b->ipTimeout = t;
                 b->ipCalled = true;
                 b->ipSawCancel = cancelFlag().load();
                 return b->body;
             },
             {},
             {}});
    }
    void TearDown() override {
        probe->open();
        {
            std::lock_guard<std::mutex> g(basics->mu);
            basics->go = true;
            basics->cv.notify_all();
        }
        // Leave no run behind for the next test.
        EXPECT_TRUE(rec.waitUntil([](const V&) { return !busyFlag().load(); }, 20s));
        setRunEngine({});
        injectThreadStartFailures(0, 0);
        cancelFlag().store(false);
    }

    // Checks the closing of run `run`: exactly one `done`, with `cancelled`,
    // and no message of that run after it; the busy flag is clear by then.
    void expectClosed(int32_t run, bool cancelled) {
        ASSERT_TRUE(rec.waitForDone(run)) << "no done for run " << run;
        const V ms = rec.messages();
        const std::string done = buildDone(run, cancelled);
        int doneAt = -1, dones = 0;
        for (size_t i = 0; i < ms.size(); ++i) {
            if (ms[i].rfind(UiRecorder::donePrefix(run), 0) == 0) {
                ++dones;
                doneAt = static_cast<int>(i);
                EXPECT_EQ(ms[i], done);
            }
        }
        EXPECT_EQ(dones, 1);
        std::string runKey = ",\"run\":";
        (runKey += std::to_string(run)) += ",";
        for (size_t i = static_cast<size_t>(doneAt) + 1; i < ms.size(); ++i)
            EXPECT_EQ(ms[i].find(runKey), std::string::npos) << "after done: " << ms[i];
        EXPECT_FALSE(busyFlag().load());
        (void)rec.messages(); // the recorder's lock orders the tap's writes before us
        EXPECT_EQ(busyAtDone.count(std::to_string(run)), 1u);
        EXPECT_FALSE(busyAtDone[std::to_string(run)]) << "busy still set when done was posted";
    }

    V resOf(int32_t run) {
        V out;
        for (const auto& m : UiRecorder::ofKind(rec.messages(), "res"))
            if (UiRecorder::field(m, "run") == std::to_string(run))
                out.push_back(m);
        return out;
    }

    std::map<std::string, bool> busyAtDone;         // written by the tap
    std::function<void(const std::string&)> extraTap; // set before a run starts
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    std::shared_ptr<FakeBasics> basics = std::make_shared<FakeBasics>();
    UiRecorder rec;
};

TEST_F(Runs, ScanFieldsReachTheProbes) {
    dispatchCommand("scan\t7\tdomains-ReachTest\t0\t3\t1\ta.ru\n 1.2.3.4 | \n\n");
    expectClosed(7, false);
    EXPECT_TRUE(logHasLine("Скан #7 режим=domains-ReachTest целей=2"));
    EXPECT_EQ(probe->lastTimeout(), 500);
    EXPECT_TRUE(probe->lastHttp());
    const V res = resOf(7);
    ASSERT_EQ(res.size(), 2u);
    std::set<std::string> seen;
    for (const auto& m : res)
        seen.insert(UiRecorder::field(m, "idx") + "=" + UiRecorder::field(m, "host") +
                    UiRecorder::field(m, "sni"));
    EXPECT_EQ(seen, (std::set<std::string>{"0=\"a.ru\"\"a.ru\"", "1=\"1.2.3.4\"\"\""}));
    EXPECT_EQ(UiRecorder::field(res[0], "verdict"), "\"blocked\"");
}

TEST_F(Runs, TimeoutIsBoundedAndHttpFlagIsExact) {
    const std::pair<const char*, int32_t> cases[] = {
        {"abc", 500}, {"499", 500}, {"999999", 60000}, {"60001", 60000}, {"1234", 1234}};
    int32_t run = 100;
    for (const auto& [field, want] : cases) {
        dispatchCommand(cmd({"scan", std::to_string(run), "m", field, "1", "true", "x.ru"}));
        expectClosed(run, false);
        EXPECT_EQ(probe->lastTimeout(), want) << field;
        EXPECT_FALSE(probe->lastHttp());
        ++run;
    }
}

TEST_F(Runs, WorkerCountIsBoundedToOneToFortyEight) {
    const std::pair<const char*, int> cases[] = {{"100", 48}, {"0", 1}, {"-3", 1}, {"abc", 1},
                                                 {"2", 2}};
    int32_t run = 200;
    for (const auto& [field, want] : cases) {
        probe = std::make_shared<FakeProbe>();
        SetUp();
        probe->gate();
        dispatchCommand(cmd({"scan", std::to_string(run), "m", "500", field, "0", lines(60, "w")}));
        ASSERT_TRUE(probe->waitInflight(want)) << field;
        std::this_thread::sleep_for(30ms); // room for a surplus worker to show up
        EXPECT_EQ(probe->maxInflight(), want) << field;
        dispatchCommand("cancel");
        probe->open();
        expectClosed(run, true);
        ++run;
    }
}

TEST_F(Runs, FortyEightWorkersFiveJobsGiveFiveResults) {
    dispatchCommand("scan\t11\tdomains\t500\t48\t0\t" + lines(5, "five"));
    expectClosed(11, false);
    const V res = resOf(11);
    ASSERT_EQ(res.size(), 5u);
    std::set<std::string> idx;
    for (const auto& m : res)
        idx.insert(UiRecorder::field(m, "idx"));
    EXPECT_EQ(idx, (std::set<std::string>{"0", "1", "2", "3", "4"}));
    EXPECT_EQ(probe->calls(), 5);
}

TEST_F(Runs, EmptyJobListPostsOnlyDone) {
    dispatchCommand("scan\t12\tempty-list-run\t500\t4\t1\t\n \n|x\n");
    expectClosed(12, false);
    EXPECT_EQ(rec.messages(), V{buildDone(12, false)});
    EXPECT_TRUE(logHasLine("Скан #12 режим=empty-list-run целей=0"));
}

TEST_F(Runs, SecondRequestWhileBusyIsRefusedAndTheFirstGoesOn) {
    probe->gate();
    dispatchCommand("scan\t21\tfirst\t500\t1\t0\ta.ru\nb.ru");
    ASSERT_TRUE(probe->waitInflight(1));
    rec.clear();
    dispatchCommand("scan\t22\tsecond-refused\t500\t4\t0\tc.ru");
    dispatchCommand("basics\t23x\t500");
    // Refusals are answered at once, before the command returns.
    EXPECT_EQ(rec.messages(), (V{buildMsg("Сканирование уже идёт"), buildDone(22, true),
                                 buildMsg("Сканирование уже идёт"), buildDone(23, true)}));
    EXPECT_TRUE(logHasLine("Скан #22 режим=second-refused целей=1"));
    EXPECT_TRUE(logHasLine("Базовые проверки сети #23x"));
    EXPECT_TRUE(busyFlag().load());
    probe->open();
    expectClosed(21, false);
    EXPECT_EQ(resOf(21).size(), 2u);
    EXPECT_EQ(probe->hosts(), (V{"a.ru", "b.ru"}));
}

TEST_F(Runs, CancelInFlightDropsLaterResults) {
    probe->gate();
    dispatchCommand("scan\t31\tm\t500\t2\t0\t" + lines(10, "c"));
    probe->release(3);
    ASSERT_TRUE(rec.waitForKind("res", 3));
    ASSERT_TRUE(probe->waitInflight(2)); // both workers inside their next probe
    dispatchCommand("cancel");
    probe->open(); // the probes under way end; their results are dropped
    expectClosed(31, true);
    EXPECT_EQ(resOf(31).size(), 3u);
    EXPECT_EQ(probe->calls(), 5);
}

TEST_F(Runs, CancelAfterTheLastResultStillEndsCancelled) {
    // The cancel lands right after the last `res`, before the pool reads the flag.
    extraTap = [](const std::string& m) {
        if (UiRecorder::kindOf(m) == "res")
            cancelFlag().store(true);
    };
    dispatchCommand("scan\t32\tm\t500\t1\t0\tonly.ru");
    expectClosed(32, true);
    EXPECT_EQ(resOf(32).size(), 1u);
}

TEST_F(Runs, CancelWhileIdleIsClearedByTheNextRun) {
    dispatchCommand("cancel");
    EXPECT_TRUE(rec.messages().empty());
    dispatchCommand("scan\t33\tm\t500\t2\t0\ta.ru\nb.ru");
    expectClosed(33, false);
    EXPECT_EQ(resOf(33).size(), 2u);
}

TEST_F(Runs, RefusedPoolThreadReleasesTheRun) {
    injectThreadStartFailures(0, 1);
    dispatchCommand("scan\t41\tm\t500\t4\t0\ta.ru");
    // Answered before the command returns; nothing was probed.
    EXPECT_EQ(rec.messages(), V{buildDone(41, true)});
    EXPECT_FALSE(busyFlag().load());
    EXPECT_EQ(probe->calls(), 0);
    dispatchCommand("scan\t42\tm\t500\t4\t0\ta.ru");
    expectClosed(42, false);
    EXPECT_EQ(resOf(42).size(), 1u);
}

TEST_F(Runs, RefusedWorkersLeaveTheJobsToTheOthers) {
    // Pool and two workers start; the other three are refused.
    injectThreadStartFailures(3, 3);
    dispatchCommand("scan\t43\tm\t500\t5\t0\t" + lines(12, "p"));
    expectClosed(43, false);
    EXPECT_EQ(resOf(43).size(), 12u);
}

TEST_F(Runs, WhenNoWorkerStartsThePoolProbesItself) {
    injectThreadStartFailures(1, 48);
    dispatchCommand("scan\t44\tm\t500\t48\t0\t" + lines(7, "q"));
    expectClosed(44, false);
    EXPECT_EQ(resOf(44).size(), 7u);
}

TEST_F(Runs, RefusedBasicThreadReleasesTheRun) {
    injectThreadStartFailures(0, 1);
    dispatchCommand("basics\t45\t1000");
    EXPECT_EQ(rec.messages(), V{buildDone(45, true)});
    EXPECT_FALSE(busyFlag().load());
}

TEST_F(Runs, BasicsStreamsChecksThenIpInfoThenDone) {
    dispatchCommand("basics\t12abc\t100");
    expectClosed(12, false);
    const V ms = rec.messages();
    ASSERT_EQ(ms.size(), 5u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ms[static_cast<size_t>(i)],
                  buildNet(12, NetCheckResult{"dns", name(i), "ok", "", i, ""}));
    EXPECT_EQ(ms[3], R"({"t":"ipinfo","run":12,"body":"{\"query\":\"198.51.100.7\"}"})");
    EXPECT_TRUE(logHasLine("Базовые проверки сети #12abc"));
    EXPECT_EQ(basics->checksTimeout, 500);
    EXPECT_EQ(basics->ipTimeout, 500);

    rec.clear();
    dispatchCommand("basics\t13\t60000");
    expectClosed(13, false);
    EXPECT_EQ(basics->checksTimeout, 30000);
}

TEST_F(Runs, FailedLookupStillGivesAnEmptyIpInfo) {
    basics->body.clear();
    basics->results = 0;
    dispatchCommand("basics\t14\t500");
    expectClosed(14, false);
    EXPECT_EQ(rec.messages(), (V{R"({"t":"ipinfo","run":14,"body":""})", buildDone(14, false)}));
}

TEST_F(Runs, BasicsCancelDropsLaterChecksAndIpInfoButWaitsForTheLookup) {
    basics->holdAfterFirst = true;
    dispatchCommand("basics\t15\t500");
    {
        std::unique_lock<std::mutex> lk(basics->mu);
        ASSERT_TRUE(basics->cv.wait_for(lk, 20s, [&] { return basics->held; }));
    }
    dispatchCommand("scan\t16\tm\t500\t1\t0\ta.ru"); // refused: basics is a run too
    dispatchCommand("cancel");
    {
        std::lock_guard<std::mutex> g(basics->mu);
        basics->go = true;
        basics->cv.notify_all();
    }
    expectClosed(15, true);
    const V ms = rec.messages();
    EXPECT_EQ(UiRecorder::countKind(ms, "net"), 1u);
    EXPECT_EQ(UiRecorder::countKind(ms, "ipinfo"), 0u);
    EXPECT_EQ(probe->calls(), 0);
    EXPECT_TRUE(basics->ipCalled);
    EXPECT_TRUE(basics->ipSawCancel);
    EXPECT_EQ(ms[1], buildMsg("Сканирование уже идёт"));
    EXPECT_EQ(ms[2], buildDone(16, true));
}

TEST_F(Runs, DirectStartReportsTheOutcome) {
    probe->gate();
    EXPECT_EQ(startScan(51, {{"a.ru", "a.ru"}}, 10, 0, false), RunStart::started);
    ASSERT_TRUE(probe->waitInflight(1));
    EXPECT_EQ(probe->lastTimeout(), 500); // bounded here as well
    EXPECT_EQ(startBasics(52, 500), RunStart::busy);
    probe->open();
    expectClosed(51, false);
    injectThreadStartFailures(0, 1);
    EXPECT_EQ(startBasics(53, 500), RunStart::failed);
    EXPECT_FALSE(busyFlag().load());
}

} // namespace
} // namespace tv

namespace tv {
namespace {

// The TCP pre-phase: every address literal is connected once, before any of
// its jobs is probed; a dead address's jobs take its outcome without a probe,
// marked tcpShared; names skip it without a resolver in the engine; every job
// still posts one `res`.
TEST_F(Runs, RepeatedAddressesAreSweptOnceAndDeadOnesShareTheOutcome) {
    auto swept = std::make_shared<std::vector<std::vector<uint32_t>>>();
    auto probedEarly = std::make_shared<bool>(false);
    auto p = probe;
    setRunEngine({[p](const ProbeJob& j, const ProbeOptions& o) {
                      return (*p)(j.host, j.sni, o.http, o.timeoutMs);
                  },
                  {},
                  {},
                  [swept, probedEarly, p](const std::vector<uint32_t>& addrs, int port,
                                          int32_t timeoutMs, const std::atomic<bool>&,
                                          const std::function<void(size_t, const StageOutcome&)>&
                                              onOutcome) {
                      swept->push_back(addrs);
                      EXPECT_EQ(port, 443);
                      EXPECT_EQ(timeoutMs, 1500);
                      for (const std::string& h : p->hosts())
                          if (h.rfind("10.0.0.", 0) == 0)
                              *probedEarly = true;
                      for (size_t i = 0; i < addrs.size(); ++i) {
                          StageOutcome st;
                          st.state = formatIPv4(addrs[i]) == "10.0.0.2" ? State::Timeout
                                                                         : State::Ok;
                          st.ms = 1500;
                          onOutcome(i, st);
                      }
                  },
                  {}});
    ProbeOptions o;
    o.timeoutMs = 1500;
    ASSERT_EQ(startScan(61,
                        {{"10.0.0.2", "a.ru"},
                         {"10.0.0.1", "a.ru"},
                         {"10.0.0.2", ""},
                         {"10.0.0.1", "b.ru"},
                         {"10.0.0.3", "a.ru"},
                         {"name.ru", "name.ru"},
                         {"10.0.0.2", "c.ru"}},
                        o, 3),
              RunStart::started);
    expectClosed(61, false);
    ASSERT_EQ(swept->size(), 1u);
    std::set<std::string> addrs;
    for (uint32_t a : swept->front())
        addrs.insert(formatIPv4(a));
    EXPECT_EQ(addrs, (std::set<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    EXPECT_FALSE(*probedEarly);
    V probed = probe->hosts();
    std::sort(probed.begin(), probed.end());
    EXPECT_EQ(probed, (V{"10.0.0.1", "10.0.0.1", "10.0.0.3", "name.ru"}));
    const V res = resOf(61);
    ASSERT_EQ(res.size(), 7u);
    std::set<std::string> idx;
    for (const auto& m : res) {
        idx.insert(UiRecorder::field(m, "idx"));
        const bool dead = UiRecorder::field(m, "host") == "\"10.0.0.2\"";
        EXPECT_EQ(m.find("\"tcpShared\":true}") != std::string::npos, dead) << m;
        if (dead) {
            EXPECT_EQ(UiRecorder::field(m, "tcp"), "\"timeout\"");
            EXPECT_EQ(UiRecorder::field(m, "tcpMs"), "1500");
            EXPECT_EQ(UiRecorder::field(m, "ip"), "\"10.0.0.2\"");
            EXPECT_EQ(UiRecorder::field(m, "verdict"), "\"blocked\"");
        }
    }
    EXPECT_EQ(idx.size(), 7u);
}

// Repeated tries each open their own connection: no shared TCP outcome.
TEST_F(Runs, RepeatedTriesSkipTheSweep) {
    auto swept = std::make_shared<int>(0);
    auto p = probe;
    setRunEngine({[p](const ProbeJob& j, const ProbeOptions& o) {
                      return (*p)(j.host, j.sni, o.http, o.timeoutMs);
                  },
                  {},
                  {},
                  [swept](const std::vector<uint32_t>&, int, int32_t, const std::atomic<bool>&,
                          const std::function<void(size_t, const StageOutcome&)>&) { ++*swept; },
                  {}});
    ProbeOptions o;
    o.repeat = 3;
    ASSERT_EQ(startScan(63, {{"10.0.0.2", "a.ru"}, {"10.0.0.2", "b.ru"}}, o, 2), RunStart::started);
    expectClosed(63, false);
    EXPECT_EQ(*swept, 0);
    EXPECT_EQ(probe->calls(), 2);
    EXPECT_EQ(resOf(63).size(), 2u);
}

// A cancel during the sweep ends the run: the workers waiting for the
// sweep's jobs stop, and `done` says cancelled.
TEST_F(Runs, CancelDuringTheSweepEndsTheRun) {
    auto p = probe;
    setRunEngine({[p](const ProbeJob& j, const ProbeOptions& o) {
                      return (*p)(j.host, j.sni, o.http, o.timeoutMs);
                  },
                  {},
                  {},
                  [](const std::vector<uint32_t>&, int, int32_t, const std::atomic<bool>& cancel,
                     const std::function<void(size_t, const StageOutcome&)>&) {
                      for (int k = 0; k < 2000 && !cancel.load(); ++k)
                          std::this_thread::sleep_for(5ms);
                  },
                  {}});
    ASSERT_EQ(startScan(62, {{"10.0.0.1", "a.ru"}, {"10.0.0.1", "b.ru"}}, 1500, 4, false),
              RunStart::started);
    std::this_thread::sleep_for(50ms);
    cancelFlag().store(true);
    expectClosed(62, true);
    EXPECT_EQ(probe->calls(), 0);
    EXPECT_TRUE(resOf(62).empty());
}

} // namespace
} // namespace tv
