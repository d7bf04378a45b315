#include "probe/errors.h"

#include <cstdio>

#include "probe/result.h"

namespace tv {

std::string socketErrorText(int err) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "WSA %d", err);
    return buf;
}

std::string tlsStatusText(uint32_t status) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(status));
    return buf;
}

std::string_view tcpStateImmediate(int err) {
    if (err == kWsaConnRefused)
        return kRefused;
    if (err == kWsaConnReset)
        return kReset;
    return kFail;
}

std::string_view tcpStateAfterWait(int err) {
    if (err == kWsaTimedOut)
        return kTimeout;
    return tcpStateImmediate(err);
}

std::string_view dnsStateFromResolveError(int err) {
    if (err == kWsaHostNotFound || err == kWsaNoData)
        return kNx;
    if (err == kWsaTryAgain)
        return kTimeout;
    return kFail;
}

} // namespace tv
