// The browser-shaped ClientHello: the exact first TLS record that the current
// stable Chrome or Firefox on Windows sends to a server it has never seen
// (no session to resume, no ECH configuration, so GREASE ECH), with our own
// server name. A DPI box that tells browsers from other clients by the shape of
// the hello cannot tell this one from the browser's; the TLS stage's own hello
// (the platform library's) can then be compared with it.
//
// Contract:
// - Every hello is fresh: random, legacy session id, GREASE values, key shares,
//   ECH GREASE bytes and (Chrome) the extension order are drawn for each call
//   from the system random generator. Key shares are acceptable to real
//   servers: the ML-KEM-768 key passes the FIPS 203 modulus check and the
//   P-256 share is a point on the curve, so a server may pick any of them.
// - The hello fits one record; the record is complete and self-consistent.
// - No TLS library is involved beyond the primitives of hello_crypto.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tv {

enum class HelloShape {
    Chrome, // Chrome 153 stable, Windows 11 (BoringSSL)
    Firefox // Firefox 154, Windows (NSS), normal (not private) window
};

struct HelloOptions {
    HelloShape shape = HelloShape::Chrome;
    std::string sni; // empty: no server_name extension, as for an IP literal
    // Chrome only: the extension order of a published capture instead of a
    // fresh permutation. Firefox's order is fixed anyway.
    bool publishedOrder = false;
};

// The longest server name we send (a DNS name is at most 253 bytes).
inline constexpr size_t kMaxSniBytes = 255;

// Builds one ClientHello record, the 5-byte record header included, into
// `out`. False, with `out` empty, when the SNI is longer than kMaxSniBytes or
// the platform gave no random bytes.
bool buildClientHello(const HelloOptions& options, std::string& out);

} // namespace tv
