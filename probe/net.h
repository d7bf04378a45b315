// The socket-level stages of the probe engine, shared by every platform:
// resolving a host, TCP connect with a time-out, and one DNS query over UDP.
// They sit on the socket shim (sock.h), report Winsock numbers in their
// detail texts on every platform and return their outcome as one value.
#pragma once

#include <cstdint>
#include <string>

#include "probe/dns_packet.h"
#include "probe/sock.h"
#include "probe/stage.h"

namespace tv {

struct Ipv4Address {
    uint32_t addrBe = 0; // network byte order
};

struct ResolveOutcome {
    StageOutcome stage; // no detail text
    bool found = false; // an address was obtained
    Ipv4Address addr;
};

// An IPv4 literal is taken as is (Skip, 0 ms); otherwise the system resolver
// is asked (Ok, Nx, Timeout, Fail and the lookup time).
ResolveOutcome resolveHost(const std::string& host);

struct TcpOutcome {
    StageOutcome stage;
    Socket socket; // connected, or empty on failure
};

// Opens TCP to `addr`:`port` within `timeoutMs`. `ms` is measured on every
// path but a failed socket creation; the detail ("WSA %d") is set only on the
// failures that carry an error number. The connected socket comes back
// blocking, with receive and send time-outs of `timeoutMs`.
TcpOutcome connectWithTimeout(Ipv4Address addr, int port, int32_t timeoutMs);

// Asks the resolver at `resolverIp` (dotted decimal), UDP port 53, for the A
// record of `name`; one datagram out, one in, no retry. Ok, Nx, Timeout or
// Fail; the detail is set on every path, `ms` once a receive was attempted.
StageOutcome queryDnsUdp(const std::string& resolverIp, const std::string& name, int32_t timeoutMs);

// The same query with every A record of the answer kept (parseDnsAnswerAll);
// the failures before an answer as queryDnsUdp words them.
DnsAnswerSet queryDnsUdpAll(const std::string& resolverIp, const std::string& name,
                            int32_t timeoutMs);

} // namespace tv
