// Encrypted DNS, interception of UDP/53 and swapped answers in the network
// lab, one suite per censor mode (tests/lab/probe.cmake). Portable like
// probe_lab_test.cpp: the Windows build runs it under Wine in the lab.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "probe/basic_checks.h"
#include "probe/dns_encrypted.h"
#include "probe/net.h"
#include "probe/probe.h"

namespace tv {
namespace {

constexpr int32_t kT = 1200;

std::vector<NetCheckResult> basicChecks() {
    std::vector<NetCheckResult> out;
    std::atomic<bool> cancel{false};
    runBasicChecks(kT, [&](const NetCheckResult& n) { out.push_back(n); }, cancel);
    return out;
}

ProbeResult probeChecked(const std::string& host, bool dnsCheck = true) {
    ProbeOptions o;
    o.timeoutMs = kT;
    o.http = true;
    o.dnsCheck = dnsCheck;
    return probeTarget(ProbeJob{host, host}, o);
}

// What Yandex's DoT says `name` is (the lab's genuine zone).
std::string genuineAddress(const std::string& name) {
    const SecureDnsOutcome q =
        querySecureDns(DnsTransport::Dot, {"77.88.8.8", "common.dot.dns.yandex.net"}, {name}, kT);
    return q.answers.empty() || q.answers[0].addrsBe.empty()
               ? std::string()
               : formatIPv4(q.answers[0].addrsBe.front());
}

bool contains(const std::string& s, const std::string& piece) {
    return s.find(piece) != std::string::npos;
}

// ---------------------------------------------------------------- open

TEST(ProbeLabOpen, EncryptedRowsAfterTheTwelveNothingIntercepted) {
    const std::vector<NetCheckResult> got = basicChecks();
    ASSERT_EQ(got.size(), 20u);
    for (size_t i = 0; i < 4; ++i) {
        const NetCheckResult& udp = got[4 + i];
        const NetCheckResult& dot = got[12 + i];
        const NetCheckResult& doh = got[16 + i];
        EXPECT_EQ(udp.intercept, "no") << udp.name << " " << udp.detail;
        EXPECT_FALSE(contains(udp.detail, "перехват")) << udp.detail;
        EXPECT_EQ(dot.group, "DNS по DoT");
        EXPECT_EQ(dot.name, kBasicResolvers[i].dotLabel);
        EXPECT_EQ(doh.group, "DNS по DoH");
        EXPECT_EQ(doh.name, kBasicResolvers[i].serverName);
        for (const NetCheckResult* e : {&dot, &doh}) {
            EXPECT_EQ(e->state, "ok") << e->name << " " << e->detail;
            EXPECT_EQ(e->detail, udp.detail) << e->name; // the same answer as over UDP
            EXPECT_GT(e->ms, 0) << e->name;              // a connection and a handshake
            EXPECT_EQ(e->intercept, "");
        }
    }
    for (size_t i : {0u, 8u})
        EXPECT_EQ(got[i].intercept, "") << got[i].name;
}

TEST(ProbeLabOpen, AnswersAreJudgedByCertificateNotByAddress) {
    // Each resolver gives cdn.lab.test another address; each is genuine.
    const ResolveOutcome sys = resolveHost("cdn.lab.test");
    ASSERT_TRUE(sys.found);
    const std::string viaDot = genuineAddress("cdn.lab.test");
    EXPECT_NE(viaDot, "");
    EXPECT_NE(viaDot, formatIPv4(sys.addr.addrBe));
    const ProbeResult cdn = probeChecked("cdn.lab.test");
    EXPECT_TRUE(cdn.certOk);
    EXPECT_TRUE(cdn.dnsCheck.asked);
    EXPECT_EQ(cdn.dnsCheck.spoof, "skip");
    EXPECT_EQ(cdn.dnsCheck.genuine, "");

    // A site whose own certificate is bad: checked, and no swap, whichever
    // way the certificate fails.
    for (const char* host : {"selfsigned.lab.test", "wrongname.lab.test", "expired.lab.test"}) {
        const ProbeResult r = probeChecked(host);
        EXPECT_FALSE(r.certOk) << host;
        EXPECT_EQ(r.dnsCheck.spoof, "no") << host;
        EXPECT_EQ(r.dnsCheck.genuine, "") << host;
        EXPECT_TRUE(r.dnsCheck.via.rfind("dot ", 0) == 0 || r.dnsCheck.via.rfind("doh ", 0) == 0)
            << r.dnsCheck.via;
        EXPECT_EQ(r.verdict, "pass") << host;
    }
}

// ---------------------------------------------------------------- edns-block

TEST(ProbeLabEdnsBlock, BlockedEncryptedResolversReadAsSuchYandexWorks) {
    const std::vector<NetCheckResult> got = basicChecks();
    ASSERT_EQ(got.size(), 20u);
    EXPECT_EQ(got[12].state, "ok") << got[12].detail; // Yandex over DoT
    EXPECT_EQ(got[16].state, "ok") << got[16].detail; // and over DoH
    EXPECT_EQ(got[4].intercept, "no");
    for (size_t i = 1; i < 4; ++i) {
        // 853 is dropped; on 443 the published name in the hello is.
        EXPECT_EQ(got[12 + i].state, "timeout") << got[12 + i].name;
        EXPECT_EQ(got[12 + i].detail, "TCP: timeout") << got[12 + i].name;
        EXPECT_EQ(got[16 + i].state, "timeout") << got[16 + i].name;
        EXPECT_EQ(got[16 + i].detail, "TLS: no reply") << got[16 + i].name;
        // UDP and TCP 443 by address still work; without DoT nothing is compared.
        EXPECT_EQ(got[4 + i].state, "ok");
        EXPECT_EQ(got[4 + i].intercept, "skip");
        EXPECT_EQ(got[8 + i].state, "ok");
    }
}

// ---------------------------------------------------------------- dns-stub

TEST(ProbeLabDnsStub, SwappedAnswersMarkedWithTheGenuineAddress) {
    const std::string genuine = genuineAddress("google.com");
    ASSERT_EQ(genuine.rfind("198.19.1.", 0), 0u) << genuine;
    const ProbeResult g = probeChecked("google.com");
    EXPECT_EQ(g.ip, "198.18.0.80");
    EXPECT_EQ(g.cert, "stub.lab.test");
    EXPECT_FALSE(g.certOk);
    EXPECT_EQ(g.verdict, "pass"); // the verdict keeps its rule
    EXPECT_EQ(g.dnsCheck.spoof, "yes");
    EXPECT_EQ(g.dnsCheck.genuine, genuine);
    EXPECT_NE(g.dnsCheck.via, "");

    // A name the stub leaves alone, and the check switched off.
    EXPECT_EQ(probeChecked("ya.ru").dnsCheck.spoof, "skip");
    const ProbeResult off = probeChecked("example.com", false);
    EXPECT_EQ(off.ip, "198.18.0.80");
    EXPECT_FALSE(off.dnsCheck.asked);
    EXPECT_EQ(off.dnsCheck.spoof, "skip");
}

// ---------------------------------------------------------------- udp53-redirect

TEST(ProbeLabUdp53Redirect, UdpRowsReadInterceptedTheirStatesStay) {
    const std::vector<NetCheckResult> got = basicChecks();
    ASSERT_EQ(got.size(), 20u);
    for (size_t i = 4; i < 8; ++i) {
        EXPECT_EQ(got[i].state, "ok") << got[i].name;
        EXPECT_EQ(got[i].intercept, "yes") << got[i].name << " " << got[i].detail;
        // The lab resolver's egress answers over UDP, the operator's over DoT.
        EXPECT_TRUE(contains(got[i].detail, " · перехват: whoami 198.18.0.153, по DoT "))
            << got[i].detail;
    }
    for (size_t i = 12; i < 20; ++i)
        EXPECT_EQ(got[i].state, "ok") << got[i].name;
}

} // namespace
} // namespace tv
