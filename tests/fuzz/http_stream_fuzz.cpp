// libFuzzer target for the HTTP response stream reader: whatever the bytes,
// the outcome must not depend on how they were split, the counters must
// agree with each other, and nothing outside the input may be read.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "probe/http_stream.h"

namespace {

struct Outcome {
    uint64_t responses, bytesIn, bodyBytes, extra;
    std::vector<int> statuses;
    int first;
    bool close, mid, truncated, cut;
    tv::HttpStreamError error;
    std::string body, type;
    bool operator==(const Outcome&) const = default;
};

Outcome outcome(const tv::HttpStreamReader& r) {
    return {r.responses(),   r.bytesIn(),        r.bodyBytes(),   r.extraBytes(), r.statuses(),
            r.firstStatus(), r.closeAnnounced(), r.midResponse(), r.truncated(),  r.bodyCut(),
            r.error(),       r.body(),           r.contentType()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tv;
    if (size < 2)
        return 0;
    // Two bytes choose the options and the piece sizes of the second reading.
    HttpStreamOptions opt;
    opt.headRequests = (data[0] & 1) != 0;
    opt.keepBodyMax = data[0] >> 1;
    uint32_t rng = data[1] | 1u;
    const char* text = reinterpret_cast<const char*>(data + 2);
    const size_t n = size - 2;

    HttpStreamReader whole(opt), pieces(opt);
    whole.feed(text, n);
    for (size_t off = 0; off < n;) {
        rng = rng * 1103515245u + 12345u;
        size_t len = (rng >> 16) % 9; // pieces of 0..8 bytes, empty ones included
        if (len > n - off)
            len = n - off;
        pieces.feed(text + off, len);
        off += len;
    }
    if (!(outcome(whole) == outcome(pieces)))
        std::abort();
    whole.finish();
    pieces.finish();
    const Outcome o = outcome(whole);
    if (!(o == outcome(pieces)))
        std::abort();
    // The shortest response ("HTTP/1.1 200\n\n") takes 14 bytes.
    if (o.bytesIn != n || o.bodyBytes + o.extra > n || o.responses * 14 > n)
        std::abort();
    if (o.statuses.size() != (o.responses < kHttpStatusKeep ? o.responses : kHttpStatusKeep))
        std::abort();
    for (int s : o.statuses)
        if (s < 200 || s > 999 || (s == 101))
            std::abort();
    if ((o.responses > 0 && o.first == 0) || o.body.size() > opt.keepBodyMax || o.mid)
        std::abort();
    if (o.type.size() > kHttpContentTypeMax)
        std::abort();
    return 0;
}
