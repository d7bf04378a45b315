// Whether a DNS answer can be believed: the two checks built on encrypted
// DNS. Answers are judged by who gave them and by certificates, never by
// comparing addresses of a name: a CDN gives different askers different
// addresses, and that is no sign of tampering.
//
// - Interception of UDP/53: the public resolver's address is asked over UDP
//   and over DoT for kWhoamiName, which every resolver answers with its own
//   egress address. DoT is authenticated by the resolver's certificate, so
//   its answer names the genuine resolver's egress; if the UDP answer names
//   an egress outside that operator's network, something else answered for
//   the public address on UDP/53.
// - A swapped answer of the system resolver: for a name whose handshake
//   completed with a certificate that fails the check, a working encrypted
//   resolver is asked for the same name; if its address presents a valid
//   certificate for the name while the system's address does not, the
//   system's answer was swapped (a stub or block page).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "probe/dns_packet.h"
#include "probe/result.h"

namespace tv {

// Words of the `intercept` key of the UDP/53 rows: "yes" (another resolver
// answers in the public one's place), "no" (the same operator answers both),
// "skip" (no comparison: one side gave no whoami answer).
inline constexpr std::string_view kInterceptYes = "yes";
inline constexpr std::string_view kInterceptNo = "no";

// Words of the `dnsSpoof` key: "skip" (not checked), "yes" (swapped answer,
// `dnsGenuine` names the address with the valid certificate), "no" (the
// encrypted answer holds the system's address, or its address fails the
// certificate check too: the site itself presents a bad certificate),
// "fail" (undecided: no encrypted resolver answered, it knew no address,
// or its address could not be reached).
inline constexpr std::string_view kSpoofYes = "yes";
inline constexpr std::string_view kSpoofNo = "no";
inline constexpr std::string_view kSpoofFail = "fail";

// The word that marks an intercepted UDP row's detail.
inline constexpr std::string_view kInterceptMark = "перехват";

// Two egress addresses belong to one operator when their /16 is the same:
// resolver operators ask from blocks of their own, and one anycast address
// reached over UDP and over TCP from the same client lands in the same
// site, so its egress stays within one block. A network that answers in the
// resolver's place asks from its own addresses, far from the operator's.
bool sameOperator(uint32_t aBe, uint32_t bBe);

struct InterceptFinding {
    std::string_view word = kSkip;
    std::string note; // with "yes": " · перехват: whoami <udp>, по DoT <dot>"
};

// Compares the whoami answers of one resolver over UDP/53 and over DoT.
InterceptFinding judgeInterception(const DnsAnswerSet& udpWhoami, const DnsAnswerSet& dotWhoami);

// The swapped-answer check for a probed row (see above). `name` is the host
// that was resolved, `certName` the name the certificate is checked for,
// `systemAddrBe` the system resolver's address. Tries at most kSpoofTries
// encrypted resolvers, starting with the one that answered last (in any
// thread), so a blocked resolver costs its time-out once rather than per
// row. Returns the finding with `asked` set.
inline constexpr int kSpoofTries = 3;
DnsCheckFinding checkDnsAnswer(const std::string& name, const std::string& certName,
                               uint32_t systemAddrBe, int32_t timeoutMs);

} // namespace tv
