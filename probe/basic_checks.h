// The fixed tables of the basic network checks (runBasicChecks in probe.h).
#pragma once

namespace tv {

struct BasicResolver {
    const char* address;
    const char* udpLabel;
    const char* tcpLabel;
};

inline constexpr BasicResolver kBasicResolvers[4] = {
    {"77.88.8.8", "Yandex DNS 77.88.8.8", "Yandex DNS 77.88.8.8:443"},
    {"1.1.1.1", "Cloudflare 1.1.1.1", "Cloudflare 1.1.1.1:443"},
    {"8.8.8.8", "Google 8.8.8.8", "Google 8.8.8.8:443"},
    {"9.9.9.9", "Quad9 9.9.9.9", "Quad9 9.9.9.9:443"},
};

// Two allow-listed domestic services, the documentation domain, one foreign
// control name.
inline constexpr const char* kBasicLookupNames[4] = {"ya.ru", "gosuslugi.ru", "example.com",
                                                     "google.com"};
inline constexpr const char* kBasicUdpQueryName = "example.com";

inline constexpr const char* kGroupSystemDns = "DNS системный";
inline constexpr const char* kGroupUdpDns = "DNS по UDP/53";
inline constexpr const char* kGroupTcp443 = "TCP:443 по IP";

} // namespace tv
