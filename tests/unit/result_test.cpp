#include <gtest/gtest.h>

#include <thread>

#include "probe/result.h"

namespace tv {
namespace {

ProbeResult stages(const char* dns, const char* tcp, const char* tls, const char* http) {
    ProbeResult r = makeProbeResult("h", "s");
    r.dns = dns;
    r.tcp = tcp;
    r.tls = tls;
    r.http = http;
    return r;
}

TEST(ProbeRecord, InitialValues) {
    const ProbeResult r = makeProbeResult("example.com", "");
    EXPECT_EQ(r.host, "example.com");
    EXPECT_EQ(r.sni, "");
    EXPECT_EQ(r.ip, "");
    EXPECT_EQ(r.dns, "skip");
    EXPECT_EQ(r.tcp, "skip");
    EXPECT_EQ(r.tls, "skip");
    EXPECT_EQ(r.http, "skip");
    EXPECT_EQ(r.dnsMs, -1);
    EXPECT_EQ(r.tcpMs, -1);
    EXPECT_EQ(r.tlsMs, -1);
    EXPECT_EQ(r.httpMs, -1);
    EXPECT_EQ(r.httpCode, 0);
    EXPECT_FALSE(r.certOk);
    EXPECT_EQ(r.cert, "");
    EXPECT_EQ(r.tlsDetail, "");
    EXPECT_EQ(r.verdict, "blocked");
}

struct VerdictRow {
    const char *dns, *tcp, *tls;
    bool httpRequested;
    const char *http, *verdict;
};

TEST(ProbeRecord, VerdictTableEveryRow) {
    const VerdictRow rows[] = {
        // resolution failed
        {"nx", "skip", "skip", false, "skip", "blocked"},
        {"timeout", "skip", "skip", true, "skip", "blocked"},
        {"fail", "skip", "skip", true, "skip", "blocked"},
        // TCP failed
        {"ok", "refused", "skip", true, "skip", "blocked"},
        {"skip", "reset", "skip", false, "skip", "blocked"},
        {"ok", "timeout", "skip", false, "skip", "blocked"},
        {"skip", "fail", "skip", true, "skip", "blocked"},
        // handshake completed
        {"ok", "ok", "ok", false, "skip", "pass"},
        {"skip", "ok", "ok", false, "skip", "pass"},
        {"ok", "ok", "ok", true, "ok", "pass"},
        {"ok", "ok", "ok", true, "timeout", "partial"},
        {"skip", "ok", "ok", true, "fail", "partial"},
        // handshake rejected or cut
        {"ok", "ok", "alert", true, "skip", "reach"},
        {"skip", "ok", "alert", false, "skip", "reach"},
        {"ok", "ok", "reset", true, "skip", "dpi"},
        {"ok", "ok", "timeout", false, "skip", "dpi"},
        {"skip", "ok", "fail", true, "skip", "dpi"},
    };
    for (const auto& row : rows) {
        const ProbeResult r = stages(row.dns, row.tcp, row.tls, row.http);
        EXPECT_EQ(computeVerdict(r, row.httpRequested), row.verdict)
            << row.dns << "/" << row.tcp << "/" << row.tls << "/" << row.http
            << " http=" << row.httpRequested;
    }
}

TEST(ProbeRecord, VerdictIgnoresCertificateAndStatusCode) {
    ProbeResult r = stages("ok", "ok", "ok", "ok");
    r.certOk = false;
    r.httpCode = 503;
    EXPECT_EQ(computeVerdict(r, true), "pass");
}

TEST(ProbeRecord, ElapsedMsTruncatesAndIsMonotonic) {
    const auto t0 = clockNow();
    EXPECT_EQ(elapsedMs(t0, t0 + std::chrono::microseconds(1999)), 1);
    EXPECT_EQ(elapsedMs(t0, t0 + std::chrono::microseconds(999)), 0);
    EXPECT_EQ(elapsedMs(t0, t0 + std::chrono::milliseconds(60000)), 60000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int32_t ms = elapsedMs(t0);
    EXPECT_GE(ms, 20);
    EXPECT_LT(ms, 5000);
}

} // namespace
} // namespace tv
