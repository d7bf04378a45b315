// libFuzzer target for the bytes the probe engine reads from the network
// without a TLS library in between: DNS answers over UDP, plus the status
// line and the query builder. Any read outside the input is caught by
// AddressSanitizer; the checks below catch wrong outcomes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "probe/dns_packet.h"
#include "probe/http_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tv;
    // The engine reads at most 1024 bytes of an answer.
    const size_t n = size > kDnsAnswerMax ? kDnsAnswerMax : size;
    const DnsVerdict v = parseDnsAnswer(data, n);
    const bool ok = v.state == State::Ok && v.detail.rfind("A ", 0) == 0;
    const bool nx = v.state == State::Nx && v.detail == "rcode 3";
    const bool fail = v.state == State::Fail && !v.detail.empty();
    if (!ok && !nx && !fail)
        std::abort();
    if (n < 12 && v.detail != "WSA 0")
        std::abort();

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int32_t code = 0;
    parseStatusLine(text, code);

    // Whatever name we encode, the query fits its buffer and reads back as
    // our own id with no answer.
    std::string query;
    if (buildDnsQuery(text.substr(0, 600), query)) {
        if (query.size() > kDnsQueryMax || query.size() < 17)
            std::abort();
        const DnsVerdict self =
            parseDnsAnswer(reinterpret_cast<const uint8_t*>(query.data()), query.size());
        if (self.detail != "empty answer")
            std::abort();
    }
    return 0;
}
