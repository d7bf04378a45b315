#include "probe/http.h"

#include "probe/errors.h"
#include "probe/http_text.h"
#include "probe/result.h"

namespace tv {

int32_t httpGetStatus(TlsSession& s, const std::string& hostValue, int32_t timeoutMs,
                      std::string& detail) {
    if (!s.backend) {
        detail = "stream sizes";
        return -1;
    }
    std::string wire;
    uint32_t status = 0;
    switch (tlsBackendEncrypt(*s.backend, buildHttpRequest(hostValue), wire, status)) {
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
    if (!sendAll(s.socket, wire, err)) {
        detail = socketErrorText(err);
        return -1;
    }

    const auto start = clockNow();
    std::string text;
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
            break;
        }
        char* buf = threadRecvBuffer();
        const long n = sockRecv(s.socket, buf, kRecvBufferSize, err);
        if (n > 0) {
            s.pendingInput.append(buf, static_cast<size_t>(n));
            continue;
        }
        detail = (n < 0 && err == kWsaTimedOut) ? "read timeout" : "closed";
        break;
    }

    int32_t code = 0;
    if (parseStatusLine(text, code))
        return code;
    if (detail.empty())
        detail = "no status line";
    return 0;
}

} // namespace tv
