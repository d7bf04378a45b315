#include "probe/errors.h"

#include <cstdio>

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

State tcpStateImmediate(int err) {
    if (err == kWsaConnRefused)
        return State::Refused;
    if (err == kWsaConnReset)
        return State::Reset;
    return State::Fail;
}

State tcpStateAfterWait(int err) {
    if (err == kWsaTimedOut)
        return State::Timeout;
    return tcpStateImmediate(err);
}

State dnsStateFromResolveError(int err) {
    if (err == kWsaHostNotFound || err == kWsaNoData)
        return State::Nx;
    if (err == kWsaTryAgain)
        return State::Timeout;
    return State::Fail;
}

} // namespace tv
