#include "app/selftest.h"

#include <cstdio>

#include "base/log.h"
#include "base/text.h"
#include "bridge/state.h"

namespace tv {

// Rows 1-3 compare allow-listed and foreign names over the full chain, row 4
// shows a resolution failure, rows 5-7 reach one foreign address under an
// allow-listed name, no name and a foreign name.
const SelfTestTarget kSelfTestTargets[7] = {
    {"yandex.ru", "yandex.ru", true}, {"google.com", "google.com", true},
    {"vk.com", "vk.com", true},       {"tarnveil-selftest.example", "x", false},
    {"1.1.1.1", "yandex.ru", false},  {"1.1.1.1", "", false},
    {"1.1.1.1", "example.com", true},
};

namespace {

constexpr int kProbeTimeoutMs = 5000;
constexpr int kBasicsTimeoutMs = 3000;
constexpr int kIpInfoTimeoutMs = 4000;
constexpr size_t kTargetLineMax = 639;
constexpr size_t kNetLineMax = 399;

} // namespace

std::string formatSelfTestTargetLine(const SelfTestTarget& t, const ProbeResult& r) {
    std::string line = "SELFTEST ";
    line += t.host;
    line += " sni=[";
    line += t.sni;
    line += "] ip=" + r.ip;
    line += " dns=" + r.dns + "/" + std::to_string(r.dnsMs);
    line += " tcp=" + r.tcp + "/" + std::to_string(r.tcpMs);
    line += " tls=" + r.tls + "/" + std::to_string(r.tlsMs);
    line += " http=" + r.http + "/" + std::to_string(r.httpCode);
    line += " verdict=" + r.verdict;
    line += " cert=[" + r.cert + "]";
    line += r.certOk ? " ok=1" : " ok=0";
    line += " det=[" + r.tlsDetail + "]";
    return std::string(cutUtf8Bytes(toValidUtf8(line), kTargetLineMax));
}

std::string formatSelfTestNetLine(const NetCheckResult& n) {
    std::string line = "SELFTEST net [" + n.group + "] " + n.name + " -> " + n.state + " " +
                       std::to_string(n.ms) + "ms " + n.detail;
    return std::string(cutUtf8Bytes(toValidUtf8(line), kNetLineMax));
}

void runSelfTest() {
    for (const auto& t : kSelfTestTargets) {
        const ProbeResult r = probeTarget(t.host, t.sni, t.http, kProbeTimeoutMs);
        logLine(formatSelfTestTargetLine(t, r));
    }
    runBasicChecks(
        kBasicsTimeoutMs, [](const NetCheckResult& n) { logLine(formatSelfTestNetLine(n)); },
        cancelFlag());
    const std::string body = fetchIpInfo(kIpInfoTimeoutMs);
    logLine("SELFTEST ipinfo: " + toValidUtf8(untilNul(body)));
    logLine("SELFTEST done");
}

} // namespace tv
