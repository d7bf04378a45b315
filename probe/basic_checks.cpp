#include "probe/basic_checks.h"

#include "probe/net.h"
#include "probe/probe.h"

namespace tv {

void runBasicChecks(int32_t timeoutMs, const std::function<void(const NetCheckResult&)>& onResult,
                    const std::atomic<bool>& cancel) {
    for (const char* name : kBasicLookupNames) {
        if (cancel.load())
            return;
        NetCheckResult n;
        n.group = kGroupSystemDns;
        n.name = name;
        Ipv4Address addr;
        if (resolveHost(name, addr, n.state, n.ms))
            n.detail = formatIPv4(addr.addrBe);
        onResult(n);
    }
    for (const BasicResolver& r : kBasicResolvers) {
        if (cancel.load())
            return;
        NetCheckResult n;
        n.group = kGroupUdpDns;
        n.name = r.udpLabel;
        n.state = queryDnsUdp(r.address, kBasicUdpQueryName, timeoutMs, n.ms, n.detail);
        onResult(n);
    }
    for (const BasicResolver& r : kBasicResolvers) {
        if (cancel.load())
            return;
        NetCheckResult n;
        n.group = kGroupTcp443;
        n.name = r.tcpLabel;
        Ipv4Address addr;
        parseIPv4(r.address, addr.addrBe);
        connectWithTimeout(addr, 443, timeoutMs, n.state, n.ms, n.detail); // closed at once
        onResult(n);
    }
}

} // namespace tv
