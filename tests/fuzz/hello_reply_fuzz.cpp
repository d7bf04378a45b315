// libFuzzer target for the reader of the server's first TLS record: whatever
// the bytes, only the first record decides, a decided record stays decided
// when more bytes follow, and a record still short of its length is always
// "incomplete".
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "probe/hello_reply.h"

namespace {

bool same(const tv::ServerRecord& a, const tv::ServerRecord& b) {
    return a.kind == b.kind && a.alertLevel == b.alertLevel &&
           a.alertDescription == b.alertDescription && a.recordSize == b.recordSize;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tv;
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const ServerRecord r = readServerRecord(in);
    if (r.kind == ServerRecordKind::Incomplete) {
        if (r.recordSize != 0)
            std::abort();
        return 0;
    }
    if (r.recordSize > size)
        std::abort();
    // More bytes after a decided record change nothing.
    const std::string longer = std::string(in) + "\x16\x03\x03";
    if (!same(readServerRecord(longer), r))
        std::abort();
    if (r.recordSize == 0) {
        // Refused by its header alone: only garbage is refused so early.
        if (r.kind != ServerRecordKind::Other)
            std::abort();
        return 0;
    }
    // The record alone reads the same, and every shorter prefix of it is incomplete.
    if (!same(readServerRecord(in.substr(0, r.recordSize)), r))
        std::abort();
    for (size_t cut :
         {size_t(0), size_t(1), size_t(4), size_t(5), r.recordSize / 2, r.recordSize - 1})
        if (cut < r.recordSize &&
            readServerRecord(in.substr(0, cut)).kind != ServerRecordKind::Incomplete)
            std::abort();
    switch (r.kind) {
    case ServerRecordKind::Alert:
        if (r.recordSize < 7 || static_cast<uint8_t>(in[0]) != 21)
            std::abort();
        (void)alertName(r.alertDescription);
        break;
    case ServerRecordKind::ServerHello:
    case ServerRecordKind::HelloRetryRequest:
        if (r.recordSize < 5 + 38 || static_cast<uint8_t>(in[0]) != 22 || in[5] != 2)
            std::abort();
        break;
    default:
        break;
    }
    return 0;
}
