// The DNS findings without a network: reading DoH and DoT answers, the
// interception rule, the wire keys and the scan option from page to probe.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "bridge/dispatcher.h"
#include "bridge/protocol.h"
#include "bridge/runs.h"
#include "probe/dns_answers.h"
#include "probe/dns_forensics.h"
#include "probe/dns_secure.h"
#include "probe/sock.h"
#include "ui_recorder.h"

namespace tv {
namespace {

// An answer to the query for `name` with id `id` and one A record per address.
std::string answer(const std::string& name, uint16_t id, const std::vector<std::string>& addrs) {
    std::string m;
    EXPECT_TRUE(buildDnsQueryWithId(name, id, m));
    m[2] = '\x81';
    m[3] = '\x80';
    m[7] = static_cast<char>(addrs.size());
    for (const std::string& a : addrs) {
        uint32_t be = 0;
        EXPECT_TRUE(parseIPv4(a, be));
        m += std::string("\xC0\x0C\0\1\0\1\0\0\0\x3C\0\4", 12);
        m.append(reinterpret_cast<const char*>(&be), 4);
    }
    return m;
}

std::string http(const std::string& status, const std::string& type, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

DnsAnswerSet viaDoh(const std::string& bytes, bool end = false) {
    DohAnswerReader r(0);
    // Fed a byte at a time: the answer must not depend on the pieces.
    for (char c : bytes)
        r.feed(std::string_view(&c, 1));
    if (end)
        r.finish();
    return r.answer();
}

TEST(DohAnswer, StatusTypeAndBodyBeforeTheDnsReader) {
    const std::string ok = answer("example.com", 0, {"198.19.1.9", "198.19.1.10"});
    DnsAnswerSet a = viaDoh(http("200 OK", "Application/DNS-Message; q=1", ok));
    EXPECT_EQ(a.detail, "A 198.19.1.9");
    EXPECT_EQ(a.addrsBe.size(), 2u);
    EXPECT_TRUE(isDnsReply(a));

    EXPECT_EQ(viaDoh(http("415 Unsupported Media Type", "text/plain", "")).detail, "HTTP 415");
    EXPECT_EQ(viaDoh(http("200 OK", "text/html", ok)).detail, "not a DNS message");
    EXPECT_EQ(
        viaDoh(http("200 OK", "application/dns-message", answer("example.com", 7, {}))).detail,
        "bad id");
    EXPECT_EQ(viaDoh("SSH-2.0-x\r\n\r\n").detail, "bad response");
    // Half a response is no answer yet; a close ends a body without a length.
    EXPECT_EQ(viaDoh(http("200 OK", "application/dns-message", ok).substr(0, 60)).detail,
              "no answer");
    EXPECT_EQ(viaDoh("HTTP/1.1 200 OK\r\nContent-Type: application/dns-message\r\n\r\n" + ok, true)
                  .detail,
              "A 198.19.1.9");
    for (const char* d : {"HTTP 415", "not a DNS message", "bad id", "no answer"}) {
        DnsAnswerSet x;
        x.detail = d;
        EXPECT_FALSE(isDnsReply(x)) << d;
    }
}

TEST(DotAnswer, MatchedByIdInAnyOrder) {
    const std::vector<std::string> msgs = {answer("whoami.akamai.net", 0x5AA6, {"172.68.135.10"}),
                                           answer("example.com", 0x5AA5, {"198.19.1.9"})};
    EXPECT_EQ(pickDotAnswer(msgs, 0x5AA5).detail, "A 198.19.1.9");
    EXPECT_EQ(pickDotAnswer(msgs, 0x5AA6).detail, "A 172.68.135.10");
    EXPECT_EQ(pickDotAnswer(msgs, 0x5AA7).detail, "no answer");
}

DnsAnswerSet whoami(const char* addr) {
    const std::string m = answer("whoami.akamai.net", kDnsQueryId, {addr});
    return parseDnsAnswerAll(reinterpret_cast<const uint8_t*>(m.data()), m.size(), kDnsQueryId);
}

TEST(Interception, SameSlash16IsTheSameOperator) {
    // The egress moves within the operator's block from query to query.
    EXPECT_EQ(judgeInterception(whoami("172.253.226.10"), whoami("172.253.5.200")).word,
              kInterceptNo);
    const InterceptFinding f = judgeInterception(whoami("198.18.0.153"), whoami("172.253.226.11"));
    EXPECT_EQ(f.word, kInterceptYes);
    EXPECT_EQ(f.note, " · перехват: whoami 198.18.0.153, по DoT 172.253.226.11");
    // A neighbouring /16 is another operator's.
    EXPECT_EQ(judgeInterception(whoami("172.252.226.10"), whoami("172.253.226.10")).word,
              kInterceptYes);
    // Nothing to compare without both answers.
    DnsAnswerSet none;
    none.detail = "no reply";
    EXPECT_EQ(judgeInterception(none, whoami("172.253.226.10")).word, kSkip);
    EXPECT_EQ(judgeInterception(whoami("172.253.226.10"), none).word, kSkip);
}

TEST(DnsWire, KeysAfterTheVerdictOnlyWhenAsked) {
    ProbeResult r = makeProbeResult("g.com", "g.com");
    r.verdict = "pass";
    const std::string plain = buildRes(1, 0, r);
    EXPECT_EQ(plain.find("dnsSpoof"), std::string::npos);
    r.dnsCheck = {true, "yes", "198.19.1.1", "dot 77.88.8.8"};
    EXPECT_EQ(buildRes(1, 0, r),
              plain.substr(0, plain.size() - 1) +
                  R"(,"dnsSpoof":"yes","dnsGenuine":"198.19.1.1","dnsVia":"dot 77.88.8.8"})");

    NetCheckResult n{"DNS по UDP/53", "Google 8.8.8.8", "ok", "A 1.2.3.4", 3, ""};
    const std::string bare = buildNet(2, n);
    EXPECT_EQ(bare.find("intercept"), std::string::npos);
    n.intercept = "yes";
    EXPECT_EQ(buildNet(2, n), bare.substr(0, bare.size() - 1) + R"(,"intercept":"yes"})");
}

TEST(DnsWire, ScanOptionReachesTheProbe) {
    ScanRequest q;
    q.run = 5;
    q.mode = "domains";
    q.timeoutMs = 500;
    q.threads = 1;
    q.jobs = "a.ru";
    EXPECT_EQ(splitCommand(buildScanCommand(q)).size(), ScanField::count);
    q.dnsCheck = true;
    const std::string cmd = buildScanCommand(q);
    const auto f = splitCommand(cmd);
    ASSERT_EQ(f.size(), ScanField::dnscheck + 1);
    EXPECT_EQ(f[ScanField::xfer], kScanXferDefault);
    EXPECT_EQ(f[ScanField::hello], kScanHelloDefault);
    EXPECT_EQ(f[ScanField::repeat], kScanRepeatDefault);

    std::atomic<int> seen{-1};
    RunEngine fake;
    fake.probe = [&](const ProbeJob& j, const ProbeOptions& o) {
        seen = o.dnsCheck ? 1 : 0;
        ProbeResult r = makeProbeResult(j.host, j.sni);
        r.dnsCheck.asked = o.dnsCheck;
        return r;
    };
    setRunEngine(fake);
    for (const auto& [command, on] :
         {std::pair{cmd, true}, std::pair{cmd.substr(0, cmd.rfind('\t')) + "\t0", false},
          std::pair{cmd.substr(0, cmd.find("\t0\tlib")), false}}) {
        test::UiRecorder rec;
        dispatchCommand(command);
        ASSERT_TRUE(rec.waitForDone(5));
        EXPECT_EQ(seen.load(), on ? 1 : 0) << command;
        const auto res = test::UiRecorder::ofKind(rec.messages(), "res");
        ASSERT_EQ(res.size(), 1u);
        EXPECT_EQ(res[0].find("\"dnsSpoof\":\"skip\"") != std::string::npos, on);
    }
    setRunEngine({});
}

} // namespace
} // namespace tv
