#include <gtest/gtest.h>

#include <string>

#include "probe/errors.h"
#include "probe/sock.h"
#include "probe/tls.h"

namespace tv {
namespace {

TEST(ProbeErrors, TcpClassificationKeepsTheAsymmetry) {
    // Immediate failures never read as a time-out; after the wait, 10060 does.
    EXPECT_EQ(stateWord(tcpStateImmediate(10061)), "refused");
    EXPECT_EQ(stateWord(tcpStateImmediate(10054)), "reset");
    EXPECT_EQ(stateWord(tcpStateImmediate(10060)), "fail");
    EXPECT_EQ(stateWord(tcpStateImmediate(10051)), "fail");
    EXPECT_EQ(stateWord(tcpStateAfterWait(10061)), "refused");
    EXPECT_EQ(stateWord(tcpStateAfterWait(10054)), "reset");
    EXPECT_EQ(stateWord(tcpStateAfterWait(10060)), "timeout");
    EXPECT_EQ(stateWord(tcpStateAfterWait(10065)), "fail");
    EXPECT_EQ(stateWord(tcpStateAfterWait(0)), "fail"); // only the exception set reported
}

TEST(ProbeErrors, ResolverClassesAndTexts) {
    EXPECT_EQ(stateWord(dnsStateFromResolveError(11001)), "nx");
    EXPECT_EQ(stateWord(dnsStateFromResolveError(11004)), "nx");
    EXPECT_EQ(stateWord(dnsStateFromResolveError(11002)), "timeout");
    EXPECT_EQ(stateWord(dnsStateFromResolveError(11003)), "fail");
    EXPECT_EQ(stateWord(dnsStateFromResolveError(8)), "fail");
    EXPECT_EQ(socketErrorText(10061), "WSA 10061");
    EXPECT_EQ(socketErrorText(0), "WSA 0");
    EXPECT_EQ(socketErrorText(-5), "WSA -5");
    EXPECT_EQ(tlsStatusText(0x80090304u), "0x80090304");
    EXPECT_EQ(tlsStatusText(0x0A000458u), "0x0A000458");
    EXPECT_EQ(tlsStatusText(0), "0x00000000");
}

TEST(ProbeSockets, TimeoutSplit) {
    const TimeSplit a = splitTimeout(1500);
    EXPECT_EQ(a.sec, 1);
    EXPECT_EQ(a.usec, 500000);
    const TimeSplit b = splitTimeout(999);
    EXPECT_EQ(b.sec, 0);
    EXPECT_EQ(b.usec, 999000);
    const TimeSplit c = splitTimeout(60000);
    EXPECT_EQ(c.sec, 60);
    EXPECT_EQ(c.usec, 0);
}

TEST(ProbeSockets, Ipv4LiteralsAreStrict) {
    uint32_t a = 0;
    ASSERT_TRUE(parseIPv4("1.2.3.4", a));
    EXPECT_EQ(formatIPv4(a), "1.2.3.4");
    EXPECT_EQ(netToHost32(a), 0x01020304u); // network byte order
    ASSERT_TRUE(parseIPv4("255.255.255.0", a));
    EXPECT_EQ(formatIPv4(a), "255.255.255.0");
    ASSERT_TRUE(parseIPv4("0.0.0.0", a));
    for (const char* bad :
         {"1.2.3", "1.2.3.4.5", "256.1.1.1", "01.2.3.4", "1.2.3.4 ", " 1.2.3.4", "1..2.3", "1.2.3.",
          "a.b.c.d", "1.2.3.-4", "1234.1.1.1", "", "0x1.2.3.4", "example.com"})
        EXPECT_FALSE(parseIPv4(bad, a)) << bad;
    uint16_t port = hostToNet16(0x01BB);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&port);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[1], 0xBB);
}

TEST(ProbeCertName, SanitisedAndCutAt255Utf16Units) {
    EXPECT_EQ(certDisplayName("ok.lab.test"), "ok.lab.test");
    EXPECT_EQ(certDisplayName(std::string("evil.com\0.good.com", 18)), "evil.com");
    EXPECT_EQ(certDisplayName("bad\xFF"
                              "byte"),
              "bad\xEF\xBF\xBD"
              "byte");
    EXPECT_EQ(certDisplayName(std::string(300, 'a')), std::string(255, 'a'));
    // Cyrillic letters are one unit each (two bytes in UTF-8).
    std::string cyr;
    for (int i = 0; i < 300; ++i)
        cyr += "я";
    EXPECT_EQ(certDisplayName(cyr).size(), 255u * 2);
    // A character outside the BMP takes two units and is never split.
    const std::string emoji = "\xF0\x9F\x98\x80";
    const std::string name = std::string(254, 'a') + emoji;
    EXPECT_EQ(certDisplayName(name), std::string(254, 'a'));
    EXPECT_EQ(certDisplayName(std::string(253, 'a') + emoji), std::string(253, 'a') + emoji);
}

} // namespace
} // namespace tv
