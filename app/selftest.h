// Window-less self-test: fixed targets, the basic checks and the IP
// information, every finding written to the log.
#pragma once

#include <string>

#include "probe/probe.h"

namespace tv {

struct SelfTestTarget {
    const char* host;
    const char* sni;
    bool http;
};

// The fixed target table, seven rows in probing order.
extern const SelfTestTarget kSelfTestTargets[7];

// Formats a target line / a basic-check line, cut to 639 / 399 bytes at a
// character boundary so no line outgrows its bound.
std::string formatSelfTestTargetLine(const SelfTestTarget& t, const ProbeResult& r);
std::string formatSelfTestNetLine(const NetCheckResult& n);

void runSelfTest();

} // namespace tv
