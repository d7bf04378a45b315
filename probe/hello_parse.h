// Reading a ClientHello back, and its JA3 and JA4 fingerprints. The parser
// takes hostile input: every length is checked against its container before
// it is used, nothing is read outside the buffer, and anything malformed is a
// plain false.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

struct HelloExtension {
    uint16_t type = 0;
    std::string body;
};

struct KeyShareEntry {
    uint16_t group = 0;
    std::string key;
};

struct ClientHelloInfo {
    uint16_t recordVersion = 0;
    uint16_t legacyVersion = 0;
    std::string random;    // 32 bytes
    std::string sessionId; // 0..32 bytes
    std::vector<uint16_t> cipherSuites;
    std::string compression;
    std::vector<HelloExtension> extensions; // in wire order
    // Decoded from the extensions above, when present:
    bool hasSni = false;
    std::string sni; // the first host_name entry
    std::vector<uint16_t> groups;
    std::string pointFormats;
    std::vector<std::string> alpn;
    std::vector<uint16_t> signatureAlgorithms;
    std::vector<uint16_t> versions;
    std::vector<KeyShareEntry> keyShares;
};

// Parses one TLS handshake record holding one whole ClientHello (nothing
// before or after it). False on anything malformed: a length beyond its
// container, bytes left over in any container, a duplicate extension, or a
// decoded extension (server_name, supported_groups, ec_point_formats, ALPN,
// signature_algorithms, supported_versions, key_share) whose body does not
// parse. `out` is unspecified after a false return.
bool parseClientHello(std::string_view record, ClientHelloInfo& out);

// RFC 8701: 0x0a0a, 0x1a1a, ..., 0xfafa.
bool isGrease(uint16_t v);

// "771,c-c,e-e,g-g,f": legacy version, cipher suites, extension types, groups
// and point formats in wire order, decimal, GREASE removed.
std::string ja3String(const ClientHelloInfo& hello);

// The JA4 fingerprint (FoxIO): "t13d1517h2_<b>_<c>", b and c the first 12 hex
// digits of SHA-256 over the sorted cipher suites and over the sorted
// extensions (without SNI and ALPN) followed by the signature algorithms in
// wire order; GREASE removed everywhere. Empty if hashing failed.
std::string ja4(const ClientHelloInfo& hello);
// The same before hashing (JA4_r), for diagnostics.
std::string ja4Raw(const ClientHelloInfo& hello);

} // namespace tv
