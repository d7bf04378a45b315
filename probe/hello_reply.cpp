#include "probe/hello_reply.h"

namespace tv {
namespace {

constexpr size_t kHeaderSize = 5;
// The largest TLSCiphertext fragment of TLS 1.2 (2^14 + 2048); 1.3 allows less.
constexpr size_t kMaxFragment = 16384 + 2048;

// SHA-256("HelloRetryRequest"), the random of a HelloRetryRequest.
constexpr unsigned char kHrrRandom[32] = {
    0xCF, 0x21, 0xAD, 0x74, 0xE5, 0x9A, 0x61, 0x11, 0xBE, 0x1D, 0x8C, 0x02, 0x1E, 0x65, 0xB8, 0x91,
    0xC2, 0xA2, 0x11, 0x16, 0x7A, 0xBB, 0x8C, 0x5E, 0x07, 0x9E, 0x09, 0xE2, 0xC8, 0xA8, 0x33, 0x9C};

uint8_t at(std::string_view b, size_t i) {
    return static_cast<uint8_t>(b[i]);
}

} // namespace

ServerRecord readServerRecord(std::string_view bytes) {
    ServerRecord r;
    if (bytes.empty())
        return r;
    const uint8_t type = at(bytes, 0);
    if (type < 20 || type > 24 || (bytes.size() >= 2 && at(bytes, 1) != 3)) {
        r.kind = ServerRecordKind::Other;
        return r;
    }
    if (bytes.size() < kHeaderSize)
        return r;
    const size_t len = static_cast<size_t>(at(bytes, 3)) << 8 | at(bytes, 4);
    if (len == 0 || len > kMaxFragment) {
        r.kind = ServerRecordKind::Other;
        return r;
    }
    if (bytes.size() < kHeaderSize + len)
        return r;
    r.recordSize = kHeaderSize + len;
    const std::string_view body = bytes.substr(kHeaderSize, len);
    r.kind = ServerRecordKind::Other;
    if (type == 21 && body.size() >= 2) {
        r.kind = ServerRecordKind::Alert;
        r.alertLevel = at(body, 0);
        r.alertDescription = at(body, 1);
    } else if (type == 22 && body.size() >= 4 + 2 + 32 && at(body, 0) == 2) {
        // Handshake header (type, 24-bit length), legacy_version, random. The
        // message may go on in later records; its start is all we need.
        const std::string_view random = body.substr(6, 32);
        const bool hrr = random == std::string_view(reinterpret_cast<const char*>(kHrrRandom), 32);
        r.kind = hrr ? ServerRecordKind::HelloRetryRequest : ServerRecordKind::ServerHello;
    }
    return r;
}

std::string_view alertName(uint8_t d) {
    switch (d) {
    case 0:
        return "close_notify";
    case 10:
        return "unexpected_message";
    case 20:
        return "bad_record_mac";
    case 22:
        return "record_overflow";
    case 40:
        return "handshake_failure";
    case 42:
        return "bad_certificate";
    case 43:
        return "unsupported_certificate";
    case 44:
        return "certificate_revoked";
    case 45:
        return "certificate_expired";
    case 46:
        return "certificate_unknown";
    case 47:
        return "illegal_parameter";
    case 48:
        return "unknown_ca";
    case 49:
        return "access_denied";
    case 50:
        return "decode_error";
    case 51:
        return "decrypt_error";
    case 70:
        return "protocol_version";
    case 71:
        return "insufficient_security";
    case 80:
        return "internal_error";
    case 86:
        return "inappropriate_fallback";
    case 90:
        return "user_canceled";
    case 109:
        return "missing_extension";
    case 110:
        return "unsupported_extension";
    case 112:
        return "unrecognized_name";
    case 113:
        return "bad_certificate_status_response";
    case 115:
        return "unknown_psk_identity";
    case 116:
        return "certificate_required";
    case 120:
        return "no_application_protocol";
    case 121:
        return "ech_required";
    default:
        return {};
    }
}

} // namespace tv
