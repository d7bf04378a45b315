#include "probe/http.h"

#include "probe/errors.h"
#include "probe/http_text.h"
#include "probe/result.h"

namespace tv {

namespace {

// The request and the read up to the status line; `timedOut` tells a read
// that ran out of time from every other way of ending without a line.
int32_t readStatus(TlsSession& s, const std::string& hostValue, int32_t timeoutMs, bool keepAlive,
                   std::string_view followUp, std::string& detail, bool& timedOut, bool& open) {
    if (!s.backend) {
        detail = "stream sizes";
        return -1;
    }
    std::string wire;
    uint32_t status = 0;
    switch (tlsBackendEncrypt(
        *s.backend, buildHttpRequest(hostValue, keepAlive) + std::string(followUp), wire, status)) {
    case TlsWrite::Ok:
        break;
    case TlsWrite::NoStreamSizes:
        detail = "stream sizes";
        return -1;
    case TlsWrite::Error:
        detail = tlsStatusText(status);
        return -1;
    }
    int err = 0;
    if (!sessionSend(s, wire, err)) {
        detail = socketErrorText(err);
        open = false;
        return -1;
    }

    const auto start = clockNow();
    // The decrypted answer stays in the session for a stage that reads on.
    std::string& text = s.plainIn;
    bool reading = true;
    while (reading) {
        // Decrypt whatever is buffered first: data that came with the end of
        // the handshake is read before anything more is received.
        bool needMore = false;
        while (!needMore) {
            switch (tlsBackendDecrypt(*s.backend, s.pendingInput, text, status)) {
            case TlsRead::Record:
                break;
            case TlsRead::NeedMore:
                needMore = true;
                break;
            case TlsRead::Closed:
            case TlsRead::Error:
                // The peer closed the session or sent something we cannot
                // read: no reason of our own, so "no status line" if nothing parses.
                reading = false;
                open = false;
                needMore = true;
                break;
            }
            if (text.size() >= 2 && text.find("\r\n") != std::string::npos) {
                reading = false;
                break;
            }
            if (text.size() >= kStatusLineMax) {
                reading = false;
                break;
            }
        }
        if (!reading)
            break;
        if (elapsedMs(start) > timeoutMs) {
            detail = "read timeout";
            timedOut = true;
            break;
        }
        const long n = sessionReceive(s, err);
        if (n > 0)
            continue;
        timedOut = n < 0 && err == kWsaTimedOut;
        open = timedOut;
        detail = timedOut ? "read timeout" : "closed";
        break;
    }

    int32_t code = 0;
    if (parseStatusLine(text, code))
        return code;
    if (detail.empty())
        detail = "no status line";
    return 0;
}

} // namespace

HttpOutcome httpGetStatus(TlsSession& s, const std::string& hostValue, int32_t timeoutMs,
                          bool keepAlive, std::string_view followUp) {
    const auto start = clockNow();
    HttpOutcome o;
    bool timedOut = false;
    o.code = readStatus(s, hostValue, timeoutMs, keepAlive, followUp, o.stage.detail, timedOut,
                        o.connectionOpen);
    o.stage.ms = elapsedMs(start);
    o.stage.state = o.code > 0 ? State::Ok : timedOut ? State::Timeout : State::Fail;
    return o;
}

} // namespace tv
