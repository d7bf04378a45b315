// The first usable IPv4 address of a resolver's answer list, for both socket
// backends (addrinfo on POSIX, ADDRINFOW on Windows). Include it after the
// platform's socket headers.
#pragma once

#include <cstdint>

#include "probe/errors.h"

namespace tv {

// 0 with `addrBe` set, or kWsaNoRecovery when the list holds no IPv4 address:
// success with nothing usable counts as a failure.
template <class AddrInfo> int firstIPv4(const AddrInfo* list, uint32_t& addrBe) {
    for (const AddrInfo* a = list; a; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr && a->ai_addrlen >= sizeof(sockaddr_in)) {
            addrBe = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
            return 0;
        }
    }
    return kWsaNoRecovery;
}

} // namespace tv
