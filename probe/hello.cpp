// The ClientHello builder. Where each byte comes from (all public):
//
// Chrome 153 stable on Windows 11 (BoringSSL):
// - JA4 t13d1517h2_8daaf6152771_cb7bf5808d99 of real Chrome 150.0.7871.124 and
//   153.0.8010.48 on Windows, with trust_anchors (0xca34) and no server_padding:
//   https://github.com/bogdanfinn/tls-client/issues/281; the same JA4 and its
//   sorted extension list (JA4_r): https://github.com/refraction-networking/utls/issues/397
// - GREASE first in signature_algorithms, then ML-DSA 0x0904..0x0906 ahead of
//   the classical eight: https://github.com/bogdanfinn/tls-client/pull/265
//   (Chrome 152), https://github.com/apify/impit/pull/510 (Chrome 151, Windows 11)
// - The 28 trust anchor IDs (Chrome Root Store 39, 186 bytes), one order per
//   process: tls-client pull 265 (152.0.7977.64/.65, Windows 11 among them)
//   and https://github.com/bogdanfinn/tls-client/pull/275 (153.0.8010.37, Windows 11 25H2)
// - Cipher suites, groups, key shares (GREASE with one zero byte,
//   X25519MLKEM768 of 1216 bytes, x25519), versions, ALPN, ALPS "h2" under
//   0x44cd, ECH outer layout, extension bodies: the tls.browserleaks.com capture
//   of Chrome 143 in https://github.com/service0427/v2_cp_app (tls.md) and the
//   Chrome 135 JA3/JA4_r in https://github.com/lexiforest/curl_cffi/issues/529
// - GREASE derivation (seed & 0xf0 | 0x0a, two distinct extension values, one
//   group value for supported_groups and key_share), the empty first and the
//   one-byte last GREASE extension, the permutation of all other extensions,
//   ECH GREASE payload 32 * [4, 7] + 16 bytes: BoringSSL handshake_client.cc /
//   extensions.cc, as quoted in https://github.com/FoxIO-LLC/ja4/issues/31
// - The published order (publishedOrder): the Chrome 152 capture as carried in
//   the chrome_152 profile of tls-client pull 265.
//
// Firefox 154 (NSS), normal window:
// - JA3 and JA4 t13d1517h2_8daaf6152771_3cbfd9057e0d, extension order
//   (JA4_ro), signature algorithms: the tls.browserleaks.com capture in
//   https://github.com/lexiforest/curl-impersonate/issues/308; Firefox 154 on
//   Windows 10 (same suites, certificate compression zlib, brotli, zstd):
//   https://github.com/lexiforest/curl_cffi/issues/850
// - delegated_credentials with ecdsa_sha1 last:
//   https://github.com/Noooste/azuretls-client/issues/53; key shares
//   X25519MLKEM768 (reusing the x25519 key), x25519, secp256r1;
//   record_size_limit 0x4001; ECH GREASE payload 239 bytes: the Firefox 144
//   profile of enetx/surf (profiles/firefox/144.go); session_ticket and
//   psk_key_exchange_modes are left out only in private windows:
//   https://github.com/refraction-networking/utls/issues/390
//
// Formats: RFC 8446 (TLS 1.3), RFC 8701 (GREASE), draft-ietf-tls-esni (ECH,
// 0xfe0d), draft-ietf-tls-ecdhe-mlkem (X25519MLKEM768 = 0x11ec, the ML-KEM
// key first), FIPS 203 (ByteEncode12, modulus check), draft-vvv-tls-alps
// (application_settings, 0x44cd since Chrome 133), draft-ietf-tls-trust-anchor-ids,
// RFC 8449 (record_size_limit), RFC 9345 (delegated credentials), RFC 8879
// (compress_certificate), RFC 7748 (X25519 encodings).
#include "probe/hello.h"

#include <array>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "probe/hello_crypto.h"

namespace tv {
namespace {

// Random bytes for one hello. A failure sticks: the hello is then not built.
class Rng {
public:
    void fill(uint8_t* p, size_t n) {
        if (ok_ && !helloRandomBytes(p, n))
            ok_ = false;
        if (!ok_)
            std::memset(p, 0, n);
    }
    uint8_t byte() {
        uint8_t b = 0;
        fill(&b, 1);
        return b;
    }
    // Uniform in [0, n), n > 0.
    uint32_t below(uint32_t n) {
        const uint32_t limit = UINT32_MAX - UINT32_MAX % n;
        for (;;) {
            uint8_t b[4];
            fill(b, 4);
            const uint32_t v =
                (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
            if (!ok_ || v < limit)
                return v % n;
        }
    }
    std::string bytes(size_t n) {
        std::string s(n, '\0');
        fill(reinterpret_cast<uint8_t*>(s.data()), n);
        return s;
    }
    bool ok() const { return ok_; }
    void fail() { ok_ = false; }

private:
    bool ok_ = true;
};

// Big-endian writer with length fields patched once their content is written.
class Writer {
public:
    struct Mark {
        size_t at;
        int width;
    };
    explicit Writer(std::string& s) : s_(s) {}
    void u8(unsigned v) { s_ += static_cast<char>(v & 0xFF); }
    void u16(unsigned v) {
        u8(v >> 8);
        u8(v);
    }
    void bytes(std::string_view v) { s_.append(v); }
    Mark open(int width) {
        const Mark m{s_.size(), width};
        s_.append(static_cast<size_t>(width), '\0');
        return m;
    }
    void close(Mark m) {
        size_t len = s_.size() - m.at - static_cast<size_t>(m.width);
        for (int i = m.width - 1; i >= 0; --i) {
            s_[m.at + static_cast<size_t>(i)] = static_cast<char>(len & 0xFF);
            len >>= 8;
        }
    }
    void u16List(std::initializer_list<uint16_t> values) {
        const Mark m = open(2);
        for (uint16_t v : values)
            u16(v);
        close(m);
    }

private:
    std::string& s_;
};

template <class F> std::string body(F&& write) {
    std::string s;
    Writer w(s);
    write(w);
    return s;
}

struct Extension {
    uint16_t type;
    std::string body;
};

// Extension types.
constexpr uint16_t kServerName = 0x0000;
constexpr uint16_t kStatusRequest = 0x0005;
constexpr uint16_t kSupportedGroups = 0x000a;
constexpr uint16_t kPointFormats = 0x000b;
constexpr uint16_t kSignatureAlgorithms = 0x000d;
constexpr uint16_t kAlpn = 0x0010;
constexpr uint16_t kSct = 0x0012;
constexpr uint16_t kExtendedMasterSecret = 0x0017;
constexpr uint16_t kCompressCertificate = 0x001b;
constexpr uint16_t kRecordSizeLimit = 0x001c;
constexpr uint16_t kDelegatedCredentials = 0x0022;
constexpr uint16_t kSessionTicket = 0x0023;
constexpr uint16_t kSupportedVersions = 0x002b;
constexpr uint16_t kPskModes = 0x002d;
constexpr uint16_t kKeyShare = 0x0033;
constexpr uint16_t kApplicationSettings = 0x44cd;
constexpr uint16_t kTrustAnchors = 0xca34;
constexpr uint16_t kEncryptedClientHello = 0xfe0d;
constexpr uint16_t kRenegotiationInfo = 0xff01;

// Groups.
constexpr uint16_t kX25519MlKem768 = 0x11ec;
constexpr uint16_t kX25519 = 0x001d;
constexpr uint16_t kSecp256r1 = 0x0017;

// One hello's GREASE values (RFC 8701), drawn as BoringSSL draws them.
struct Grease {
    uint16_t cipher, group, ext1, ext2, version, sigalg;
    uint8_t echConfigId;
};

uint16_t greaseValue(uint8_t seed) {
    const uint16_t v = static_cast<uint16_t>((seed & 0xF0) | 0x0A);
    return static_cast<uint16_t>(v << 8 | v);
}

Grease drawGrease(Rng& rng) {
    uint8_t seed[7];
    rng.fill(seed, sizeof seed);
    Grease g{greaseValue(seed[0]),
             greaseValue(seed[1]),
             greaseValue(seed[2]),
             greaseValue(seed[3]),
             greaseValue(seed[4]),
             greaseValue(seed[5]),
             seed[6]};
    // The two GREASE extensions may not share a type (a duplicate would be fatal).
    if (g.ext2 == g.ext1)
        g.ext2 ^= 0x1010;
    return g;
}

// An ML-KEM-768 encapsulation key (FIPS 203): the three NTT-domain
// polynomials of t, 256 coefficients each, drawn uniformly below q = 3329 by
// rejection (as SampleNTT parses bytes) and packed 12 bits per coefficient,
// then the 32-byte seed rho. Such a key passes the modulus check; a real key's
// t is indistinguishable from uniform.
constexpr size_t kMlKemEkSize = 1184;
std::string mlKem768EncapsulationKey(Rng& rng) {
    constexpr uint16_t kQ = 3329;
    constexpr size_t kCount = 3 * 256;
    std::array<uint16_t, kCount> c{};
    size_t n = 0;
    uint8_t buf[504];
    while (n < kCount && rng.ok()) {
        rng.fill(buf, sizeof buf);
        for (size_t i = 0; i + 3 <= sizeof buf && n < kCount; i += 3) {
            const uint16_t d1 = static_cast<uint16_t>(buf[i] | ((buf[i + 1] & 0x0F) << 8));
            const uint16_t d2 = static_cast<uint16_t>((buf[i + 1] >> 4) | (buf[i + 2] << 4));
            if (d1 < kQ)
                c[n++] = d1;
            if (d2 < kQ && n < kCount)
                c[n++] = d2;
        }
    }
    std::string ek;
    ek.reserve(kMlKemEkSize);
    for (size_t i = 0; i < kCount; i += 2) {
        ek += static_cast<char>(c[i] & 0xFF);
        ek += static_cast<char>((c[i] >> 8) | ((c[i + 1] & 0x0F) << 4));
        ek += static_cast<char>(c[i + 1] >> 4);
    }
    ek += rng.bytes(32);
    return ek;
}

// An X25519 public value. Real ones never set bit 255 (RFC 7748), so neither
// do we; any other 32 bytes are a valid u-coordinate to a server.
std::string x25519Share(Rng& rng) {
    std::string k = rng.bytes(32);
    k[31] = static_cast<char>(k[31] & 0x7F);
    return k;
}

std::string p256Share(Rng& rng) {
    uint8_t point[kP256PointSize];
    if (!helloP256PublicKey(point)) {
        rng.fail();
        return std::string(kP256PointSize, '\0');
    }
    return std::string(reinterpret_cast<const char*>(point), sizeof point);
}

// draft-ietf-tls-esni: an outer ECH extension with HKDF-SHA256 and
// AES-128-GCM, a random config id, an encapsulated X25519 key and a random
// payload of `payloadLen` bytes (GREASE ECH).
std::string echGrease(Rng& rng, uint8_t configId, size_t payloadLen) {
    return body([&](Writer& w) {
        w.u8(0); // outer
        w.u16(0x0001);
        w.u16(0x0001);
        w.u8(configId);
        const auto enc = w.open(2);
        w.bytes(x25519Share(rng));
        w.close(enc);
        const auto payload = w.open(2);
        w.bytes(rng.bytes(payloadLen));
        w.close(payload);
    });
}

std::string serverName(const std::string& sni) {
    return body([&](Writer& w) {
        const auto list = w.open(2);
        w.u8(0); // host_name
        const auto name = w.open(2);
        w.bytes(sni);
        w.close(name);
        w.close(list);
    });
}

const std::string kStatusRequestBody("\x01\x00\x00\x00\x00", 5); // OCSP, no ids, no extensions
const std::string kAlpnBody = body([](Writer& w) {
    const auto list = w.open(2);
    w.u8(2);
    w.bytes("h2");
    w.u8(8);
    w.bytes("http/1.1");
    w.close(list);
});
const std::string kUncompressedPoints("\x01\x00", 2);
const std::string kRenegotiationInitial("\x00", 1);
const std::string kPskDheKe("\x01\x01", 2);

// The trust anchor IDs of Chrome 152/153 stable (Chrome Root Store 39), as
// captured: a 16-bit list length, then each ID behind an 8-bit length.
constexpr std::string_view kTrustAnchorsCapture =
    "00b80582df13020108839a648c9b2d010c08839a648c9b2d010704d679090c08839a648c9b2d010a04d67909"
    "0b08839a648c9b2d010d0582df13020e08839a648c9b2d010b04d67909050582df13020d0582df13021404d6"
    "79090404d679090804d679090d04d679090a04d679090708839a648c9b2d011204d67909010582df13020608"
    "839a648c9b2d01080582df13021208839a648c9b2d011304d679090f0582df13021308839a648c9b2d010905"
    "82df13020f04d6790906";

std::string fromHex(std::string_view hex) {
    auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(nibble(hex[i]) << 4 | nibble(hex[i + 1]));
    return out;
}

// Chrome writes the IDs in the iteration order of a hash set: one order for
// the life of the process, another in the next process. So do we.
const std::string& trustAnchorList() {
    static const std::string list = [] {
        const std::string capture = fromHex(kTrustAnchorsCapture);
        std::vector<std::string> ids;
        for (size_t i = 2; i < capture.size();) {
            const size_t len = 1 + static_cast<uint8_t>(capture[i]);
            ids.push_back(capture.substr(i, len));
            i += len;
        }
        Rng rng;
        for (size_t i = ids.size() - 1; i > 0; --i)
            std::swap(ids[i], ids[rng.below(static_cast<uint32_t>(i + 1))]);
        return body([&](Writer& w) {
            const auto m = w.open(2);
            for (const auto& id : ids)
                w.bytes(id);
            w.close(m);
        });
    }();
    return list;
}

struct Parts {
    std::vector<uint16_t> ciphers;
    std::vector<Extension> extensions; // in wire order
};

Parts chromeParts(const HelloOptions& o, Rng& rng) {
    const Grease g = drawGrease(rng);
    Parts p;
    p.ciphers = {g.cipher, 0x1301, 0x1302, 0x1303, 0xc02b, 0xc02f, 0xc02c, 0xc030,
                 0xcca9,   0xcca8, 0xc013, 0xc014, 0x009c, 0x009d, 0x002f, 0x0035};
    const std::string keyShare = body([&](Writer& w) {
        const auto list = w.open(2);
        w.u16(g.group);
        w.u16(1);
        w.u8(0);
        w.u16(kX25519MlKem768);
        const auto hybrid = w.open(2);
        w.bytes(mlKem768EncapsulationKey(rng));
        w.bytes(x25519Share(rng));
        w.close(hybrid);
        w.u16(kX25519);
        const auto classic = w.open(2);
        w.bytes(x25519Share(rng));
        w.close(classic);
        w.close(list);
    });
    // BoringSSL: random_size(128 / 32, 224 / 32) blocks of 32, plus the AES-GCM tag.
    const size_t echPayload = 32 * (4 + rng.below(4)) + 16;
    // In the order of the published capture; permuted below unless that order is asked for.
    std::vector<Extension> ext = {
        {kKeyShare, keyShare},
        {kServerName, serverName(o.sni)},
        {kApplicationSettings, body([](Writer& w) {
             const auto list = w.open(2);
             w.u8(2);
             w.bytes("h2");
             w.close(list);
         })},
        {kRenegotiationInfo, kRenegotiationInitial},
        {kSupportedGroups, body([&](Writer& w) {
             w.u16List({g.group, kX25519MlKem768, kX25519, kSecp256r1, 0x0018});
         })},
        {kCompressCertificate, std::string("\x02\x00\x02", 3)}, // brotli
        {kSessionTicket, {}},
        {kStatusRequest, kStatusRequestBody},
        {kExtendedMasterSecret, {}},
        {kSupportedVersions, body([&](Writer& w) {
             w.u8(6);
             w.u16(g.version);
             w.u16(0x0304);
             w.u16(0x0303);
         })},
        {kSignatureAlgorithms, body([&](Writer& w) {
             w.u16List({g.sigalg, 0x0904, 0x0905, 0x0906, 0x0403, 0x0804, 0x0401, 0x0503, 0x0805,
                        0x0501, 0x0806, 0x0601});
         })},
        {kSct, {}},
        {kPointFormats, kUncompressedPoints},
        {kEncryptedClientHello, echGrease(rng, g.echConfigId, echPayload)},
        {kAlpn, kAlpnBody},
        {kPskModes, kPskDheKe},
        {kTrustAnchors, trustAnchorList()},
    };
    if (o.sni.empty())
        std::erase_if(ext, [](const Extension& e) { return e.type == kServerName; });
    if (!o.publishedOrder) {
        for (size_t i = ext.size() - 1; i > 0; --i)
            std::swap(ext[i], ext[rng.below(static_cast<uint32_t>(i + 1))]);
    }
    p.extensions.push_back({g.ext1, {}});
    for (auto& e : ext)
        p.extensions.push_back(std::move(e));
    p.extensions.push_back({g.ext2, std::string(1, '\0')});
    return p;
}

Parts firefoxParts(const HelloOptions& o, Rng& rng) {
    Parts p;
    p.ciphers = {0x1301, 0x1303, 0x1302, 0xc02b, 0xc02f, 0xcca9, 0xcca8, 0xc02c,
                 0xc030, 0xc013, 0xc014, 0x009c, 0x009d, 0x002f, 0x0035};
    const std::string x25519 = x25519Share(rng);
    const std::string keyShare = body([&](Writer& w) {
        const auto list = w.open(2);
        w.u16(kX25519MlKem768);
        const auto hybrid = w.open(2);
        w.bytes(mlKem768EncapsulationKey(rng));
        w.bytes(x25519); // NSS reuses the x25519 key inside the hybrid share
        w.close(hybrid);
        w.u16(kX25519);
        const auto classic = w.open(2);
        w.bytes(x25519);
        w.close(classic);
        w.u16(kSecp256r1);
        const auto ec = w.open(2);
        w.bytes(p256Share(rng));
        w.close(ec);
        w.close(list);
    });
    if (!o.sni.empty())
        p.extensions.push_back({kServerName, serverName(o.sni)});
    std::vector<Extension> rest = {
        {kExtendedMasterSecret, {}},
        {kRenegotiationInfo, kRenegotiationInitial},
        {kSupportedGroups, body([](Writer& w) {
             w.u16List({kX25519MlKem768, kX25519, kSecp256r1, 0x0018, 0x0019, 0x0100, 0x0101});
         })},
        {kPointFormats, kUncompressedPoints},
        {kSessionTicket, {}},
        {kAlpn, kAlpnBody},
        {kStatusRequest, kStatusRequestBody},
        {kDelegatedCredentials, body([](Writer& w) {
             w.u16List({0x0403, 0x0503, 0x0603, 0x0203});
         })},
        {kSct, {}},
        {kKeyShare, keyShare},
        {kSupportedVersions, std::string("\x04\x03\x04\x03\x03", 5)},
        {kSignatureAlgorithms, body([](Writer& w) {
             w.u16List({0x0403, 0x0503, 0x0603, 0x0804, 0x0805, 0x0806, 0x0401, 0x0501, 0x0601,
                        0x0203, 0x0201});
         })},
        {kPskModes, kPskDheKe},
        {kRecordSizeLimit, std::string("\x40\x01", 2)},
        {kCompressCertificate, std::string("\x06\x00\x01\x00\x02\x00\x03", 7)},
        {kEncryptedClientHello, echGrease(rng, rng.byte(), 239)},
    };
    for (auto& e : rest)
        p.extensions.push_back(std::move(e));
    return p;
}

} // namespace

bool buildClientHello(const HelloOptions& options, std::string& out) {
    out.clear();
    if (options.sni.size() > kMaxSniBytes)
        return false;
    Rng rng;
    const std::string random = rng.bytes(32);
    const std::string sessionId = rng.bytes(32);
    const Parts parts = options.shape == HelloShape::Chrome ? chromeParts(options, rng)
                                                            : firefoxParts(options, rng);
    if (!rng.ok())
        return false;

    std::string hs;
    Writer w(hs);
    w.u8(1); // client_hello
    const auto message = w.open(3);
    w.u16(0x0303);
    w.bytes(random);
    w.u8(static_cast<unsigned>(sessionId.size()));
    w.bytes(sessionId);
    const auto suites = w.open(2);
    for (uint16_t c : parts.ciphers)
        w.u16(c);
    w.close(suites);
    w.u8(1);
    w.u8(0); // null compression only
    const auto extensions = w.open(2);
    for (const auto& e : parts.extensions) {
        w.u16(e.type);
        const auto b = w.open(2);
        w.bytes(e.body);
        w.close(b);
    }
    w.close(extensions);
    w.close(message);

    Writer r(out);
    r.u8(0x16); // handshake
    r.u16(0x0301);
    const auto record = r.open(2);
    r.bytes(hs);
    r.close(record);
    return true;
}

} // namespace tv
