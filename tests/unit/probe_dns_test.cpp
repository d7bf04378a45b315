#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe/dns_packet.h"

namespace tv {
namespace {

using Bytes = std::vector<uint8_t>;

DnsVerdict parse(const Bytes& b) {
    return parseDnsAnswer(b.data(), b.size());
}

// Element by element: vector::insert trips a false -Warray-bounds of g++ 12 at -O3.
void add(Bytes& b, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        b.push_back(p[i]);
}
void add(Bytes& b, const Bytes& more) {
    add(b, more.data(), more.size());
}

// A response header: id 5AA5, QR|RD|RA, the given rcode and answer count,
// then the question for example.com A IN.
Bytes header(unsigned answers, unsigned rcode = 0) {
    Bytes b = {0x5A, 0xA5, 0x81, static_cast<uint8_t>(0x80 | rcode),
               0,    1,    0,    static_cast<uint8_t>(answers),
               0,    0,    0,    0};
    const uint8_t q[] = {7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'c', 'o', 'm', 0, 0, 1, 0, 1};
    add(b, q, sizeof q);
    return b;
}

// A record after the owner name `owner`: type, class IN, TTL 60, rdata.
void record(Bytes& b, const Bytes& owner, uint16_t type, const Bytes& rdata) {
    add(b, owner);
    const uint8_t fixed[] = {static_cast<uint8_t>(type >> 8),
                             static_cast<uint8_t>(type),
                             0,
                             1,
                             0,
                             0,
                             0,
                             60,
                             static_cast<uint8_t>(rdata.size() >> 8),
                             static_cast<uint8_t>(rdata.size())};
    add(b, fixed, sizeof fixed);
    add(b, rdata);
}

const Bytes kPtrQuestion = {0xC0, 12};

TEST(DnsQuery, ExactBytesForExampleCom) {
    std::string q;
    ASSERT_TRUE(buildDnsQuery("example.com", q));
    const std::string want("\x5A\xA5\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00"
                           "\x07"
                           "example\x03"
                           "com\x00\x00\x01\x00\x01",
                           29);
    EXPECT_EQ(q, want);
    EXPECT_EQ(q.size(), 17u + 12u); // 17 + n, n = 12 label bytes
    std::string withDot;
    ASSERT_TRUE(buildDnsQuery("example.com.", withDot));
    EXPECT_EQ(withDot, q); // a trailing dot adds no empty label
}

TEST(DnsQuery, RefusesNamesThatCannotBeEncoded) {
    std::string q;
    EXPECT_FALSE(buildDnsQuery("a..b", q));
    EXPECT_FALSE(buildDnsQuery(".a", q));
    EXPECT_FALSE(buildDnsQuery("a..", q));
    EXPECT_FALSE(buildDnsQuery(std::string(64, 'x') + ".com", q));
    EXPECT_TRUE(buildDnsQuery(std::string(63, 'x') + ".com", q));
    // 495 bytes of labels fit the 512-byte buffer, 496 do not.
    std::string name;
    for (int i = 0; i < 7; ++i)
        name += std::string(63, 'a') + ".";
    name += std::string(52, 'b'); // 7*64 + 53 = 501 bytes of labels
    EXPECT_FALSE(buildDnsQuery(name, q));
    name.resize(name.size() - 6); // 495
    ASSERT_TRUE(buildDnsQuery(name, q));
    EXPECT_EQ(q.size(), 512u);
}

TEST(DnsAnswer, CnameChainThenA) {
    Bytes b = header(3);
    record(b, kPtrQuestion, 5, {3, 'w', 'w', 'w', 0xC0, 12});
    record(b, {0xC0, 41}, 5, {2, 'c', 'd', 'n', 0xC0, 12}); // owner: www.example.com
    record(b, {0xC0, 59}, 1, {93, 184, 216, 34});           // owner: cdn.example.com
    const DnsVerdict v = parse(b);
    EXPECT_EQ(stateWord(v.state), "ok");
    EXPECT_EQ(v.detail, "A 93.184.216.34");
}

TEST(DnsAnswer, FullNamesWithoutPointers) {
    Bytes b = header(2);
    const Bytes full = {7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'c', 'o', 'm', 0};
    record(b, full, 28, Bytes(16, 0xAA)); // AAAA first: skipped
    record(b, full, 1, {10, 0, 0, 1});
    EXPECT_EQ(parse(b).detail, "A 10.0.0.1");
}

TEST(DnsAnswer, OwnerNameOfLabelsEndingInAPointer) {
    // "www" + pointer: a compressed name that is not a bare pointer.
    Bytes b = header(1);
    record(b, {3, 'w', 'w', 'w', 0xC0, 12}, 1, {1, 2, 3, 4});
    EXPECT_EQ(parse(b).detail, "A 1.2.3.4");
}

TEST(DnsAnswer, OnlyAnARecordOfLengthFourCounts) {
    Bytes b = header(2);
    record(b, kPtrQuestion, 1, {1, 2, 3, 4, 5}); // A with 5 bytes: skipped
    record(b, kPtrQuestion, 1, {5, 6, 7, 8});
    EXPECT_EQ(parse(b).detail, "A 5.6.7.8");
}

TEST(DnsAnswer, HeaderOutcomes) {
    Bytes bad = header(1);
    record(bad, kPtrQuestion, 1, {1, 2, 3, 4});
    bad[1] = 0xA6;
    EXPECT_EQ(stateWord(parse(bad).state), "fail");
    EXPECT_EQ(parse(bad).detail, "bad id");

    EXPECT_EQ(stateWord(parse(header(0, 3)).state), "nx");
    EXPECT_EQ(parse(header(0, 3)).detail, "rcode 3");
    EXPECT_EQ(stateWord(parse(header(0, 5)).state), "fail");
    EXPECT_EQ(parse(header(0, 5)).detail, "rcode 5");
    EXPECT_EQ(parse(header(0, 2)).detail, "rcode 2");

    const DnsVerdict empty = parse(header(0));
    EXPECT_EQ(stateWord(empty.state), "fail");
    EXPECT_EQ(empty.detail, "empty answer");

    const Bytes shortOne = {0x5A, 0xA5, 0x81, 0x80, 0, 1, 0, 1, 0, 0, 0};
    EXPECT_EQ(stateWord(parse(shortOne).state), "fail");
    EXPECT_EQ(parse(shortOne).detail, "WSA 0");
    EXPECT_EQ(parseDnsAnswer(nullptr, 0).detail, "WSA 0");
}

// Hostile datagrams: each must end in a clean "empty answer" (the tests run
// under the sanitizers in CI's fuzzing job as well).
TEST(DnsAnswer, HostilePacketsStayInBounds) {
    std::vector<Bytes> cases;
    // Answer count far beyond the records present.
    {
        Bytes b = header(255);
        record(b, kPtrQuestion, 5, {0xC0, 12});
        cases.push_back(b);
    }
    // A record whose data length runs past the end.
    {
        Bytes b = header(1);
        record(b, kPtrQuestion, 1, {1, 2, 3, 4});
        b[b.size() - 6] = 0x40; // rdlength 0x4004
        cases.push_back(b);
    }
    // An A record cut short after two data bytes.
    {
        Bytes b = header(1);
        record(b, kPtrQuestion, 1, {1, 2, 3, 4});
        b.resize(b.size() - 2);
        cases.push_back(b);
    }
    // A label length pointing past the end, in the question and in a record.
    {
        Bytes b = {0x5A, 0xA5, 0x81, 0x80, 0, 1, 0, 1, 0, 0, 0, 0, 200, 'a'};
        cases.push_back(b);
        Bytes c = header(1);
        add(c, {60, 'x', 'y', 0, 1, 0, 1, 0, 0, 0, 0, 0, 4, 1, 2});
        cases.push_back(c);
    }
    // A pointer as the very last byte, and a pointer to itself.
    {
        Bytes b = header(1);
        b.push_back(0xC0);
        cases.push_back(b);
        Bytes c = header(2);
        record(c, {0xC0, 29}, 5, {0xC0, 29});
        cases.push_back(c);
    }
    // The question never ends: no zero byte at all.
    cases.push_back({0x5A, 0xA5, 0x81, 0x80, 0, 1, 0, 1, 0, 0, 0, 0, 3, 'a', 'b', 'c', 1, 'x'});
    for (size_t i = 0; i < cases.size(); ++i) {
        const DnsVerdict v = parse(cases[i]);
        EXPECT_EQ(stateWord(v.state), "fail") << "case " << i;
        EXPECT_EQ(v.detail, "empty answer") << "case " << i;
    }
    // Every prefix of a good answer parses without reading past its end;
    // only the complete one yields the address.
    Bytes good = header(2);
    record(good, kPtrQuestion, 5, {3, 'w', 'w', 'w', 0xC0, 12});
    record(good, {0xC0, 41}, 1, {9, 9, 9, 9});
    for (size_t n = 0; n < good.size(); ++n) {
        const Bytes prefix(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_NE(stateWord(parse(prefix).state), "ok") << "prefix " << n;
    }
    EXPECT_EQ(parse(good).detail, "A 9.9.9.9");
}

} // namespace
} // namespace tv
