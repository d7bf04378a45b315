// libFuzzer target for the IP-information body as the command-line front
// reads and shows it: the JSON reader, the fields made printable for the
// terminal and the snapshot's copy of the body.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/text.h"
#include "cli/json.h"
#include "cli/snapshot.h"

namespace {

// Nothing a terminal would act on: no C0 control, DEL, C1 control or bidi
// control, and valid UTF-8.
void requireInert(const std::string& s) {
    if (!tv::isWellFormedUtf8(s))
        std::abort();
    for (size_t i = 0; i < s.size();) {
        size_t len = 0;
        const char32_t cp = tv::decodeUtf8At(s, i, len);
        if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) ||
            (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069))
            std::abort();
        i += len;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tv::cli;
    const std::string body(reinterpret_cast<const char*>(data), size);
    if (const auto j = parseJson(body)) {
        for (const char* key : {"status", "query", "isp", "as", "city", "country"}) {
            const std::string shown = tv::toPrintable(j->getString(key));
            requireInert(shown);
            if (tv::toPrintable(shown) != shown)
                std::abort();
        }
    }
    // What goes into a snapshot is always an object the reader takes back.
    const auto back = parseJson(snapshotIpInfo(body));
    if (!back || back->type != Json::Type::Object)
        std::abort();
    return 0;
}
