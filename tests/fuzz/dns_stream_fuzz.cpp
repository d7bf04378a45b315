// libFuzzer target for DNS over a stream: the framed-message reader, the
// all-records answer reader (which must agree with parseDnsAnswer) and the
// framing and base64url encoders.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "probe/dns_packet.h"
#include "probe/dns_secure.h"
#include "probe/http_requests.h"

namespace {

void checkAnswer(const uint8_t* d, size_t n) {
    using namespace tv;
    const DnsVerdict one = parseDnsAnswer(d, n);
    const DnsAnswerSet all = parseDnsAnswerAll(d, n, kDnsQueryId);
    if (one.state != all.state || one.detail != all.detail)
        std::abort();
    if ((all.state == State::Ok) != !all.addrsBe.empty() || all.addrsBe.size() * 16 > n)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tv;
    checkAnswer(data, size);

    // The same bytes whole and in pieces of 1..7: the same messages.
    DnsStreamReader whole, pieces;
    whole.feed(data, size);
    for (size_t off = 0; off < size;) {
        size_t len = 1 + (off * 7 + size) % 7;
        if (len > size - off)
            len = size - off;
        pieces.feed(data + off, len);
        off += len;
    }
    if (whole.count() != pieces.count() || whole.messages() != pieces.messages() ||
        whole.malformed() != pieces.malformed() || whole.midMessage() != pieces.midMessage() ||
        whole.bytesIn() != size)
        std::abort();
    if (whole.messages().size() > kDnsStreamKeep || whole.count() * 14 > size)
        std::abort();
    for (const std::string& m : whole.messages()) {
        if (m.size() < kDnsHeaderSize)
            std::abort();
        checkAnswer(reinterpret_cast<const uint8_t*>(m.data()), m.size());
        // Framing a message again and reading it back gives the message.
        std::string framed;
        DnsStreamReader again;
        if (!frameDnsStream(m, framed))
            std::abort();
        again.feed(framed);
        if (again.count() != 1 || again.messages().front() != m)
            std::abort();
    }

    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string b64 = base64UrlEncode(bytes);
    if (b64.size() != (size * 4 + 2) / 3)
        std::abort();
    for (char c : b64)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_'))
            std::abort();
    return 0;
}
