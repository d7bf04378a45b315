#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe/dns_packet.h"
#include "probe/dns_secure.h"
#include "probe/http_requests.h"
#include "probe/sock.h"

namespace tv {
namespace {

// An answer to our example.com query: header with `id`, the question, then
// `records` of (type, rdata), each owned by a pointer to the question name.
std::string answer(uint16_t id, const std::vector<std::pair<uint16_t, std::string>>& records) {
    std::string q;
    EXPECT_TRUE(buildDnsQueryWithId("example.com", id, q));
    q[2] = '\x81';
    q[3] = '\x80';
    q[7] = static_cast<char>(records.size());
    for (const auto& [type, rdata] : records) {
        q += std::string("\xC0\x0C\x00", 3) + static_cast<char>(type) +
             std::string("\0\1\0\0\0\x3C\0", 7);
        q += static_cast<char>(rdata.size());
        q += rdata;
    }
    return q;
}

std::vector<std::string> addrs(const DnsAnswerSet& s) {
    std::vector<std::string> out;
    for (uint32_t a : s.addrsBe)
        out.push_back(formatIPv4(a));
    return out;
}

DnsAnswerSet parseAll(const std::string& m, uint16_t id) {
    return parseDnsAnswerAll(reinterpret_cast<const uint8_t*>(m.data()), m.size(), id);
}

TEST(Base64Url, Rfc4648VectorsWithoutPadding) {
    const std::pair<std::string, std::string> cases[] = {{"", ""},
                                                         {"f", "Zg"},
                                                         {"fo", "Zm8"},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg"},
                                                         {"fooba", "Zm9vYmE"},
                                                         {"foobar", "Zm9vYmFy"},
                                                         {"\xfb\xff", "-_8"},
                                                         {"\xff\xfe\xfd", "__79"}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(base64UrlEncode(in), out) << out;
}

TEST(DohRequest, BothFormsCarryTheQuery) {
    // RFC 8484 section 4.1.1: www.example.com A with id 0.
    std::string q;
    ASSERT_TRUE(buildDnsQueryWithId("www.example.com", 0, q));
    const std::string b64 = "AAABAAABAAAAAAAAA3d3dwdleGFtcGxlA2NvbQAAAQAB";
    EXPECT_EQ(base64UrlEncode(q), b64);

    const std::string tail = "Host: dns.test\r\nUser-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; "
                             "x64)\r\nAccept: application/dns-message\r\n";
    EXPECT_EQ(buildDohGet("dns.test", q, false), "GET /dns-query?dns=" + b64 + " HTTP/1.1\r\n" +
                                                     tail + "Connection: keep-alive\r\n\r\n");
    EXPECT_EQ(buildDohGet("dns.test", q, true, "/q?ct").substr(0, 12), "GET /q?ct&dn");
    EXPECT_EQ(buildDohPost("dns.test", q, true),
              "POST /dns-query HTTP/1.1\r\n" + tail +
                  "Content-Type: application/dns-message\r\nContent-Length: 33\r\n"
                  "Connection: close\r\n\r\n" +
                  q);
}

TEST(DnsStream, FramedMessagesAtEverySplit) {
    const std::string a = answer(1, {{1, "\x01\x02\x03\x04"}});
    const std::string b =
        answer(2, {{5, std::string("\x03www\xC0\x0C", 6)}, {1, "\x05\x06\x07\x08"}});
    const std::string big = answer(
        3, std::vector<std::pair<uint16_t, std::string>>(200, {1, std::string("\x0A\0\0\x01", 4)}));
    std::string wire, f;
    for (const std::string* m : {&a, &b, &big}) {
        ASSERT_TRUE(frameDnsStream(*m, f));
        ASSERT_EQ(f.size(), m->size() + 2);
        wire += f;
    }
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        DnsStreamReader r;
        r.feed(wire.substr(0, cut));
        r.feed(wire.substr(cut));
        ASSERT_EQ(r.count(), 3u) << cut;
        ASSERT_EQ(r.messages(), (std::vector<std::string>{a, b, big})) << cut;
        ASSERT_FALSE(r.midMessage());
    }
    DnsStreamReader part;
    part.feed(wire.substr(0, wire.size() - 1));
    EXPECT_EQ(part.count(), 2u);
    EXPECT_TRUE(part.midMessage());

    const DnsAnswerSet second = parseAll(b, 2);
    EXPECT_EQ(second.detail, "A 5.6.7.8");
    EXPECT_EQ(parseAll(big, 3).addrsBe.size(), 200u);
}

TEST(DnsStream, Bounds) {
    std::string f = "keep";
    EXPECT_FALSE(frameDnsStream(std::string(65536, 'x'), f));
    EXPECT_EQ(f, "keep");
    ASSERT_TRUE(frameDnsStream(std::string(65535, 'x'), f));
    EXPECT_EQ(f.substr(0, 2), "\xFF\xFF");

    // A length shorter than a DNS header stops the reader; bytes still count.
    DnsStreamReader bad;
    bad.feed(std::string("\0\x0B", 2) + std::string(40, 'z'));
    EXPECT_TRUE(bad.malformed());
    EXPECT_EQ(bad.count(), 0u);
    EXPECT_EQ(bad.bytesIn(), 42u);

    // A flood of messages is counted; only the first few are kept.
    DnsStreamReader many;
    ASSERT_TRUE(frameDnsStream(answer(9, {}), f));
    for (int i = 0; i < 20; ++i)
        many.feed(f);
    EXPECT_EQ(many.count(), 20u);
    EXPECT_EQ(many.messages().size(), kDnsStreamKeep);
}

TEST(DnsAnswerAll, EveryARecordByTheSameRulesAsTheFirst) {
    const std::string m = answer(0x5AA5, {{1, "\x01\x01\x01\x01"},
                                          {5, std::string("\x03www\xC0\x0C", 6)},
                                          {1, "\x02\x02\x02"}, // short A: skipped
                                          {28, std::string(16, '\xAA')},
                                          {1, "\x03\x03\x03\x03"}});
    const DnsAnswerSet all = parseAll(m, 0x5AA5);
    EXPECT_EQ(stateWord(all.state), "ok");
    EXPECT_EQ(addrs(all), (std::vector<std::string>{"1.1.1.1", "3.3.3.3"}));
    EXPECT_EQ(parseAll(m, 0).detail, "bad id");
    EXPECT_EQ(parseAll(answer(0, {{1, "\x04\x04\x04\x04"}}), 0).detail, "A 4.4.4.4");

    // Any prefix, and a cut answer: what parseDnsAnswer says, plus the
    // addresses read before the cut.
    for (size_t n = 0; n <= m.size(); ++n) {
        const auto* d = reinterpret_cast<const uint8_t*>(m.data());
        const DnsVerdict one = parseDnsAnswer(d, n);
        const DnsAnswerSet set = parseDnsAnswerAll(d, n, kDnsQueryId);
        ASSERT_EQ(set.state, one.state) << n;
        ASSERT_EQ(set.detail, one.detail) << n;
        ASSERT_EQ(set.addrsBe.size(), n == m.size() ? 2u : (one.state == State::Ok ? 1u : 0u)) << n;
    }
    std::string nx = answer(0x5AA5, {});
    nx[3] = '\x83';
    EXPECT_EQ(stateWord(parseAll(nx, 0x5AA5).state), "nx");
}

} // namespace
} // namespace tv
