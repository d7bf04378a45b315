// Repeated tries of a job: the series, its wire keys and the command field
// that asks for it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "bridge/dispatcher.h"
#include "bridge/protocol.h"
#include "bridge/runs.h"
#include "probe/probe.h"
#include "ui_recorder.h"

namespace tv {
namespace {

TEST(Repeat, SeriesCountsPassesAndKeepsTheLastTry) {
    // pass, dpi, reach, blocked: two of four passed, the last one was cut.
    const std::vector<const char*> verdicts = {"pass", "dpi", "reach", "blocked"};
    size_t next = 0;
    auto once = [&] {
        ProbeResult r = makeProbeResult("h", "s");
        r.tlsMs = static_cast<int32_t>(next);
        r.verdict = verdicts[next++ % verdicts.size()];
        return r;
    };
    const ProbeResult r = repeatProbe(4, once);
    EXPECT_EQ(next, 4u);
    EXPECT_EQ(r.tries, 4);
    EXPECT_EQ(r.passes, 2);
    EXPECT_EQ(r.verdict, "blocked");
    EXPECT_EQ(r.tlsMs, 3);

    // Out-of-range counts are bounded: at least one try, at most ten.
    next = 0;
    EXPECT_EQ(repeatProbe(0, once).tries, 1);
    EXPECT_EQ(repeatProbe(50, once).tries, kMaxRepeat);
    EXPECT_EQ(next, 1u + kMaxRepeat);

    // A stop seen after a try ends the series there.
    std::atomic<bool> stop{false};
    next = 0;
    const ProbeResult cut = repeatProbe(
        5,
        [&] {
            if (next == 1)
                stop = true;
            return once();
        },
        &stop);
    EXPECT_EQ(cut.tries, 2);
    EXPECT_EQ(cut.passes, 1);
}

TEST(Repeat, WireKeysOnlyForMoreThanOneTryAfterEveryOtherBlock) {
    ProbeResult r = makeProbeResult("a.ru", "a.ru");
    r.verdict = "pass";
    r.dnsCheck = {true, "no", "", ""};
    const std::string one = buildRes(1, 0, r);
    EXPECT_EQ(one.find("\"tries\""), std::string::npos);
    r.tries = 5;
    r.passes = 3;
    EXPECT_EQ(buildRes(1, 0, r), one.substr(0, one.size() - 1) + R"(,"tries":5,"passes":3})");
}

TEST(Repeat, CommandFieldReachesTheProbeBounded) {
    ScanRequest q;
    q.run = 3;
    q.mode = "matrix";
    q.timeoutMs = 500;
    q.threads = 2;
    q.jobs = "a.ru\nb.ru";
    // One try: the command stays as older senders wrote it.
    EXPECT_EQ(splitCommand(buildScanCommand(q)).size(), ScanField::count);
    q.repeat = 4;
    const std::string cmd = buildScanCommand(q);
    const auto f = splitCommand(cmd);
    ASSERT_EQ(f.size(), ScanField::repeat + 1);
    EXPECT_EQ(f[ScanField::repeat], "4");

    std::atomic<int> seen{0};
    RunEngine fake;
    fake.probe = [&](const ProbeJob& j, const ProbeOptions& o) {
        seen = o.repeat;
        return makeProbeResult(j.host, j.sni);
    };
    setRunEngine(fake);
    const std::string head = cmd.substr(0, cmd.rfind('\t'));
    for (const auto& [command, want] :
         {std::pair{cmd, 4}, std::pair{head + "\t99", kMaxRepeat}, std::pair{head + "\t-3", 1},
          std::pair{head + "\tx", 1}, std::pair{head.substr(0, head.rfind('\t')), 1}}) {
        test::UiRecorder rec;
        seen = 0;
        dispatchCommand(command);
        ASSERT_TRUE(rec.waitForDone(3));
        EXPECT_EQ(seen.load(), want) << command;
        // Progress counts jobs: one res per job, whatever the tries.
        EXPECT_EQ(test::UiRecorder::ofKind(rec.messages(), "res").size(), 2u) << command;
    }
    setRunEngine({});
}

} // namespace
} // namespace tv
