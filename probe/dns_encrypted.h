// DNS over TLS (RFC 7858, TCP 853) and over HTTPS (RFC 8484, POST to
// /dns-query on 443, HTTP/1.1) as a probe stage: connect by address, TLS with
// the resolver's published name as SNI, certificate checked against that
// name, then the same A query and answer reader as over UDP/53. Nothing is
// trusted from a session whose certificate fails: such a resolver reads as
// failed, so a middlebox that terminates TLS cannot feed us answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "probe/dns_packet.h"
#include "probe/stage.h"

namespace tv {

enum class DnsTransport : uint8_t { Dot, Doh };

inline constexpr int kDotPort = 853;
inline constexpr int kDohPort = 443;

struct SecureDnsTarget {
    std::string address;    // dotted decimal, connected to directly
    std::string serverName; // SNI, certificate name and (DoH) Host header
};

struct SecureDnsOutcome {
    // The state of the first name's answer (Ok, Nx, Fail), or of the layer
    // that failed before it: the TCP or TLS word with "TCP: ..." / "TLS: ..."
    // details, Fail "bad certificate (name)" / "no certificate", Timeout
    // "no reply", Fail "closed" / "bad stream". `ms`: the whole exchange,
    // connect included.
    StageOutcome stage;
    // One per name asked, in order (Fail "no answer" for those that did not come).
    std::vector<DnsAnswerSet> answers;
    // The resolver replied to the first name over a verified session
    // (isDnsReply): it works, whatever its answer.
    bool answered = false;
};

// Asks for the A records of `names` (at least one) on one connection. DoT
// sends every query at once, ids 0x5AA5, 0x5AA6, ...; DoH sends them one
// after another on a keep-alive connection, id 0 (RFC 8484 section 4.1).
// Each wait is bounded by `timeoutMs`; reading the answers has a deadline of
// `timeoutMs` after the queries went out.
SecureDnsOutcome querySecureDns(DnsTransport t, const SecureDnsTarget& target,
                                const std::vector<std::string>& names, int32_t timeoutMs);

} // namespace tv
