// The transfer test inside the network lab, one suite per censor mode
// (tests/lab/probe.cmake). Portable like probe_lab_test.cpp: the Windows build
// runs it under Wine, where TCP acknowledgements cannot be read and the
// upload is judged by the server's answer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "probe/probe.h"

namespace tv {
namespace {

constexpr int32_t kT = 1200;

// The probe's own stages with the HTTP stage and the transfer test.
ProbeResult probeXfer(const std::string& host, bool http = true) {
    ProbeOptions o;
    o.timeoutMs = kT;
    o.http = http;
    o.xfer = true;
    return probeTarget(ProbeJob{host, host}, o);
}

std::string word(XferState s) { return std::string(xferWord(s)); }

// A domestic host and a foreign one: the filters of the lab act on foreign
// addresses only.
constexpr const char* kDomestic = "ya.ru";
constexpr const char* kForeign = "ok.lab.test";

void expectAllThrough(const ProbeResult& r) {
    SCOPED_TRACE(r.host);
    EXPECT_EQ(r.verdict, "pass");
    ASSERT_TRUE(r.xferRan);
    EXPECT_EQ(word(r.xfer.state), "ok");
    EXPECT_EQ(word(r.xfer.down.state), "ok");
    EXPECT_EQ(word(r.xfer.up.state), "ok");
    EXPECT_GT(r.xfer.down.bytes, 64 * 1024);
    EXPECT_GE(r.xfer.down.kbps, kXferSlowKbps);
}

TEST(ProbeLabXferOpen, BothDirectionsGoThroughAndShortPagesSayShort) {
    for (const char* h : {kDomestic, kForeign})
        expectAllThrough(probeXfer(h));
    // Less than the volume ever comes down: no conclusion, never "ok".
    const ProbeResult s = probeXfer("short.lab.test");
    EXPECT_EQ(s.verdict, "pass");
    EXPECT_EQ(word(s.xfer.down.state), "short");
    EXPECT_EQ(word(s.xfer.state), "short");
    // Without the HTTP flag (the matrix) the transfer still runs, and the
    // record's HTTP stage stays as the scan asked.
    const ProbeResult m = probeXfer(kForeign, false);
    EXPECT_EQ(m.http, "skip");
    EXPECT_EQ(word(m.xfer.state), "ok");
    // Off unless asked: nothing of it in the record.
    const ProbeResult off = probeTarget(kForeign, kForeign, true, kT);
    EXPECT_FALSE(off.xferRan);
}

// A frozen row costs about one stall time beyond the probe, not more.
void expectFrozen(const ProbeResult& r, bool down, bool up, std::chrono::milliseconds took) {
    SCOPED_TRACE(r.host);
    EXPECT_EQ(r.verdict, "pass"); // the handshake and the first answer went through
    EXPECT_EQ(word(r.xfer.state), "frozen");
    if (down) {
        EXPECT_EQ(word(r.xfer.down.state), "frozen");
        // The connection stopped at the filter's count, handshake included.
        EXPECT_GE(r.xfer.down.bytes, 12 * 1024);
        EXPECT_LE(r.xfer.down.bytes, 24 * 1024);
    }
    if (up) {
        EXPECT_EQ(word(r.xfer.up.state), "frozen");
        if (r.xfer.upByAcks) {
            EXPECT_GE(r.xfer.up.bytes, 8 * 1024);
            EXPECT_LE(r.xfer.up.bytes, 24 * 1024);
        }
    }
    EXPECT_LT(took.count(), 2 * kT + 1500);
}

void freezeCase(bool down, bool up) {
    expectAllThrough(probeXfer(kDomestic));
    const auto t0 = std::chrono::steady_clock::now();
    const ProbeResult r = probeXfer(kForeign);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    expectFrozen(r, down, up, took);
}

TEST(ProbeLabXferFreezeDown, ForeignFreezesDomesticPasses) { freezeCase(true, false); }
TEST(ProbeLabXferFreezeUp, ForeignFreezesDomesticPasses) { freezeCase(false, true); }
TEST(ProbeLabXferFreeze, ForeignFreezesDomesticPasses) { freezeCase(true, false); }

TEST(ProbeLabXferThrottle, ForeignIsSlowDomesticPasses) {
    expectAllThrough(probeXfer(kDomestic));
    const ProbeResult r = probeXfer(kForeign);
    EXPECT_EQ(r.verdict, "pass");
    EXPECT_EQ(word(r.xfer.state), "slow");
    EXPECT_EQ(word(r.xfer.down.state), "slow");
}

} // namespace
} // namespace tv
