// The fixed tables of the basic network checks (runBasicChecks in probe.h).
#pragma once

namespace tv {

struct BasicResolver {
    const char* address;
    const char* udpLabel;
    const char* tcpLabel;
    // The name each operator publishes for its DoT and DoH service: the SNI,
    // the certificate name, the DoH Host header and the DoH row's label.
    const char* serverName;
    const char* dotLabel;
};

inline constexpr BasicResolver kBasicResolvers[4] = {
    {"77.88.8.8", "Yandex DNS 77.88.8.8", "Yandex DNS 77.88.8.8:443", "common.dot.dns.yandex.net",
     "Yandex DNS 77.88.8.8:853"},
    {"1.1.1.1", "Cloudflare 1.1.1.1", "Cloudflare 1.1.1.1:443", "cloudflare-dns.com",
     "Cloudflare 1.1.1.1:853"},
    {"8.8.8.8", "Google 8.8.8.8", "Google 8.8.8.8:443", "dns.google", "Google 8.8.8.8:853"},
    {"9.9.9.9", "Quad9 9.9.9.9", "Quad9 9.9.9.9:443", "dns.quad9.net", "Quad9 9.9.9.9:853"},
};

// Two allow-listed domestic services, the documentation domain, one foreign
// control name.
inline constexpr const char* kBasicLookupNames[4] = {"ya.ru", "gosuslugi.ru", "example.com",
                                                     "google.com"};
inline constexpr const char* kBasicUdpQueryName = "example.com";

inline constexpr const char* kGroupSystemDns = "DNS системный";
inline constexpr const char* kGroupUdpDns = "DNS по UDP/53";
inline constexpr const char* kGroupTcp443 = "TCP:443 по IP";
inline constexpr const char* kGroupDot = "DNS по DoT";
inline constexpr const char* kGroupDoh = "DNS по DoH";

// A name that resolvers answer with the address they themselves ask from:
// the same question over UDP/53 and over DoT tells whether the same
// resolver answers both.
inline constexpr const char* kWhoamiName = "whoami.akamai.net";

// Checks after the twelve: DoT to each resolver, then DoH to each.
inline constexpr int kBasicSecureChecks = 8;

} // namespace tv
