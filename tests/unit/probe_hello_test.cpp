// The browser-shaped hello: its bytes parse back with the right server name,
// its fingerprints equal the browsers' published ones, its random parts are
// fresh, and the reader of the server's first record classifies crafted
// replies without reading past them.
//
// Published fingerprints used below:
// - Chrome 153 on Windows: JA4 t13d1517h2_8daaf6152771_cb7bf5808d99,
//   https://github.com/bogdanfinn/tls-client/issues/281 (also refraction-networking/utls #397);
//   the extension order of the Chrome 152 capture in tls-client pull 265.
// - Firefox 154: JA3 MD5 424f6d9c8b8928c0a0489a4f1a0f3e89 and JA4
//   t13d1517h2_8daaf6152771_3cbfd9057e0d, tls.browserleaks.com capture in
//   https://github.com/lexiforest/curl-impersonate/issues/308
#include <gtest/gtest.h>

#include <set>

#include "probe/hello.h"
#include "probe/hello_parse.h"
#include "probe/hello_reply.h"

namespace tv {
namespace {

ClientHelloInfo built(HelloShape shape, const std::string& sni, bool publishedOrder = false,
                      std::string* record = nullptr) {
    std::string bytes;
    EXPECT_TRUE(buildClientHello({shape, sni, publishedOrder}, bytes));
    ClientHelloInfo h;
    EXPECT_TRUE(parseClientHello(bytes, h));
    if (record)
        *record = bytes;
    return h;
}

const KeyShareEntry* share(const ClientHelloInfo& h, uint16_t group) {
    for (const auto& k : h.keyShares)
        if (k.group == group)
            return &k;
    return nullptr;
}

std::string body(const ClientHelloInfo& h, uint16_t type) {
    for (const auto& e : h.extensions)
        if (e.type == type)
            return e.body;
    return "(none)";
}

std::vector<uint16_t> withoutGrease(std::vector<uint16_t> v) {
    std::erase_if(v, isGrease);
    return v;
}

// Every 12-bit coefficient of the ML-KEM key below q (FIPS 203 modulus check).
bool mlKemKeyIsReduced(std::string_view ek) {
    for (size_t i = 0; i + 3 <= 1152; i += 3) {
        const auto b0 = static_cast<uint8_t>(ek[i]), b1 = static_cast<uint8_t>(ek[i + 1]),
                   b2 = static_cast<uint8_t>(ek[i + 2]);
        if ((b0 | (b1 & 0x0F) << 8) >= 3329 || (b1 >> 4 | b2 << 4) >= 3329)
            return false;
    }
    return true;
}

TEST(ProbeHello, BothShapesParseBackWithTheirServerNameAndKeyShares) {
    for (HelloShape shape : {HelloShape::Chrome, HelloShape::Firefox}) {
        for (const std::string sni : {"www.example.com", ""}) {
            SCOPED_TRACE(std::string(shape == HelloShape::Chrome ? "chrome " : "firefox ") + sni);
            std::string record;
            const ClientHelloInfo h = built(shape, sni, false, &record);
            EXPECT_EQ(h.recordVersion, 0x0301);
            EXPECT_EQ(h.legacyVersion, 0x0303);
            EXPECT_EQ(h.sessionId.size(), 32u);
            EXPECT_EQ(h.compression, std::string(1, '\0'));
            EXPECT_EQ(h.hasSni, !sni.empty());
            EXPECT_EQ(h.sni, sni);
            EXPECT_EQ(h.alpn, (std::vector<std::string>{"h2", "http/1.1"}));
            EXPECT_EQ(withoutGrease(h.versions), (std::vector<uint16_t>{0x0304, 0x0303}));
            const KeyShareEntry* hybrid = share(h, 0x11ec);
            const KeyShareEntry* x25519 = share(h, 0x001d);
            ASSERT_TRUE(hybrid && x25519);
            ASSERT_EQ(hybrid->key.size(), 1184u + 32u);
            EXPECT_TRUE(mlKemKeyIsReduced(hybrid->key));
            EXPECT_EQ(x25519->key.size(), 32u);
            EXPECT_EQ(static_cast<uint8_t>(x25519->key[31]) & 0x80, 0);
            if (shape == HelloShape::Chrome) {
                ASSERT_EQ(h.extensions.size(), sni.empty() ? 18u : 19u);
                const auto& first = h.extensions.front();
                const auto& last = h.extensions.back();
                EXPECT_TRUE(isGrease(first.type) && first.body.empty());
                EXPECT_TRUE(isGrease(last.type) && last.body == std::string(1, '\0'));
                EXPECT_NE(first.type, last.type);
                EXPECT_TRUE(isGrease(h.cipherSuites[0]) && isGrease(h.signatureAlgorithms[0]));
                EXPECT_TRUE(isGrease(h.groups[0]));
                EXPECT_EQ(h.keyShares[0].group, h.groups[0]);
                EXPECT_EQ(h.keyShares[0].key, std::string(1, '\0'));
                EXPECT_NE(record.find(std::string("\x44\xcd\x00\x05\x00\x03\x02h2", 9)),
                          std::string::npos);
                // 28 trust anchor IDs, in one order for the whole process.
                EXPECT_EQ(body(h, 0xca34).size(), 186u);
                EXPECT_EQ(body(h, 0xca34), body(built(shape, sni), 0xca34));
            } else {
                EXPECT_EQ(withoutGrease(h.cipherSuites), h.cipherSuites);
                EXPECT_EQ(withoutGrease(h.groups), h.groups);
                const KeyShareEntry* p256 = share(h, 0x0017);
                ASSERT_TRUE(p256);
                EXPECT_EQ(p256->key.size(), 65u);
                EXPECT_EQ(p256->key[0], '\x04');
                EXPECT_EQ(hybrid->key.substr(1184), x25519->key); // NSS reuses the key
            }
        }
    }
}

TEST(ProbeHello, FingerprintsEqualThePublishedOnes) {
    // JA3 of the fixed orders: Chrome's is one capture of its permutation.
    EXPECT_EQ(ja3String(built(HelloShape::Chrome, "a.example", true)),
              "771,4865-4866-4867-49195-49199-49196-49200-52393-52392-49171-49172-156-157-47-53,"
              "51-0-17613-65281-10-27-35-5-23-43-13-18-11-65037-16-45-51764,4588-29-23-24,0");
    EXPECT_EQ(ja3String(built(HelloShape::Firefox, "a.example")),
              "771,4865-4867-4866-49195-49199-52393-52392-49196-49200-49171-49172-156-157-47-53,"
              "0-23-65281-10-11-35-16-5-34-18-51-43-13-45-28-27-65037,"
              "4588-29-23-24-25-256-257,0");
    EXPECT_EQ(ja4(built(HelloShape::Firefox, "a.example")), "t13d1517h2_8daaf6152771_3cbfd9057e0d");
    // JA4 sorts the extensions, so every permutation gives Chrome's one JA4.
    std::set<std::vector<uint16_t>> orders;
    for (int i = 0; i < 12; ++i) {
        const ClientHelloInfo h = built(HelloShape::Chrome, "a.example");
        EXPECT_EQ(ja4(h), "t13d1517h2_8daaf6152771_cb7bf5808d99") << ja4Raw(h);
        std::vector<uint16_t> order;
        for (const auto& e : h.extensions)
            order.push_back(e.type);
        orders.insert(withoutGrease(order));
    }
    EXPECT_GT(orders.size(), 1u);
    EXPECT_EQ(ja4(built(HelloShape::Chrome, "")), "t13i1516h2_8daaf6152771_cb7bf5808d99");
}

TEST(ProbeHello, NoTwoHellosShareRandomBytes) {
    for (HelloShape shape : {HelloShape::Chrome, HelloShape::Firefox}) {
        const ClientHelloInfo a = built(shape, "a.example"), b = built(shape, "a.example");
        EXPECT_NE(a.random, b.random);
        EXPECT_NE(a.sessionId, b.sessionId);
        for (const auto& k : a.keyShares) {
            if (isGrease(k.group))
                continue;
            ASSERT_TRUE(share(b, k.group));
            EXPECT_NE(k.key, share(b, k.group)->key) << k.group;
        }
        EXPECT_NE(body(a, 0xfe0d), body(b, 0xfe0d));
    }
}

TEST(ProbeHello, ParserRejectsTruncatedAndDuplicatedInputWithoutReadingPastIt) {
    std::string record;
    built(HelloShape::Firefox, "a.example", false, &record);
    ClientHelloInfo h;
    for (size_t n = 0; n < record.size(); ++n)
        EXPECT_FALSE(parseClientHello(std::string_view(record).substr(0, n), h)) << n;
    // A second server_name: the first extension's bytes appended again, lengths fixed up.
    std::string dup = record;
    const size_t extStart = 5 + 4 + 2 + 32 + 33 + 2 + 15 * 2 + 2 + 2;
    const size_t sniLen = 4 + (static_cast<uint8_t>(dup[extStart + 2]) << 8 |
                               static_cast<uint8_t>(dup[extStart + 3]));
    dup += dup.substr(extStart, sniLen);
    auto bump = [&](size_t at, int width) {
        size_t v = 0;
        for (int i = 0; i < width; ++i)
            v = v << 8 | static_cast<uint8_t>(dup[at + static_cast<size_t>(i)]);
        v += sniLen;
        for (int i = width - 1; i >= 0; --i, v >>= 8)
            dup[at + static_cast<size_t>(i)] = static_cast<char>(v & 0xFF);
    };
    bump(3, 2);
    bump(6, 3);
    bump(extStart - 2, 2);
    EXPECT_FALSE(parseClientHello(dup, h));
    // Random damage must never crash or read out of bounds.
    uint32_t seed = 12345;
    for (int i = 0; i < 3000; ++i) {
        std::string bad = record;
        for (int j = 0; j < 3; ++j) {
            seed = seed * 1103515245 + 12345;
            bad[(seed >> 8) % bad.size()] = static_cast<char>(seed >> 24);
        }
        parseClientHello(bad, h);
    }
}

std::string serverHello(const std::string& random) {
    std::string body = std::string("\x02\x00\x00\x48\x03\x03", 6) + random + '\x20' +
                       std::string(32, 's') + std::string("\x13\x01\x00\x00\x00", 5);
    return std::string("\x16\x03\x03\x00", 4) + static_cast<char>(body.size()) + body;
}

TEST(ProbeHello, ReplyReaderClassifiesTheFirstRecordOnly) {
    const std::string sh = serverHello(std::string(32, 'r'));
    for (size_t n = 0; n < sh.size(); ++n)
        EXPECT_EQ(readServerRecord(sh.substr(0, n)).kind, ServerRecordKind::Incomplete) << n;
    const ServerRecord r = readServerRecord(sh + "HTTP/1.1 400 Bad Request\r\n");
    EXPECT_EQ(r.kind, ServerRecordKind::ServerHello);
    EXPECT_EQ(r.recordSize, sh.size());
    const std::string hrr("\xcf\x21\xad\x74\xe5\x9a\x61\x11\xbe\x1d\x8c\x02\x1e\x65\xb8\x91"
                          "\xc2\xa2\x11\x16\x7a\xbb\x8c\x5e\x07\x9e\x09\xe2\xc8\xa8\x33\x9c",
                          32);
    EXPECT_EQ(readServerRecord(serverHello(hrr)).kind, ServerRecordKind::HelloRetryRequest);
    const ServerRecord alert = readServerRecord(std::string("\x15\x03\x03\x00\x02\x02\x70", 7));
    EXPECT_EQ(alert.kind, ServerRecordKind::Alert);
    EXPECT_EQ(alert.alertLevel, 2);
    EXPECT_EQ(alert.alertDescription, 112);
    EXPECT_EQ(alertName(112), "unrecognized_name");
    for (const std::string& other : {
             std::string("HTTP/1.1 400 Bad Request\r\n"), // garbage, known from its first byte
             std::string("\x16\x04", 2),                  // no TLS version
             std::string("\x16\x03\x03\xff\xff", 5),      // longer than any record
             std::string("\x16\x03\x03\x00\x00", 5),      // empty record
             std::string("\x15\x03\x03\x00\x01\x02", 6),  // alert cut short
             std::string("\x17\x03\x03\x00\x01\x00", 6),  // application data
             std::string("\x16\x03\x03\x00\x04\x0b\x00\x00\x00", 9), // a Certificate first
         })
        EXPECT_EQ(readServerRecord(other).kind, ServerRecordKind::Other) << other.size();
}

} // namespace
} // namespace tv
