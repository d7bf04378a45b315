// fetchIpInfo on libcurl. WinHTTP's four time-outs (resolve, connect, send,
// receive, each `timeoutMs`) become a connect limit of 2 x timeoutMs (resolve
// and connect) and an overall limit of 4 x timeoutMs (all four); a silent
// server is given up after `timeoutMs` without a byte (rounded up to whole
// seconds, curl's unit), as a receive time-out would.
#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <string>

#include "probe/ipinfo.h"
#include "probe/probe.h"

namespace tv {
namespace {

// Stops the transfer once the body holds the cap or more, before appending a
// new chunk (returning less than the chunk size makes curl end it).
size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    if (!ipInfoWantsMore(body->size()))
        return 0;
    body->append(data, size * count);
    return size * count;
}

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

} // namespace

std::string fetchIpInfo(int32_t timeoutMs) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    std::string body;
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy)
        return body;
    CURL* c = easy.get();
    const long t = timeoutMs < 1 ? 1 : timeoutMs; // 0 would mean "no limit" to curl
    const std::string url =
        std::string("http://") + kIpInfoHost + ":" + std::to_string(kIpInfoPort) + kIpInfoPath;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, kIpInfoUserAgent);
    // A direct connection: neither a configured nor an environment proxy.
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
    // WinHTTP follows redirects on its own; so do we, within plain HTTP.
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, 2 * t);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, 4 * t);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, (t + 999) / 1000);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L); // safe on worker threads
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(c); // any failure keeps what arrived so far
    return body;
}

} // namespace tv
