// DNS over TLS (RFC 7858) and over HTTPS (RFC 8484), the packet half: the
// query with a chosen id, the two-byte length framing of DNS over a stream,
// an incremental reader of framed messages, and an answer reader that keeps
// every A record. Pure functions over bytes; the input is hostile: nothing
// outside it is read and every buffer is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

inline constexpr size_t kDnsHeaderSize = 12;
inline constexpr size_t kDnsStreamMessageMax = 65535; // what a two-byte length can say
// Complete messages a stream reader keeps; later ones are only counted.
inline constexpr size_t kDnsStreamKeep = 8;

// buildDnsQuery's A/IN query with `id` in place of kDnsQueryId. Over HTTPS
// the id is 0 so that equal questions cache alike (RFC 8484 section 4.1).
bool buildDnsQueryWithId(std::string_view name, uint16_t id, std::string& packet);

// The message behind its two-byte big-endian length (RFC 1035 section
// 4.2.2). False, with `out` untouched, for a message over 65535 bytes.
bool frameDnsStream(std::string_view message, std::string& out);

// Splits a byte stream into framed DNS messages, fed in any pieces.
// A length below the 12-byte header is malformed: parsing stops, bytes are
// still counted. Memory: one message in progress plus kDnsStreamKeep kept.
class DnsStreamReader {
public:
    void feed(const uint8_t* data, size_t len);
    void feed(std::string_view bytes) {
        feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }

    uint64_t count() const { return count_; } // complete messages
    const std::vector<std::string>& messages() const { return kept_; }
    bool malformed() const { return malformed_; }
    // Part of a message (or of its length) has arrived.
    bool midMessage() const { return lenBytes_ > 0; }
    uint64_t bytesIn() const { return bytesIn_; }

private:
    unsigned lenBytes_ = 0; // 0, 1 or 2 bytes of the length read
    size_t need_ = 0;       // message bytes still to come once the length is known
    std::string cur_;
    bool keeping_ = false;
    std::vector<std::string> kept_;
    uint64_t count_ = 0;
    uint64_t bytesIn_ = 0;
    bool malformed_ = false;
};

} // namespace tv
