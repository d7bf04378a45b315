// libFuzzer target for the job list of a scan (host|sni lines from the page,
// a file or standard input).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/text.h"
#include "bridge/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tv;
    const std::string_view list(reinterpret_cast<const char*>(data), size);
    const auto jobs = parseJobList(list);
    if (jobs.size() > kMaxJobs)
        std::abort();
    size_t lines = 1;
    for (const char c : list)
        lines += c == '\n';
    if (jobs.size() > lines)
        std::abort();
    for (const auto& j : jobs) {
        // A job never spans lines, never starts or ends in white space, and
        // is valid UTF-8 whatever came in.
        if (j.host.empty() || !isWellFormedUtf8(j.host) || !isWellFormedUtf8(j.sni))
            std::abort();
        if (j.host.find('\n') != std::string::npos || j.sni.find('\n') != std::string::npos ||
            j.host.find('|') != std::string::npos)
            std::abort();
        if (trimWhiteSpace(j.host) != j.host || trimWhiteSpace(j.sni) != j.sni)
            std::abort();
    }
    return 0;
}
