// libFuzzer target for the DNS-over-HTTPS answer path: decrypted bytes ->
// HTTP response -> kept body -> DNS answer. The answer must not depend on how
// the stream was split, must agree with itself, and nothing outside the input
// may be read.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "probe/dns_answers.h"

namespace {

bool same(const tv::DnsAnswerSet& a, const tv::DnsAnswerSet& b) {
    return a.state == b.state && a.detail == b.detail && a.addrsBe == b.addrsBe;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tv;
    if (size < 3)
        return 0;
    // Two bytes choose the expected id, one the piece sizes and the end.
    const uint16_t id = static_cast<uint16_t>((data[0] << 8) | data[1]);
    uint32_t rng = data[2] | 1u;
    const bool end = (data[2] & 0x80) != 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);

    DohAnswerReader whole(id), pieces(id);
    whole.feed(text);
    for (size_t off = 0; off < text.size();) {
        rng = rng * 1103515245u + 12345u;
        const size_t len = std::min<size_t>((rng >> 16) % 17, text.size() - off);
        pieces.feed(text.substr(off, len));
        off += len;
    }
    if (whole.settled() != pieces.settled() || !same(whole.answer(), pieces.answer()))
        std::abort();
    if (end) {
        whole.finish();
        pieces.finish();
        if (!same(whole.answer(), pieces.answer()))
            std::abort();
    }
    const DnsAnswerSet a = whole.answer();
    // Ok exactly when an address came; each record takes at least 16 bytes.
    if ((a.state == State::Ok) != !a.addrsBe.empty() || a.addrsBe.size() * 16 > text.size())
        std::abort();
    if (a.state == State::Ok && a.detail.rfind("A ", 0) != 0)
        std::abort();
    if (!whole.settled() && a.detail != "no answer")
        std::abort();
    return 0;
}
