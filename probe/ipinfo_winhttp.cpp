// The IP-information lookup on Windows: one synchronous WinHTTP GET over plain
// HTTP on port 80, straight to the service (the system proxy is not used),
// every wait bounded by the caller's time-out. The body is returned as it
// came; an empty body is the only failure signal.
#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "base/winstr.h"
#include "probe/ipinfo.h"
#include "probe/probe.h"

namespace tv {
namespace {

// Closes a WinHTTP handle when it goes out of scope; declared in opening
// order, so the request closes before the connection and the session.
class Internet {
public:
    explicit Internet(HINTERNET h) : h_(h) {}
    Internet(const Internet&) = delete;
    Internet& operator=(const Internet&) = delete;
    ~Internet() {
        if (h_)
            WinHttpCloseHandle(h_);
    }
    HINTERNET get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    HINTERNET h_;
};

} // namespace

std::string fetchIpInfo(int32_t timeoutMs) {
    std::string body;
    const std::wstring agent = toWide(kIpInfoUserAgent);
    const std::wstring host = toWide(kIpInfoHost);
    const std::wstring path = toWide(kIpInfoPath);
    Internet session(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return body;
    const int t = timeoutMs < 0 ? 0 : timeoutMs;
    WinHttpSetTimeouts(session.get(), t, t, t, t); // resolve, connect, send, receive

    Internet connection(
        WinHttpConnect(session.get(), host.c_str(), static_cast<INTERNET_PORT>(kIpInfoPort), 0));
    if (!connection)
        return body;
    Internet request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request)
        return body;
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return body;

    // The status code is not looked at: an error page's body is returned too.
    // The cap is tested first so that a full body never waits for more data.
    std::vector<char> chunk;
    while (ipInfoWantsMore(body.size())) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available) || available == 0)
            break;
        chunk.assign(available, 0);
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), chunk.data(), available, &got) || got == 0)
            break;
        body.append(chunk.data(), got);
    }
    return body;
}

} // namespace tv
