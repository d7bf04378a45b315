// DNS over UDP, the packet half: the A query we send and the reading of the
// answer. Pure functions over bytes, no sockets, so they can be unit-tested
// and fuzzed. The reader treats the datagram as hostile: every offset is
// checked against its length and nothing outside it is ever read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "probe/stage.h"

namespace tv {

inline constexpr uint16_t kDnsQueryId = 0x5AA5;
inline constexpr size_t kDnsQueryMax = 512;   // the query buffer
inline constexpr size_t kDnsAnswerMax = 1024; // bytes of an answer that are read

// The A/IN query for `name` with recursion desired: 17 + n bytes, n being the
// encoded labels. A trailing dot ends the name. Refuses (returns false) a name
// with an empty label, a label over 63 bytes, or labels that do not fit the
// 512-byte buffer.
bool buildDnsQuery(std::string_view name, std::string& packet);

struct DnsVerdict {
    State state;        // Ok, Nx or Fail
    std::string detail; // "A a.b.c.d", "rcode %d", "bad id", "empty answer", "WSA 0"
};

// Reads an answer datagram: the first A record of length 4 wins; records of
// other types (a CNAME chain) are skipped. A datagram shorter than the
// 12-byte header gives "fail" with "WSA 0". Never reads outside [data, data+len).
DnsVerdict parseDnsAnswer(const uint8_t* data, size_t len);

// The same reading with every A record kept, for a query of id `expectId`:
// the same states and details (the detail naming the first address), the
// addresses in network byte order, in answer order.
struct DnsAnswerSet {
    State state = State::Fail;
    std::string detail;
    std::vector<uint32_t> addrsBe;
};
DnsAnswerSet parseDnsAnswerAll(const uint8_t* data, size_t len, uint16_t expectId);

} // namespace tv
