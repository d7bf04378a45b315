// Reading DNS answers that arrive over a stream: the DNS-over-HTTPS response
// (HTTP status, media type, body, then the DNS message) and the matching of
// DNS-over-TLS messages to the queries sent. Pure code over bytes, shared by
// the live stage (dns_encrypted.cpp) and the fuzzer; the input is hostile and
// every buffer is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "probe/dns_packet.h"
#include "probe/http_stream.h"

namespace tv {

inline constexpr std::string_view kDnsMessageType = "application/dns-message";
// Body bytes of a DoH answer kept: what a two-byte DoT length can carry, far
// beyond an A answer for one name.
inline constexpr size_t kDohBodyMax = 65535;

// One DoH response to a query of id `expectId`, fed the decrypted bytes.
class DohAnswerReader {
public:
    explicit DohAnswerReader(uint16_t expectId)
        : expectId_(expectId), http_(HttpStreamOptions{false, kDohBodyMax}) {}

    void feed(std::string_view bytes) { http_.feed(bytes); }
    // The stream ended in order (close_notify, FIN).
    void finish() { http_.finish(); }

    // Nothing more is needed: a whole response arrived, or the stream is
    // malformed (more bytes would change nothing).
    bool settled() const { return http_.responses() > 0 || http_.malformed(); }

    // Once settled: Ok / Nx / Fail with the UDP reader's details, or Fail
    // with "bad response", "HTTP %d", "not a DNS message", "answer too long".
    // Before that: Fail "no answer" (the caller tells a time-out or a close).
    DnsAnswerSet answer() const;

private:
    uint16_t expectId_;
    HttpStreamReader http_;
};

// The answer among DoT `messages` whose id is `id` (the first such); Fail
// "no answer" when none has it. Each message is read like a UDP answer.
DnsAnswerSet pickDotAnswer(const std::vector<std::string>& messages, uint16_t id);

// The resolver itself replied to the query: an address, NXDOMAIN, another
// response code or an empty answer; not a transport failure, an HTTP error
// or a message with another id.
bool isDnsReply(const DnsAnswerSet& a);

} // namespace tv
