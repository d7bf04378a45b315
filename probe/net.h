// The socket-level stages of the probe engine, shared by every platform:
// resolving a host, TCP connect with a time-out, and one DNS query over UDP.
// They sit on the socket shim (sock.h) and report Winsock numbers in their
// detail texts on every platform.
#pragma once

#include <cstdint>
#include <string>

#include "probe/sock.h"

namespace tv {

struct Ipv4Address {
    uint32_t addrBe = 0; // network byte order
};

// An IPv4 literal is taken as is ("skip", 0 ms); otherwise the system
// resolver is asked ("ok", "nx", "timeout", "fail" and the lookup time).
// True when an address was obtained.
bool resolveHost(const std::string& host, Ipv4Address& out, std::string& state, int32_t& ms);

// Opens TCP to `addr`:`port` within `timeoutMs`. `state` is written on every
// path; `ms` on every path but a failed socket creation; `detail` ("WSA %d")
// only on the failures that carry an error number. The connected socket
// comes back blocking, with receive and send time-outs of `timeoutMs`; on
// failure the returned Socket is empty.
Socket connectWithTimeout(Ipv4Address addr, int port, int32_t timeoutMs, std::string& state,
                          int32_t& ms, std::string& detail);

// Asks the resolver at `resolverIp` (dotted decimal), UDP port 53, for the A
// record of `name`; one datagram out, one in, no retry. Returns "ok", "nx",
// "timeout" or "fail"; `detail` is written on every path, `ms` once a receive
// was attempted.
std::string queryDnsUdp(const std::string& resolverIp, const std::string& name, int32_t timeoutMs,
                        int32_t& ms, std::string& detail);

} // namespace tv
