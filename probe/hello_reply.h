// What the server's first TLS record says about a hello: a ServerHello, a
// HelloRetryRequest, an alert, or something else. Only the first complete
// record is read and nothing outside `bytes` is touched, so any input is safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tv {

enum class ServerRecordKind {
    Incomplete,        // the first record is not complete yet: receive more
    ServerHello,       // a handshake record starting with a ServerHello
    HelloRetryRequest, // the same with the HelloRetryRequest random (RFC 8446, 4.1.3)
    Alert,             // an alert record; level and description below
    Other              // any other complete record, or bytes that are no TLS record
};

struct ServerRecord {
    ServerRecordKind kind = ServerRecordKind::Incomplete;
    uint8_t alertLevel = 0;       // Alert only: 1 warning, 2 fatal
    uint8_t alertDescription = 0; // Alert only
    size_t recordSize = 0;        // header and body of the first record, once complete
};

// Classifies the first record in `bytes`. Garbage is reported as Other as
// soon as the record header shows it (a content type or version no TLS server
// sends, or a length beyond the protocol's limit), without waiting for more.
ServerRecord readServerRecord(std::string_view bytes);

// "handshake_failure" and the like for a TLS alert description (RFC 8446 and
// its extensions); empty for an unknown number.
std::string_view alertName(uint8_t description);

} // namespace tv
